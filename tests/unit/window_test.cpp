// The output window: the sizes of the writes a file gets with and without a
// preset dictionary, distances at the slide, the dictionary's last byte, a
// skipped file's identical slide, and failed or short writes of the output.
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "codec/output_window.h"
#include "expander/expander_state.h"
#include "expander/files_folders.h"
#include "fake_platform.h"
#include "stream_builder.h"
#include "test_bytes.h"

namespace {

const std::string kFatalTail = "Press Enter key.\a\r\n";

std::vector<int32_t> WritesTo(const std::string& name) {
  std::vector<int32_t> sizes;
  for (const auto& w : Fake().Writes) {
    if (w.Path == name) sizes.push_back(w.Count);
  }
  return sizes;
}

Bytes FileData(const std::string& name) {
  auto it = Fake().Items.find(name);
  return it == Fake().Items.end() ? Bytes{} : it->second.Data;
}

enum DictionaryKind { kNone, kCore15360, kCore16384 };

// The archive of one file W decoded with the dictionary kind, its stream from b.
Bytes WindowArchive(DictionaryKind kind, const StreamBuilder& b) {
  Bytes payload;
  FileEntryFields w{
      .Name = "W", .FileSize = static_cast<int32_t>(b.Output().size()), .Data = b.Data()};
  if (kind == kNone) AppendFileEntry(payload, FileEntryFields{.Name = "E"});
  if (kind == kCore16384) {
    w.RefBack = 1;
    w.PrefixLength = 20480;
    w.FileSize += 20480;
  }
  AppendFileEntry(payload, w);
  return PayloadArchive(payload);
}

Bytes Dictionary(DictionaryKind kind) {
  Bytes core = TestCore();
  if (kind == kCore15360) return Bytes(core.begin(), core.begin() + 15360);
  if (kind == kCore16384) return Bytes(core.begin() + 4096, core.end());
  return {};
}

struct WriteSizeCase {
  const char* What;
  DictionaryKind Kind;
  size_t Literals;
  std::vector<int32_t> Writes;
};

class WriteSizeTest : public testing::TestWithParam<WriteSizeCase> {};

TEST_P(WriteSizeTest, WritesInTheRightPieces) {
  const WriteSizeCase& c = GetParam();
  StreamBuilder b(Dictionary(c.Kind));
  b.Literals(test_bytes::Random(c.Literals, 11));
  ResetFake();
  ASSERT_EQ(RunOnFake(WindowArchive(c.Kind, b)), 0) << c.What;
  EXPECT_EQ(WritesTo("W"), c.Writes) << c.What;
  Bytes expected = b.Output();
  if (c.Kind == kCore16384) {
    Bytes core = TestCore();
    expected.insert(expected.begin(), core.begin(), core.end());
  }
  EXPECT_EQ(FileData("W"), expected) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteSizeTest,
    testing::Values(
        WriteSizeCase{"no dictionary, 49152 bytes: one write", kNone, 49152, {49152}},
        WriteSizeCase{"no dictionary, 49153 bytes", kNone, 49153, {32768, 16385}},
        WriteSizeCase{"no dictionary, 81921 bytes", kNone, 81921, {32768, 32768, 16385}},
        WriteSizeCase{"no dictionary, one byte", kNone, 1, {1}},
        WriteSizeCase{"dictionary 15360, 33792 bytes fill the buffer", kCore15360, 33792, {33792}},
        WriteSizeCase{"dictionary 15360, 33793 bytes", kCore15360, 33793, {17408, 16385}},
        WriteSizeCase{
            "dictionary 16384: prefix, then 16384", kCore16384, 40000, {20480, 16384, 23616}},
        WriteSizeCase{"dictionary 16384, nothing decoded: the final write is empty",
                      kCore16384,
                      0,
                      {20480, 0}}),
    [](const testing::TestParamInfo<WriteSizeCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct DistanceCase {
  const char* What;
  DictionaryKind Kind;
  size_t Literals;  // before the match
  int32_t Length;
  int32_t Distance;
};

class SlideDistanceTest : public testing::TestWithParam<DistanceCase> {};

TEST_P(SlideDistanceTest, CopiesTheRightBytes) {
  const DistanceCase& c = GetParam();
  StreamBuilder b(Dictionary(c.Kind));
  b.Literals(test_bytes::Random(c.Literals, 12));
  b.Match(c.Length, c.Distance);
  b.Literals(test_bytes::Random(100, 13));
  ResetFake();
  ASSERT_EQ(RunOnFake(WindowArchive(c.Kind, b)), 0) << c.What;
  Bytes got = FileData("W");
  if (c.Kind == kCore16384) got.erase(got.begin(), got.begin() + 20480);
  EXPECT_EQ(got, b.Output()) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SlideDistanceTest,
    testing::Values(DistanceCase{"16384 back when the buffer is full: the oldest byte kept", kNone,
                                 49152, 4, 16384},
                    DistanceCase{"16384 back right after the flush", kNone, 49153, 4, 16384},
                    DistanceCase{"a match across the flush at distance 1", kNone, 49150, 10, 1},
                    DistanceCase{"a long match across the flush", kNone, 45000, 4352, 16000},
                    DistanceCase{"16384 back after two flushes", kNone, 81921, 3, 16384},
                    DistanceCase{"dictionary 16384 across its first flush", kCore16384, 32767, 5,
                                 16384}),
    [](const testing::TestParamInfo<DistanceCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Window, DistanceOneAtTheStartRepeatsTheDictionarysLastByte) {
  Bytes core = TestCore();
  StreamBuilder b(Dictionary(kCore15360));
  b.Match(5, 1);
  ResetFake();
  ASSERT_EQ(RunOnFake(WindowArchive(kCore15360, b)), 0);
  EXPECT_EQ(FileData("W"), Bytes(5, core[15359]));
}

// Runs n bytes through the window directly, skipped or written to a fake file.
struct WindowSnapshot {
  uint32_t Position, Base;
  Bytes Buffer;
};

WindowSnapshot PutThrough(const Bytes& bytes, bool skipping) {
  ResetFake();
  ResetExpanderState();
  Fake().OwnFile = TestCore();
  PrepareHistory(gState.Loop.History, gState.CoreImage);
  if (!skipping) gState.OutputFile = SysCreateFile("W");
  static const uint8_t kNoDictionary[1] = {};
  OutputWindow& w = gState.Loop.Window;
  w.Sink = skipping ? nullptr : WriteOutputFile;
  StartWindow(w, kNoDictionary, 0, gState.Loop.History.HistoryRing[1].SlotData, 0, kSlotCapacity);
  for (uint8_t b : bytes) PutByte(w, b);
  CaptureHistory(w);
  return {w.WindowPosition, w.WindowBase, Bytes(w.WindowBuffer, w.WindowBuffer + kWindowSize)};
}

TEST(Window, SkippedFileSlidesIdenticallyAndWritesNothing) {
  Bytes data = test_bytes::Random(100000, 14);
  WindowSnapshot written = PutThrough(data, false);
  EXPECT_EQ(WritesTo("W"), (std::vector<int32_t>{32768, 32768}));
  WindowSnapshot skipped = PutThrough(data, true);
  EXPECT_TRUE(Fake().Writes.empty());
  EXPECT_EQ(skipped.Position, written.Position);
  EXPECT_EQ(skipped.Base, written.Base);
  EXPECT_EQ(skipped.Base, 65536u);
  EXPECT_EQ(skipped.Buffer, written.Buffer);
  // The buffer holds stream positions from the base on.
  EXPECT_TRUE(std::equal(data.begin() + 65536, data.end(), skipped.Buffer.begin()));
  // The history slot took the first 24576 bytes either way.
  const auto& slot = gState.Loop.History.HistoryRing[1].SlotData;
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 24576, slot));
}

TEST(Window, SkippedFileInAnArchiveLeavesTheOldFileAndFeedsTheNext) {
  // A skipped file of 100000 bytes with matches across its slides; the next
  // entry takes its first 24576 bytes as a prefix.
  StreamBuilder b;
  b.Literals(test_bytes::Random(50000, 15));
  for (int i = 0; i < 20; ++i) {
    b.Match(2000, 16384);
    b.Literals(test_bytes::Random(500, 16 + i));
  }
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "W",
                                           .FileSize = static_cast<int32_t>(b.Output().size()),
                                           .Data = b.Data()});
  AppendFileEntry(
      payload,
      FileEntryFields{.Name = "V", .FileSize = 24576, .RefBack = 1, .PrefixLength = 24576});
  ResetFake();
  Fake().Items["W"].Data = {'o', 'l', 'd'};
  ASSERT_EQ(RunOnFake(PayloadArchive(payload), "n\r\n"), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + std::string("W already exists. Overwrite? (Y/N) : \a"
                                                     "skipping : W\r\nexpanding : V ... end.\r\n"));
  EXPECT_EQ(AsText(FileData("W")), "old");
  EXPECT_TRUE(WritesTo("W").empty());
  Bytes out = b.Output();
  EXPECT_EQ(FileData("V"), Bytes(out.begin(), out.begin() + 24576));
}

