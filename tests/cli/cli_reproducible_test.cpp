// Checks that need more than one command's text: packs of the same tree
// copied twice with different times are byte-identical under
// SOURCE_DATE_EPOCH (and differ without it, so the check can fail); list
// --json is well-formed JSON; a file chosen alone by extract still comes out
// whole when it draws on an earlier file.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_harness.h"

namespace fs = std::filesystem;

namespace {

// The same files, times set from base.
void MakeTree(const fs::path& root, int64_t base) {
  const char* names[] = {"a.txt", "docs/b.md", "docs/deep/c.bin", "z.log"};
  int k = 0;
  for (const char* name : names) {
    WriteFile(root / name, test_bytes::Text(3000 + 500 * static_cast<size_t>(k), 40 + k));
    SetTimes(root / name, base + 3600 * k, 123456700);
    ++k;
  }
  fs::create_directories(root / "empty");
}

RunResult PackWithEpoch(const std::string& epoch, const fs::path& output, const fs::path& cwd) {
  return RunVarnow({"pack", "-q", output.string(), "tree"}, "", cwd,
                   epoch.empty() ? "" : "SOURCE_DATE_EPOCH=" + epoch);
}

TEST(CliReproducible, SameTreeDifferentTimesSameBytesUnderSourceDateEpoch) {
  Sandbox b;
  MakeTree(b / "one/tree", 1600000000);    // 2020
  MakeTree(b / "two/tree", 1700000000);    // 2023
  const std::string epoch = "1500000000";  // 2017: before every time of both copies
  ASSERT_EQ(PackWithEpoch(epoch, b / "one.exe", b / "one").ExitCode, 0);
  ASSERT_EQ(PackWithEpoch(epoch, b / "two.exe", b / "two").ExitCode, 0);
  EXPECT_EQ(ReadFile(b / "one.exe"), ReadFile(b / "two.exe"));

  ASSERT_EQ(PackWithEpoch("", b / "one-plain.exe", b / "one").ExitCode, 0);
  ASSERT_EQ(PackWithEpoch("", b / "two-plain.exe", b / "two").ExitCode, 0);
  EXPECT_NE(ReadFile(b / "one-plain.exe"), ReadFile(b / "two-plain.exe"));
}

// A small JSON reader that only says whether the text is one valid document.
class JsonChecker {
 public:
  explicit JsonChecker(const std::string& text) : s_(text) {}
  bool Document() {
    Space();
    if (!Value()) return false;
    Space();
    return at_ == s_.size();
  }

 private:
  void Space() {
    while (at_ < s_.size() && strchr(" \t\r\n", s_[at_]) != nullptr) ++at_;
  }
  bool Eat(char c) {
    Space();
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (s_.compare(at_, n, word) != 0) return false;
    at_ += n;
    return true;
  }
  bool String() {
    if (!Eat('"')) return false;
    while (at_ < s_.size() && s_[at_] != '"') {
      unsigned char c = static_cast<unsigned char>(s_[at_]);
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++at_ >= s_.size()) return false;
        if (s_[at_] == 'u') {
          for (int i = 0; i < 4; ++i)
            if (++at_ >= s_.size() || !isxdigit(static_cast<unsigned char>(s_[at_]))) return false;
        } else if (strchr("\"\\/bfnrt", s_[at_]) == nullptr) {
          return false;
        }
      }
      ++at_;
    }
    return Eat('"');
  }
  bool Number() {
    size_t start = at_;
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    while (at_ < s_.size() && (isdigit(static_cast<unsigned char>(s_[at_])) || s_[at_] == '.'))
      ++at_;
    return at_ > start;
  }
  bool Value() {
    Space();
    if (at_ >= s_.size()) return false;
    char c = s_[at_];
    if (c == '"') return String();
    if (c == '{') {
      ++at_;
      if (Eat('}')) return true;
      do {
        if (!String() || !Eat(':') || !Value()) return false;
      } while (Eat(','));
      return Eat('}');
    }
    if (c == '[') {
      ++at_;
      if (Eat(']')) return true;
      do {
        if (!Value()) return false;
      } while (Eat(','));
      return Eat(']');
    }
    return Literal("true") || Literal("false") || Literal("null") || Number();
  }
  const std::string& s_;
  size_t at_ = 0;
};

TEST(CliJson, ListIsOneValidDocumentForOneAndSeveralFiles) {
  Sandbox b;
  MakeTree(b / "tree", 1600000000);
  WriteText(b / "tree/quote\"mark.txt", "x");
  WriteFile(b / "garbage", test_bytes::Text(30000, 1));
  ASSERT_EQ(RunVarnow({"pack", "-q", "--target", "linux", "--comment", "tab\there \"q\"",
                       (b / "d").string(), (b / "tree").string()})
                .ExitCode,
            0);
  RunResult one = RunVarnow({"list", "--json", (b / "d").string()});
  ASSERT_EQ(one.ExitCode, 0) << one.Errors;
  EXPECT_TRUE(JsonChecker(one.Output).Document()) << one.Output;
  EXPECT_NE(one.Output.find("\"comment\": \"tab\\u0009here \\\"q\\\"\""), std::string::npos)
      << one.Output;
  EXPECT_NE(one.Output.find("\"stored_name\": \"tree\\\\quote\\\"mark.txt\", \"name\": "
                            "\"tree/quote\\\"mark.txt\""),
            std::string::npos)
      << one.Output;
  EXPECT_NE(one.Output.find("\"last_write\": \"2020-09-13T12:26:40.1234567Z\""), std::string::npos)
      << one.Output;
  RunResult several = RunVarnow(
      {"list", "--json", (b / "d").string(), (b / "garbage").string(), (b / "d").string()});
  EXPECT_EQ(several.ExitCode, 1);
  EXPECT_TRUE(JsonChecker(several.Output).Document()) << several.Output;
  EXPECT_FALSE(JsonChecker(several.Output.substr(0, several.Output.size() - 3)).Document());
}

// two.log is one.log and more: the writer draws it from one.log's slot, so
// writing it alone needs one.log decoded first.
TEST(CliExtract, ChosenFileDrawnFromAnEarlierOneComesOutWhole) {
  Sandbox b;
  Bytes shared = test_bytes::Text(20000, 9);
  WriteFile(b / "src/one.log", shared);
  shared.insert(shared.end(), {'m', 'o', 'r', 'e'});
  WriteFile(b / "src/two.log", shared);
  ASSERT_EQ(RunVarnow({"pack", "-q", "--target", "linux", (b / "d").string(), (b / "src").string()})
                .ExitCode,
            0);
  RunResult listed = RunVarnow({"list", "--json", (b / "d").string()});
  ASSERT_NE(listed.Output.find("\"name\": \"src/two.log\", \"size\": 20004"), std::string::npos);
  // Drawn from slot 1 (one.log) with one.log as its prefix.
  EXPECT_NE(listed.Output.find("\"reference_slot\": 1, \"prefix\": 20000"), std::string::npos)
      << listed.Output;
  RunResult out = RunVarnow({"extract", "-O", (b / "d").string(), "src/two.log"});
  ASSERT_EQ(out.ExitCode, 0) << out.Errors;
  EXPECT_EQ(Bytes(out.Output.begin(), out.Output.end()), shared);
  RunResult folder =
      RunVarnow({"extract", "-q", "-C", (b / "x").string(), (b / "d").string(), "*two*"});
  ASSERT_EQ(folder.ExitCode, 0) << folder.Errors;
  EXPECT_EQ(ReadFile(b / "x/src/two.log"), shared);
  EXPECT_FALSE(fs::exists(b / "x/src/one.log"));
}

}  // namespace
