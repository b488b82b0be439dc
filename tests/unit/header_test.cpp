// The archive header: how the comment is shown (character by character, bytes
// unchanged), where the block stream starts, the protection header's check
// value, and a file that ends inside the header texts.
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "expander/expander_state.h"
#include "expander/program.h"
#include "fake_platform.h"

namespace {

Bytes EmptyEntryPayload() {
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "E"});
  return payload;
}

struct CommentCase {
  const char* What;
  std::string Comment;
  bool DoubleByte;
  std::string Shown;                       // console output between banner and entry line
  std::vector<std::string> CommentWrites;  // the write pieces of the comment itself
};

class CommentTest : public testing::TestWithParam<CommentCase> {};

TEST_P(CommentTest, ShowsTheComment) {
  const CommentCase& c = GetParam();
  ResetFake();
  Fake().DoubleByte = c.DoubleByte;
  ArchiveParts layout;
  layout.Comment = c.Comment;
  layout.Payload = EmptyEntryPayload();
  ASSERT_EQ(RunOnFake(BuildDistributable(layout)), 0) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + c.Shown + "expanding : E ... end.\r\n") << c.What;
  // The comment's pieces follow the banner's.
  const auto& writes = Fake().ConsoleWrites;
  size_t first = 0;
  for (size_t shown = 0; shown < std::string(kBannerLine).size(); ++first) {
    shown += writes[first].size();
  }
  ASSERT_GE(writes.size(), first + c.CommentWrites.size());
  std::vector<std::string> pieces(writes.begin() + first,
                                  writes.begin() + first + c.CommentWrites.size());
  EXPECT_EQ(pieces, c.CommentWrites) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommentTest,
    testing::Values(
        CommentCase{"empty comment prints nothing", "", false, "", {}},
        CommentCase{"abc is one line", "abc", false, "abc\r\n", {"a", "b", "c", "\r\n"}},
        CommentCase{"CR LF inside is written as it is",
                    "one\r\ntwo",
                    false,
                    "one\r\ntwo\r\n",
                    {"o", "n", "e", "\r", "\n", "t", "w", "o", "\r\n"}},
        CommentCase{"lead and trail byte written together",
                    "a\x82\xA0z",
                    true,
                    "a\x82\xA0z\r\n",
                    {"a", "\x82\xA0", "z", "\r\n"}},
        CommentCase{"trail byte 0x5C stays with its lead",
                    "\x83\x5C\x83\x5C",
                    true,
                    "\x83\x5C\x83\x5C\r\n",
                    {"\x83\x5C", "\x83\x5C", "\r\n"}},
        CommentCase{
            "a lead byte last stands alone", "x\x82", true, "x\x82\r\n", {"x", "\x82", "\r\n"}},
        CommentCase{"single-byte code page splits every byte",
                    "\x82\xA0",
                    false,
                    "\x82\xA0\r\n",
                    {"\x82", "\xA0", "\r\n"}}),
    [](const testing::TestParamInfo<CommentCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct HeaderCase {
  const char* What;
  std::string Comment;
  std::string RunAfter;
  Bytes Protection;  // flag and check word as stored
  bool Protected;
  uint16_t CheckValue;
};

class ProtectionHeaderTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(ProtectionHeaderTest, ReadsTheHeaderUpToTheBlockStream) {
  const HeaderCase& c = GetParam();
  ResetFake();
  Bytes file = TestCore();
  AppendLittle(file, 0, 4);
  file.insert(file.end(), c.Comment.begin(), c.Comment.end());
  file.push_back(0);
  file.insert(file.end(), c.RunAfter.begin(), c.RunAfter.end());
  file.push_back(0);
  file.insert(file.end(), c.Protection.begin(), c.Protection.end());
  size_t streamStart = file.size();
  file.resize(file.size() + 10, 0);  // stands for the block stream
  uint32_t size = static_cast<uint32_t>(file.size());
  for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
  Fake().OwnFile = file;
  ResetExpanderState();
  gState.Loop.Stream.KeyPosition = 99;
  OpenArchive();
  EXPECT_EQ(SysFilePosition(gState.Loop.Stream.ArchiveFile), static_cast<int32_t>(streamStart))
      << c.What;
  EXPECT_EQ(gState.Loop.Stream.IsProtected, c.Protected) << c.What;
  if (c.Protected) {
    EXPECT_EQ(gState.Loop.Stream.CheckValue, c.CheckValue) << c.What;
    EXPECT_EQ(gState.Loop.Stream.KeyPosition, 1) << c.What;
  }
  EXPECT_EQ(std::string(gState.RunAfter), c.RunAfter) << c.What;
  EXPECT_EQ(gState.Loop.Stream.ConsumedCount, 0) << c.What;
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 20480, gState.CoreImage)) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtectionHeaderTest,
    testing::Values(
        HeaderCase{"unprotected: 7 header bytes, no check word", "", "", {0}, false, 0},
        HeaderCase{"protected: 9 header bytes", "", "", {1, 0x34, 0x12}, true, 0x1335},
        HeaderCase{"flag 0xFF combines with both bytes", "", "", {0xFF, 0x00, 0xFF}, true, 0x00FF},
        HeaderCase{"flag and word that give check value 0", "", "", {0x5A, 0x5A, 0x5A}, true, 0},
        HeaderCase{"texts shift the stream start", "hello", "run me", {0}, false, 0},
        HeaderCase{"texts and protection", "c", "r", {2, 1, 2}, true, 0x0003}),
    [](const testing::TestParamInfo<HeaderCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct TruncatedCase {
  const char* What;
  Bytes AfterSize;    // header bytes after OriginalSize, where the file ends
  std::string Shown;  // comment characters written before the failure
};

class TruncatedHeaderTest : public testing::TestWithParam<TruncatedCase> {};

TEST_P(TruncatedHeaderTest, IsAReadError) {
  const TruncatedCase& c = GetParam();
  ResetFake();
  Bytes file = TestCore();
  AppendLittle(file, 20484 + c.AfterSize.size(), 4);
  file.insert(file.end(), c.AfterSize.begin(), c.AfterSize.end());
  EXPECT_EQ(RunOnFake(file, "\r\n"), 2) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + c.Shown + "File read error.\r\nPress Enter key.\a\r\n")
      << c.What;
  EXPECT_EQ(Fake().OpenFiles, 0) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TruncatedHeaderTest,
    testing::Values(TruncatedCase{"ends before the comment", {}, ""},
                    TruncatedCase{"ends inside the comment", {'a', 'b'}, "a\r\n"},
                    TruncatedCase{"ends before the run-after", {0}, ""},
                    TruncatedCase{"ends inside the run-after", {0, 'r', 'u'}, ""},
                    TruncatedCase{"ends before the protection flag", {0, 0}, ""},
                    TruncatedCase{"ends before the check word", {0, 0, 1}, ""},
                    TruncatedCase{"ends inside the check word", {0, 0, 1, 0x34}, ""}),
    [](const testing::TestParamInfo<TruncatedCase>& info) {
      return "Case" + std::to_string(info.index);
    });

}  // namespace
