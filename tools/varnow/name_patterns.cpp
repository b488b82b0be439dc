// fnmatch without FNM_PATHNAME, so '*' crosses folders; a pattern's trailing
// '/' is dropped, as the names it is compared with have none.
#include "name_patterns.h"

#include <fnmatch.h>

namespace {

bool Glob(std::string pattern, const std::string& text) {
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  return fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
}

}  // namespace

bool ExcludedBy(const std::vector<std::string>& patterns, const std::string& name) {
  for (const std::string& p : patterns) {
    if (Glob(p, name)) return true;
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
      if (Glob(p, name.substr(slash + 1))) return true;
    }
  }
  return false;
}

bool ChosenBy(const std::vector<std::string>& patterns, const std::string& name,
              std::vector<bool>& matched) {
  bool chosen = false;
  for (size_t i = 0; i < patterns.size(); ++i) {
    bool hit = Glob(patterns[i], name);
    for (size_t slash = name.find('/'); !hit && slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
      hit = Glob(patterns[i], name.substr(0, slash));
    }
    if (hit) {
      matched[i] = true;
      chosen = true;
    }
  }
  return chosen;
}
