// The tool's own glob matcher, which Windows needs, held to the C library's
// fnmatch on Linux: a table of the forms users write, then random patterns.
#include "name_patterns.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

bool Reference(const std::string& pattern, const std::string& text) {
  return fnmatch(pattern.c_str(), text.c_str(), 0) == 0;
}

TEST(GlobMatches, AgreesWithFnmatchOnTheUsualForms) {
  const char* patterns[] = {"*.o",   "build", "src/*",  "*/tmp/*", "?.txt",        "[abc]*",
                            "[!a]*", "[^a]*", "[a-c]x", "[]]",     "[!]]",         "\\*star",
                            "a\\",   "[",     "[a",     "*[0-9]",  "[[:digit:]]*", "[[:alpha:]_]*",
                            "**",    "",      "a*b*c",  "*.[ch]",  "[z-a]"};
  const char* texts[] = {"main.o", "build", "src/a/b", "x/tmp/y", "a.txt", "ab.txt", "bcd",
                         "]",      "x",     "*star",   "a\\",     "[",     "[a",     "file9",
                         "9lives", "_x",    "",        "abc",     "a/b/c", "x.h",    "m"};
  for (const char* p : patterns)
    for (const char* t : texts)
      EXPECT_EQ(GlobMatches(p, t), Reference(p, t)) << "pattern '" << p << "', text '" << t << "'";
}

TEST(GlobMatches, AgreesWithFnmatchOnRandomPatterns) {
  std::mt19937 random(7);
  const std::string patternBytes = "ab*?[]!^-\\/.:", textBytes = "ab/.-]^!\\[";
  auto make = [&](const std::string& alphabet, size_t most) {
    std::string s(random() % (most + 1), ' ');
    for (char& c : s) c = alphabet[random() % alphabet.size()];
    return s;
  };
  for (int i = 0; i < 50000; ++i) {
    const std::string p = make(patternBytes, 7), t = make(textBytes, 6);
    ASSERT_EQ(GlobMatches(p, t), Reference(p, t)) << "pattern '" << p << "', text '" << t << "'";
  }
}

}  // namespace
