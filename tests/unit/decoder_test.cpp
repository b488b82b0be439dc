// The symbol decoder over whole archives on the fake: the worked stream
// AE 5D AC B3 0A, byte-exact consumption, match symbols and distances at their
// limits, distances before the window, and both rebuild schedules: streams
// coded with the trees that should be in force must decode, and streams coded
// with a rebuild one step off must not.
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "fake_platform.h"
#include "stream_builder.h"
#include "test_bytes.h"

namespace {

const std::string kFatalTail = "Press Enter key.\a\r\n";

// An empty first file fills slot 1 with nothing, so an entry after it with
// RefBack 0 starts with no dictionary.
Bytes NoDictionaryArchive(const std::vector<FileEntryFields>& files) {
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "E"});
  for (const auto& f : files) AppendFileEntry(payload, f);
  return PayloadArchive(payload);
}

FileEntryFields Entry(const std::string& name, const StreamBuilder& stream) {
  return FileEntryFields{.Name = name,
                         .FileSize = static_cast<int32_t>(stream.Output().size()),
                         .Data = stream.Data()};
}

Bytes FileData(const std::string& name) {
  auto it = Fake().Items.find(name);
  return it == Fake().Items.end() ? Bytes{} : it->second.Data;
}

TEST(Decoder, WorkedStreamConsumesExactlyItsFiveBytes) {
  // Two copies in a row: a decoder that took a sixth byte would misread the second name.
  ResetFake();
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "A.TXT", .FileSize = 8, .Data = kAbabData});
  AppendFileEntry(payload, FileEntryFields{.Name = "B.TXT", .FileSize = 8, .Data = kAbabData});
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + std::string("expanding : A.TXT ... end.\r\n"
                                                     "expanding : B.TXT ... end.\r\n"));
  EXPECT_EQ(AsText(FileData("A.TXT")), "ABABABAB");
  EXPECT_EQ(AsText(FileData("B.TXT")), "ABABABAB");
}

TEST(Decoder, WorkedStreamHasTheDocumentedBits) {
  // MainTree 011101011 (65), 011101000 (66), 110101110 (260), distance 01101010, extra 1.
  StreamBuilder b;
  b.Literal('A');
  b.Literal('B');
  b.Match(6, 2);
  EXPECT_EQ(b.Data(), kAbabData);
  EXPECT_EQ(b.BitCount(), 40u);
  EXPECT_EQ(AsText(b.Output()), "ABABABAB");
}

struct SmallCase {
  const char* What;
  int32_t FileSize;
  Bytes Data;
  Bytes Expected;
};

class FirstBitsTest : public testing::TestWithParam<SmallCase> {};

TEST_P(FirstBitsTest, DecodesAndTheNextEntryFollows) {
  const SmallCase& c = GetParam();
  ResetFake();
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "X", .FileSize = c.FileSize, .Data = c.Data});
  AppendFileEntry(payload, FileEntryFields{.Name = "N", .FileSize = 8, .Data = kAbabData});
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0) << c.What;
  EXPECT_EQ(FileData("X"), c.Expected) << c.What;
  EXPECT_EQ(AsText(FileData("N")), "ABABABAB") << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirstBitsTest,
    testing::Values(SmallCase{"0xAA then bit 0: literal 0", 1, {0xAA, 0x00}, {0x00}},
                    SmallCase{"0xAA then bit 1: literal 1", 1, {0xAA, 0x01}, {0x01}},
                    SmallCase{"0xAA then bit 1, rest ignored", 1, {0xAA, 0xFF}, {0x01}},
                    SmallCase{"target 0 reads no byte", 0, {}, {}},
                    SmallCase{"two literals cross a byte", 2, {0xAA, 0x54, 0x01}, {0x00, 0x00}}),
    [](const testing::TestParamInfo<SmallCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct MatchCase {
  const char* What;
  Bytes Lead;  // literals before the match
  int32_t Length;
  int32_t Distance;
  Bytes Expected;  // the whole decoded file
};

class MatchTest : public testing::TestWithParam<MatchCase> {};

TEST_P(MatchTest, CopiesFromTheWindow) {
  const MatchCase& c = GetParam();
  StreamBuilder b;
  b.Literals(c.Lead);
  b.Match(c.Length, c.Distance);
  ASSERT_EQ(b.Output(), c.Expected) << c.What << ": the builder's own model";
  ResetFake();
  FileEntryFields next{.Name = "N", .FileSize = 8, .Data = kAbabData};
  ASSERT_EQ(RunOnFake(NoDictionaryArchive({Entry("M", b), next})), 0) << c.What;
  EXPECT_EQ(FileData("M"), c.Expected) << c.What;
  EXPECT_EQ(AsText(FileData("N")), "ABABABAB") << c.What << ": extra bits consumed exactly";
}

Bytes Repeat(const std::string& unit, size_t times) {
  Bytes out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kAbc = {'a', 'b', 'c'};

INSTANTIATE_TEST_SUITE_P(
    Cases, MatchTest,
    testing::Values(
        MatchCase{"length 10 at distance 1 after 0x41", {0x41}, 10, 1, Bytes(11, 0x41)},
        MatchCase{"symbol 256: length 2", kAbc, 2, 3, Concat(kAbc, {'a', 'b'})},
        MatchCase{"symbol 510: length 256", kAbc, 256, 3, Concat(Repeat("abc", 86), {'a'})},
        MatchCase{"symbol 511, extra 0: length 257", {'z'}, 257, 1, Bytes(258, 'z')},
        MatchCase{"symbol 511, extra all 1: length 4352", kAbc, 4352, 3,
                  Concat(Repeat("abc", 1451), {'a', 'b'})},
        MatchCase{"distance symbol 0, extra 0: distance 1", kAbc, 2, 1, Concat(kAbc, {'c', 'c'})},
        MatchCase{"distance symbol 0, extra 31: distance 32", Repeat("0123456789abcdef", 2), 2, 32,
                  Concat(Repeat("0123456789abcdef", 2), {'0', '1'})},
        MatchCase{"distance symbol 1, extra 0: distance 33", Concat({'q'}, Bytes(32, 'r')), 2, 33,
                  Concat(Concat({'q'}, Bytes(32, 'r')), {'q', 'r'})}),
    [](const testing::TestParamInfo<MatchCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Decoder, DistanceSymbol511WithAllExtraBitsReaches16384) {
  // A prefix of all 20480 core bytes gives a dictionary of the core's last 16384 bytes.
  ResetFake();
  Bytes core = TestCore();
  Bytes dictionary(core.begin() + 4096, core.end());
  StreamBuilder b(dictionary);
  b.Match(3, 16384);
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "D",
                                           .FileSize = 20480 + 3,
                                           .RefBack = 1,
                                           .PrefixLength = 20480,
                                           .Data = b.Data()});
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0);
  Bytes expected = Concat(core, {core[4096], core[4097], core[4098]});
  EXPECT_EQ(FileData("D"), expected);
}