struct WriteFaultCase {
  const char* What;
  FakeOp Op;
  int Nth;
  FaultKind Kind;
  int64_t DiskLimit;  // 0: the fake's default
  bool Deleted;       // a partly written file was removed
};

class WriteFaultTest : public testing::TestWithParam<WriteFaultCase> {};

TEST_P(WriteFaultTest, IsAWriteErrorAndThePartialFileGoes) {
  const WriteFaultCase& c = GetParam();
  // F: a 20480-byte prefix from the core, then 60000 decoded bytes (two flushes' worth).
  StreamBuilder b(Dictionary(kCore16384));
  b.Literals(test_bytes::Random(60000, 17));
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "F",
                                           .FileSize = 20480 + 60000,
                                           .RefBack = 1,
                                           .PrefixLength = 20480,
                                           .Data = b.Data()});
  ResetFake();
  if (c.DiskLimit > 0) Fake().DiskLimit = c.DiskLimit;
  InjectFault(c.Op, c.Nth, c.Kind);
  EXPECT_EQ(RunOnFake(PayloadArchive(payload), "\r\n"), 2) << c.What;
  EXPECT_EQ(Fake().Output,
            kBannerLine + std::string("expanding : F ... File write error.\r\n") + kFatalTail)
      << c.What;
  EXPECT_FALSE(Fake().Items.count("F")) << c.What;
  EXPECT_EQ(Fake().Deleted, c.Deleted ? std::vector<std::string>{"F"} : std::vector<std::string>{})
      << c.What;
  EXPECT_EQ(Fake().OpenFiles, 0) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFaultTest,
    testing::Values(
        WriteFaultCase{"output file cannot be created", kOpCreate, 1, kFaultFail, 0, false},
        WriteFaultCase{"prefix write fails", kOpWrite, 1, kFaultFail, 0, true},
        WriteFaultCase{"prefix write is short", kOpWrite, 1, kFaultShort, 0, true},
        WriteFaultCase{"first flush fails", kOpWrite, 2, kFaultFail, 0, true},
        WriteFaultCase{"first flush is short", kOpWrite, 2, kFaultShort, 0, true},
        WriteFaultCase{"final flush fails", kOpWrite, 3, kFaultFail, 0, true},
        WriteFaultCase{"final flush is short", kOpWrite, 3, kFaultShort, 0, true},
        WriteFaultCase{"disk full during the flushes", kOpWrite, 0, kFaultNone, 30000, true},
        WriteFaultCase{"file times cannot be set", kOpSetTimes, 1, kFaultFail, 0, true},
        // Close 1 is the output file: a failed close still deletes it.
        WriteFaultCase{"close of the output fails", kOpClose, 1, kFaultFail, 0, true}),
    [](const testing::TestParamInfo<WriteFaultCase>& info) {
      return "Case" + std::to_string(info.index);
    });

}  // namespace
