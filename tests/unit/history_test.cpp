// The reference history: the dictionary arithmetic, the core image in slot 0,
// prefixes and dictionaries taken from earlier files (full, over-full and
// prefix-only slots, skipped files), and the ring wrapping past 256 files.
#include "entries/history.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "archive_builder.h"
#include "fake_platform.h"
#include "stream_builder.h"
#include "test_bytes.h"

namespace {

struct DictionaryCase {
  int32_t SlotLength, PrefixLength;
  int32_t Continuation, PrefixTail, Length, Start;
};

class ChooseDictionaryTest : public testing::TestWithParam<DictionaryCase> {};

TEST_P(ChooseDictionaryTest, GivesTheWorkedValues) {
  const DictionaryCase& c = GetParam();
  DictionaryChoice d = ChooseDictionary(c.SlotLength, c.PrefixLength);
  EXPECT_EQ(d.ContinuationLength, c.Continuation) << c.SlotLength << "/" << c.PrefixLength;
  EXPECT_EQ(d.PrefixTailLength, c.PrefixTail) << c.SlotLength << "/" << c.PrefixLength;
  EXPECT_EQ(d.DictionaryLength, c.Length) << c.SlotLength << "/" << c.PrefixLength;
  EXPECT_EQ(d.DictionaryStart, c.Start) << c.SlotLength << "/" << c.PrefixLength;
}

INSTANTIATE_TEST_SUITE_P(Cases, ChooseDictionaryTest,
                         testing::Values(DictionaryCase{20480, 0, 15360, 0, 15360, 0},
                                         DictionaryCase{100, 0, 100, 0, 100, 0},
                                         DictionaryCase{5000, 3000, 2000, 3000, 5000, 0},
                                         DictionaryCase{24576, 1000, 15360, 1000, 16360, 0},
                                         DictionaryCase{24576, 20000, 4576, 11808, 16384, 8192},
                                         DictionaryCase{24576, 24576, 0, 16384, 16384, 8192},
                                         DictionaryCase{20480, 20480, 0, 16384, 16384, 4096},
                                         DictionaryCase{0, 0, 0, 0, 0, 0}));

Bytes FileData(const std::string& name) {
  auto it = Fake().Items.find(name);
  return it == Fake().Items.end() ? Bytes{} : it->second.Data;
}

Bytes Slice(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + from, b.begin() + to);
}

// A file entry whose decoded part comes from b, after a prefix of prefixLength.
FileEntryFields Coded(const std::string& name, const StreamBuilder& b, uint8_t refBack = 0,
                      uint16_t prefixLength = 0) {
  return FileEntryFields{.Name = name,
                         .FileSize = static_cast<int32_t>(b.Output().size()) + prefixLength,
                         .RefBack = refBack,
                         .PrefixLength = prefixLength,
                         .Data = b.Data()};
}

FileEntryFields Literal(const std::string& name, const Bytes& data) {
  StreamBuilder b;
  b.Literals(data);
  return Coded(name, b);
}

Bytes Archive(const std::vector<FileEntryFields>& files, const Bytes& core = TestCore()) {
  ArchiveParts layout;
  layout.Core = core;
  for (const auto& f : files) AppendFileEntry(layout.Payload, f);
  return BuildDistributable(layout);
}

TEST(History, FirstFileDecodesAgainstTheFirst15360CoreBytes) {
  Bytes core = test_bytes::Random(20480, 31);
  StreamBuilder b(Slice(core, 0, 15360));
  b.Match(100, 15360);  // the core's first 100 bytes
  b.Match(50, 101);     // the dictionary's last byte, then the start of this file
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive({Coded("f", b)}, core)), 0);
  Bytes expected = Slice(core, 0, 100);
  expected.push_back(core[15359]);
  expected.insert(expected.end(), core.begin(), core.begin() + 49);
  EXPECT_EQ(b.Output(), expected);
  EXPECT_EQ(FileData("f"), expected);
}

struct CorePrefixCase {
  const char* What;
  int Earlier;  // files before, each of one byte
  uint16_t Prefix;
  size_t Decoded;  // literal bytes after the prefix
};

class CorePrefixTest : public testing::TestWithParam<CorePrefixCase> {};

TEST_P(CorePrefixTest, CopiesThePrefixFromSlotZero) {
  const CorePrefixCase& c = GetParam();
  Bytes core = test_bytes::Random(20480, 32);
  std::vector<FileEntryFields> files;
  for (int i = 0; i < c.Earlier; ++i) files.push_back(Literal("e" + std::to_string(i), {'e'}));
  StreamBuilder b;
  b.Literals(test_bytes::Random(c.Decoded, 33));
  files.push_back(Coded("p", b, static_cast<uint8_t>(c.Earlier + 1), c.Prefix));
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive(files, core)), 0) << c.What;
  Bytes expected = Slice(core, 0, c.Prefix);
  Bytes decoded = b.Output();
  expected.insert(expected.end(), decoded.begin(), decoded.end());
  EXPECT_EQ(FileData("p"), expected) << c.What;
}