struct ReachCase {
  const char* What;
  bool CoreDictionary;  // first entry with RefBack 0: 15360 bytes of the core, else none
  Bytes Lead;
  int32_t Distance;
  bool Broken;
};

class ReachTest : public testing::TestWithParam<ReachCase> {};

TEST_P(ReachTest, RefusesDistancesBeforeTheWindowStart) {
  const ReachCase& c = GetParam();
  Bytes core = TestCore();
  StreamBuilder b(c.CoreDictionary ? Bytes(core.begin(), core.begin() + 15360) : Bytes{});
  b.Literals(c.Lead);
  b.Match(2, c.Distance);
  b.Literals(test_bytes::Random(40000, 5));  // enough to have flushed once, had it gone on
  ResetFake();
  Bytes file = c.CoreDictionary ? PayloadArchive([&] {
    Bytes payload;
    AppendFileEntry(payload, Entry("X", b));
    return payload;
  }())
                                : NoDictionaryArchive({Entry("X", b)});
  int exit = RunOnFake(file, "\r\n");
  std::string before = (c.CoreDictionary ? "" : "expanding : E ... end.\r\n");
  if (c.Broken) {
    EXPECT_EQ(exit, 2) << c.What;
    EXPECT_EQ(Fake().Output,
              kBannerLine + before + "expanding : X ... This file is broken.\r\n" + kFatalTail)
        << c.What;
    EXPECT_FALSE(Fake().Items.count("X")) << c.What;
    EXPECT_EQ(Fake().Deleted, std::vector<std::string>{"X"}) << c.What;
  } else {
    EXPECT_EQ(exit, 0) << c.What;
    EXPECT_EQ(FileData("X"), b.Output()) << c.What;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReachTest,
    testing::Values(ReachCase{"no dictionary, distance 1 at the start", false, {}, 1, true},
                    ReachCase{"no dictionary, one byte back of one", false, {'a'}, 1, false},
                    ReachCase{"no dictionary, two back of one", false, {'a'}, 2, true},
                    ReachCase{"dictionary of 15360, distance 15360", true, {}, 15360, false},
                    ReachCase{"dictionary of 15360, distance 15361", true, {}, 15361, true},
                    ReachCase{"dictionary and one byte, distance 15361", true, {'a'}, 15361, false},
                    ReachCase{"dictionary, distance 16384 at the start", true, {}, 16384, true}),
    [](const testing::TestParamInfo<ReachCase>& info) {
      return "Case" + std::to_string(info.index);
    });

// A symbol sequence whose statistics drift: literal runs change their letter
// every 97 symbols, and matches move through distance slots 0 to 7 every 40
// matches, so that every rebuild changes the trees.
void DriftingSymbols(StreamBuilder& b) {
  b.Literals(test_bytes::Random(300, 9));
  for (int k = 0; k < 1700; ++k) {
    int32_t slot = (k / 40) % 8;
    b.Match(2 + k % 3, slot * 32 + 1 + k % 32);
    b.Literal(static_cast<uint8_t>('a' + (b.Symbols() / 97) % 7));
  }
}

struct ScheduleCase {
  const char* What;
  RebuildSchedule Main;
  RebuildSchedule Distance;
};

class ScheduleTest : public testing::TestWithParam<ScheduleCase> {};

TEST_P(ScheduleTest, ARebuildOneStepOffReadsSomethingElse) {
  const ScheduleCase& c = GetParam();
  StreamBuilder right;
  DriftingSymbols(right);
  ASSERT_GT(right.Symbols(), 3072 + 100);
  ASSERT_GT(right.Matches(), 1536 + 100);
  ResetFake();
  ASSERT_EQ(RunOnFake(NoDictionaryArchive({Entry("S", right)})), 0);
  ASSERT_EQ(FileData("S"), right.Output()) << "the stream coded with the trees in force";

  StreamBuilder off({}, c.Main, c.Distance);
  DriftingSymbols(off);
  ASSERT_EQ(off.Output(), right.Output());
  EXPECT_NE(off.Data(), right.Data()) << c.What << ": the trees differ somewhere";
  ResetFake();
  int exit = RunOnFake(NoDictionaryArchive({Entry("S", off)}), "\r\n");
  EXPECT_TRUE(exit != 0 || FileData("S") != right.Output())
      << c.What << ": the expander decoded a stream built on another schedule";
}

bool MainEarly(int32_t n) { return MainRebuildDue(n + 1) || n == 0; }
bool MainLate(int32_t n) { return n == 0 || (n > 0 && MainRebuildDue(n - 1)); }
bool DistanceEarly(int32_t m) { return DistanceRebuildDue(m + 1); }
bool DistanceLate(int32_t m) { return m > 0 && DistanceRebuildDue(m - 1); }

INSTANTIATE_TEST_SUITE_P(
    Cases, ScheduleTest,
    testing::Values(
        ScheduleCase{"main rebuilds one symbol early", MainEarly, DistanceRebuildDue},
        ScheduleCase{"main rebuilds one symbol late", MainLate, DistanceRebuildDue},
        ScheduleCase{"main rebuilds every 256 past 2048", [](int32_t n) { return n % 256 == 0; },
                     DistanceRebuildDue},
        ScheduleCase{"main rebuilds every 1024 already from 1024",
                     [](int32_t n) { return n % 256 == 0 && (n < 1024 || n % 1024 == 0); },
                     DistanceRebuildDue},
        ScheduleCase{"main misses the rebuild at 3072",
                     [](int32_t n) { return MainRebuildDue(n) && n != 3072; }, DistanceRebuildDue},
        ScheduleCase{"main misses the rebuild at 256",
                     [](int32_t n) { return MainRebuildDue(n) && n != 256; }, DistanceRebuildDue},
        ScheduleCase{"distance rebuilds one match early", MainRebuildDue, DistanceEarly},
        ScheduleCase{"distance rebuilds one match late", MainRebuildDue, DistanceLate},
        ScheduleCase{"distance rebuilds every 64 past 1024", MainRebuildDue,
                     [](int32_t m) { return m % 64 == 0; }},
        ScheduleCase{"distance misses the rebuild at 1536", MainRebuildDue,
                     [](int32_t m) { return DistanceRebuildDue(m) && m != 1536; }},
        ScheduleCase{"distance misses the rebuild at 64", MainRebuildDue,
                     [](int32_t m) { return DistanceRebuildDue(m) && m != 64; }}),
    [](const testing::TestParamInfo<ScheduleCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Decoder, TwoEntriesStartWithFreshTreesAtAByteBoundary) {
  // The first entry ends inside a byte; the second is coded from the start trees.
  StreamBuilder first;
  DriftingSymbols(first);
  StreamBuilder second;
  second.Literals({'h', 'i'});
  ASSERT_NE(first.BitCount() % 8, 0u);
  ResetFake();
  ASSERT_EQ(RunOnFake(NoDictionaryArchive({Entry("F", first), Entry("G", second)})), 0);
  EXPECT_EQ(FileData("F"), first.Output());
  EXPECT_EQ(AsText(FileData("G")), "hi");
}

TEST(Decoder, FinalMatchPastTheTargetIsWrittenWhole) {
  StreamBuilder b;
  b.Literal('x');
  b.Match(9, 1);
  ResetFake();
  FileEntryFields entry = Entry("O", b);
  entry.FileSize = 5;  // the match starts below the target and runs past it
  ASSERT_EQ(RunOnFake(NoDictionaryArchive({entry})), 0);
  EXPECT_EQ(FileData("O"), Bytes(10, 'x'));
}

}  // namespace
