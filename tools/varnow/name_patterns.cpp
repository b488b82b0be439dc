// Shell globs as fnmatch without flags takes them, byte by byte and the
// same on every system: '*' crosses folders, '?' is any byte, [...] a set
// with ranges, classes and '!' or '^', a backslash quotes. A pattern's
// trailing '/' is dropped, as the names it is compared with have none.
#include "name_patterns.h"

#include <cctype>
#include <cstring>

namespace {

bool InClass(const std::string& name, unsigned char c) {
  if (name == "alpha") return std::isalpha(c);
  if (name == "digit") return std::isdigit(c);
  if (name == "alnum") return std::isalnum(c);
  if (name == "upper") return std::isupper(c);
  if (name == "lower") return std::islower(c);
  if (name == "space") return std::isspace(c);
  if (name == "blank") return c == ' ' || c == '\t';
  if (name == "punct") return std::ispunct(c);
  if (name == "xdigit") return std::isxdigit(c);
  if (name == "cntrl") return std::iscntrl(c);
  if (name == "print") return std::isprint(c);
  if (name == "graph") return std::isgraph(c);
  return false;
}

// The set that starts at p (just after its '['): 1 when c is in it, 0 when
// not, -1 when it has no closing ']' (the '[' is then an ordinary byte).
// *next: just after the set.
int MatchSet(const char* p, unsigned char c, const char** next) {
  const bool negate = *p == '!' || *p == '^';
  if (negate) ++p;
  bool hit = false;
  for (bool first = true; *p != 0 && (first || *p != ']'); first = false) {
    if (p[0] == '[' && p[1] == ':') {
      if (const char* end = std::strstr(p + 2, ":]")) {
        hit = hit || InClass(std::string(p + 2, end), c);
        p = end + 2;
        continue;
      }
    }
    unsigned char low = static_cast<unsigned char>(*p);
    if (low == '\\' && p[1] != 0) low = static_cast<unsigned char>(*++p);
    ++p;
    if (p[0] == '-' && p[1] != 0 && p[1] != ']') {
      ++p;  // at the range's end
      if (*p == '\\' && p[1] != 0) ++p;
      const unsigned char high = static_cast<unsigned char>(*p++);
      hit = hit || (low <= c && c <= high);
    } else {
      hit = hit || c == low;
    }
  }
  if (*p != ']') return -1;
  *next = p + 1;
  return hit != negate ? 1 : 0;
}

bool Match(const char* p, const char* t) {
  const char* starPattern = nullptr;  // just after the last '*', to retry from
  const char* starText = nullptr;
  while (*t != 0) {
    if (*p == '*') {
      while (*p == '*') ++p;
      starPattern = p;
      starText = t;
      continue;
    }
    bool ok = false;
    const char* next = p + 1;
    if (*p == '?') {
      ok = true;
    } else if (*p == '[') {
      int in = MatchSet(p + 1, static_cast<unsigned char>(*t), &next);
      ok = in < 0 ? *t == '[' : in == 1;
      if (in < 0) next = p + 1;
    } else if (*p == '\\') {
      // A backslash at the very end quotes nothing and matches nothing.
      ok = p[1] != 0 && p[1] == *t;
      next = p + 2;
    } else {
      ok = *p != 0 && *p == *t;
    }
    if (ok) {
      p = next;
      ++t;
    } else if (starPattern != nullptr) {
      p = starPattern;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == 0;
}

bool Glob(std::string pattern, const std::string& text) {
  while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
  return GlobMatches(pattern, text);
}

}  // namespace

bool GlobMatches(const std::string& pattern, const std::string& text) {
  return Match(pattern.c_str(), text.c_str());
}

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
