// Shell globs over entry names written with '/' between folders, as pack's
// --exclude and extract's NAME arguments use them. '*' and '?' also match
// '/', as in tar's exclusions and unzip's selections.
#pragma once

#include <string>
#include <vector>

// One glob against one text, as fnmatch(pattern, text, 0) in the C locale.
bool GlobMatches(const std::string& pattern, const std::string& text);

// pack --exclude: the whole name or any tail of it that starts after a '/'
// ("*.o" and "build" both leave out "src/build").
bool ExcludedBy(const std::vector<std::string>& patterns, const std::string& name);

// extract NAME: the whole name, or a folder above it ('docs' and 'do*'
// both choose "docs/a.txt"). Sets matched[i] for each pattern i that chose it.
bool ChosenBy(const std::vector<std::string>& patterns, const std::string& name,
              std::vector<bool>& matched);