INSTANTIATE_TEST_SUITE_P(Cases, CorePrefixTest,
                         testing::Values(CorePrefixCase{"whole core, nothing decoded", 0, 20480, 0},
                                         CorePrefixCase{"whole core and more", 0, 20480, 10},
                                         CorePrefixCase{"third file, RefBack 3", 2, 1000, 5},
                                         CorePrefixCase{"255th file, RefBack 255", 254, 20480, 1}),
                         [](const testing::TestParamInfo<CorePrefixCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

struct SlotCase {
  const char* What;
  size_t FirstSize;  // the reference file's size
  uint16_t Prefix;   // the second file's prefix from it
  bool Broken;
};

class SlotCaptureTest : public testing::TestWithParam<SlotCase> {};

TEST_P(SlotCaptureTest, KeepsTheFirst24576Bytes) {
  const SlotCase& c = GetParam();
  Bytes first = test_bytes::Random(c.FirstSize, 34);
  // The second file: the prefix, then a match from the dictionary's first byte.
  DictionaryChoice d =
      ChooseDictionary(static_cast<int32_t>(std::min<size_t>(c.FirstSize, 24576)), c.Prefix);
  Bytes slot = Slice(first, 0, std::min<size_t>(c.FirstSize, 24576));
  StreamBuilder b(
      c.Broken ? Bytes{} : Slice(slot, d.DictionaryStart, d.DictionaryStart + d.DictionaryLength));
  if (!c.Broken) b.Match(20, d.DictionaryLength);
  ResetFake();
  int exit = RunOnFake(Archive({Literal("a", first), Coded("b", b, 1, c.Prefix)}), "\r\n");
  if (c.Broken) {
    EXPECT_EQ(exit, 2) << c.What;
    EXPECT_FALSE(Fake().Items.count("b")) << c.What;
    return;
  }
  ASSERT_EQ(exit, 0) << c.What;
  EXPECT_EQ(FileData("a"), first) << c.What;
  Bytes expected = Slice(first, 0, c.Prefix);
  Bytes decoded = b.Output();
  expected.insert(expected.end(), decoded.begin(), decoded.end());
  EXPECT_EQ(FileData("b"), expected) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SlotCaptureTest,
    testing::Values(SlotCase{"24576 bytes: the whole file as prefix", 24576, 24576, false},
                    SlotCase{"24577 bytes: the slot stops at 24576", 24577, 24576, false},
                    SlotCase{"24577 bytes: a prefix of 24577 is refused", 24577, 24577, true},
                    SlotCase{"prefix 20000 of a full slot: dictionary from 8192", 24576, 20000,
                             false},
                    SlotCase{"no prefix: dictionary of the first 15360", 30000, 0, false},
                    SlotCase{"small file as dictionary", 100, 0, false}),
    [](const testing::TestParamInfo<SlotCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(History, PrefixOnlyFileFillsItsSlotWithTheCopy) {
  // b is all prefix of a; c takes all of b as its prefix.
  Bytes first = test_bytes::Random(3000, 35);
  FileEntryFields b{.Name = "b", .FileSize = 2000, .RefBack = 1, .PrefixLength = 2000};
  FileEntryFields c{.Name = "c", .FileSize = 2000, .RefBack = 1, .PrefixLength = 2000};
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive({Literal("a", first), b, c})), 0);
  EXPECT_EQ(FileData("b"), Slice(first, 0, 2000));
  EXPECT_EQ(FileData("c"), Slice(first, 0, 2000));
}

TEST(History, SkippedFileStillFeedsLaterEntries) {
  Bytes first = test_bytes::Random(30000, 36);
  // Prefix 500: the dictionary is the slot's first 500 + 15360 bytes.
  StreamBuilder b(Slice(first, 0, 500 + 15360));
  b.Match(10, 15360);  // first[500..510)
  ResetFake();
  Fake().Items["a"].Data = {'o', 'l', 'd'};
  ASSERT_EQ(RunOnFake(Archive({Literal("a", first), Coded("b", b, 1, 500)}), "n\r\n"), 0);
  EXPECT_EQ(AsText(FileData("a")), "old");
  Bytes expected = Slice(first, 0, 510);
  EXPECT_EQ(FileData("b"), expected);
}

std::string Numbered(int i) {
  std::ostringstream name;
  name << "f" << std::setw(3) << std::setfill('0') << i;
  return name.str();
}

TEST(History, TheRingWrapsAndReplacesTheCoreImage) {
  // 255 files fill slots 1 to 255; file 256 takes slot 0; RefBack 1 after it names it.
  std::vector<FileEntryFields> files;
  for (int i = 1; i <= 255; ++i) files.push_back(Literal(Numbered(i), {static_cast<uint8_t>(i)}));
  Bytes last = test_bytes::Random(50, 37);
  files.push_back(Literal(Numbered(256), last));
  files.push_back(
      FileEntryFields{.Name = "after1", .FileSize = 50, .RefBack = 1, .PrefixLength = 50});
  files.push_back(
      FileEntryFields{.Name = "after2", .FileSize = 1, .RefBack = 3, .PrefixLength = 1});
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive(files)), 0);
  EXPECT_EQ(FileData("after1"), last);  // not the core's first 50 bytes
  // after2 is in slot 2; three back is slot 255, the 255th file.
  EXPECT_EQ(FileData("after2"), Bytes{255});
  EXPECT_EQ(FileData(Numbered(256)), last);
}

TEST(History, CoreImageCanNoLongerBeNamedAfterTheWrap) {
  // After 256 files every slot is filled, so RefBack 255 from slot 1 names slot 2.
  std::vector<FileEntryFields> files;
  for (int i = 1; i <= 257; ++i) files.push_back(Literal(Numbered(i), {static_cast<uint8_t>(i)}));
  files.push_back(
      FileEntryFields{.Name = "back", .FileSize = 1, .RefBack = 255, .PrefixLength = 1});
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive(files)), 0);
  // back is the 258th file, in slot 2; 255 back is slot 3, the third file.
  EXPECT_EQ(FileData("back"), Bytes{3});
}

}  // namespace
