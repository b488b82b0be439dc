// What `varnow pack` stores: the walk over the sources (folders recursed,
// symbolic links stored as what they point to, dangling links and loops
// skipped with a warning), and the stored names: relative, backslash
// separated, in the target's code page, refused when the core could not
// expand them under the same name.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "cli_status.h"
#include "platform/platform.h"
#include "text_codec.h"

struct SourceItem {
  std::string DiskPath;  // where to read it
  std::string Relative;  // UTF-8 name below the archive's top, '/' separated
  bool IsFolder = false;
  uint64_t Size = 0;
  FileTime Creation{0, 0};  // birth time where the file system reports it, else last write
  FileTime LastAccess{0, 0};
  FileTime LastWrite{0, 0};
  uint64_t Device = 0;  // with Identity: the same disk item
  uint64_t Identity = 0;
  bool IdentityKnown = true;  // else Identified finds the pair
};

using Warn = std::function<void(const std::string&)>;

// Each source is stored under its own last name; a source ending in '/' or
// "/." (or "." itself) contributes its contents without its own name. Items
// whose relative name matches an exclude pattern are left out, a folder with
// everything below it.
Status GatherSources(const std::vector<std::string>& sources,
                     const std::vector<std::string>& excludes, std::vector<SourceItem>& items,
                     const Warn& warn);
// Paths from a --files-from list: each stored under the path as written,
// relative to the current folder. Refused, naming every such path, when
// one is absolute or climbs out with "..".
Status GatherListed(const std::vector<std::string>& paths, const std::vector<std::string>& excludes,
                    std::vector<SourceItem>& items, const Warn& warn);
// Whether the item's Device and Identity are known, finding them if need be.
bool Identified(SourceItem& item);
// Drops later items that are the same disk item under the same name (a
// listed folder and a file listed inside it).
void DropRepeats(std::vector<SourceItem>& items);
// The paths in a list file ("-": standard input), split at line ends or,
// with nul, at NUL bytes; empty ones are skipped.
Status ReadPathList(const std::string& file, bool nul, std::vector<std::string>& paths);

enum class TargetKind { kWindows, kLinux };

// The stored name of a relative UTF-8 path, or a refusal naming the file
// (diskPath) it came from.
Status StoredName(const std::string& relative, const std::string& diskPath, const CodePage& page,
                  TargetKind target, std::string& stored);
