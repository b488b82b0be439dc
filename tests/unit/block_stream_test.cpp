// Crc16 and the checked block stream: catalogue values, lazy block reads and
// the exact moment EndOfArchive is set, requests past the end, damaged data or
// check bytes in block k, the password running on across blocks, and failing
// reads of a block.
#include "container/block_stream.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "archive_builder.h"
#include "expander/expander_state.h"
#include "expander/program.h"
#include "fake_platform.h"
#include "format/crc16.h"
#include "test_bytes.h"

namespace {

const std::string kFatalTail = "Press Enter key.\a\r\n";

uint16_t Feed(const Bytes& data) {
  uint16_t crc = 0;
  for (uint8_t b : data) crc = Crc16Update(crc, b);
  return crc;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct CrcCase {
  const char* What;
  Bytes Message;  // fed as it is, from a zero register
  uint16_t Register;
};

class CrcTest : public testing::TestWithParam<CrcCase> {};

TEST_P(CrcTest, LeavesTheRegister) {
  EXPECT_EQ(Feed(GetParam().Message), GetParam().Register) << GetParam().What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CrcTest,
    testing::Values(
        CrcCase{"digits 1 to 9 and two zeros", Text(std::string("123456789\0\0", 11)), 0xFEE8},
        CrcCase{"abc and two zeros", Text(std::string("abc\0\0", 5)), 0xCADB},
        CrcCase{"nothing", {}, 0}, CrcCase{"zero bytes only", {0, 0, 0}, 0},
        // Register << 1 | bit with 0x18005 folded in at bit 16.
        CrcCase{"one 0x80 byte leaves it in bit 7", {0x80}, 0x0080},
        CrcCase{"0x01 then 0x00 folds the polynomial in", {0x01, 0x00}, 0x0100},
        CrcCase{"0x01 0x00 0x80 folds once, at the last bit", {0x01, 0x00, 0x80}, 0x8085}),
    [](const testing::TestParamInfo<CrcCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Crc16, DataFollowedByItsCheckBytesLeavesZero) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    Bytes data = test_bytes::Random(seed * 217 % 4096 + 1, seed);
    uint16_t check = Crc16Of(data.data(), static_cast<int32_t>(data.size()));
    Bytes block = data;
    block.push_back(static_cast<uint8_t>(check >> 8));
    block.push_back(static_cast<uint8_t>(check));
    EXPECT_EQ(Feed(block), 0) << "seed " << seed;
    block.back() ^= 1;
    EXPECT_NE(Feed(block), 0) << "seed " << seed;
  }
}

// Opens an archive around payload on the fake without running the entry loop.
void OpenPayload(const Bytes& payload, const std::string& password = "") {
  ResetFake();
  ArchiveParts layout;
  layout.Payload = payload;
  layout.Protected = !password.empty();
  layout.Password = password;
  Fake().OwnFile = BuildDistributable(layout);
  ResetExpanderState();
  OpenArchive();
  if (!password.empty()) {
    std::copy(password.begin(), password.end(), gState.Loop.Stream.Password);
    gState.Loop.Stream.Password[password.size()] = 0;
    gState.Loop.Stream.PasswordLength = static_cast<int32_t>(password.size());
  }
}

struct EndCase {
  const char* What;
  size_t PayloadSize;
  std::string Password;
};

class EndOfArchiveTest : public testing::TestWithParam<EndCase> {};

TEST_P(EndOfArchiveTest, IsSetWhenTheLastByteIsHandedOut) {
  const EndCase& c = GetParam();
  Bytes payload = test_bytes::Random(c.PayloadSize, 7);
  OpenPayload(payload, c.Password);
  for (size_t i = 0; i < payload.size(); ++i) {
    // Blocks are read lazily: the file is read only for the first byte of a block.
    int readsBefore = Fake().Calls[kOpRead];
    ASSERT_FALSE(gState.Loop.Stream.EndOfArchive) << c.What << " before byte " << i;
    ASSERT_EQ(NextArchiveByte(gState.Loop.Stream), payload[i]) << c.What << " byte " << i;
    ASSERT_EQ(Fake().Calls[kOpRead] > readsBefore, i % 4096 == 0) << c.What << " byte " << i;
  }
  EXPECT_TRUE(gState.Loop.Stream.EndOfArchive) << c.What;
  EXPECT_EQ(gState.Loop.Stream.ConsumedCount, static_cast<int32_t>(payload.size())) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndOfArchiveTest,
    testing::Values(EndCase{"one byte", 1, ""}, EndCase{"4095 bytes", 4095, ""},
                    EndCase{"exactly one full block", 4096, ""},
                    EndCase{"a full block and a 3-byte block", 4097, ""},
                    EndCase{"two full blocks", 8192, ""},
                    EndCase{"protected, full block", 4096, "key"},
                    EndCase{"protected, length 3 across blocks", 12289, "abc"}),
    [](const testing::TestParamInfo<EndCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(BlockStream, LastBlockOfAFullPayloadIsStoredAsAFullBlock) {
  ArchiveParts layout;
  layout.Payload = test_bytes::Random(4096, 1);
  EXPECT_EQ(BuildDistributable(layout).size(), 20487u + 4098u);
  layout.Payload = test_bytes::Random(4097, 1);
  EXPECT_EQ(BuildDistributable(layout).size(), 20487u + 4098u + 3u);
}

TEST(BlockStream, PasswordRunsOnAcrossTheBlockBoundary) {
  // Stream index 4096 uses character (4096 mod 3) + 1 = 2; check bytes are taken as stored.
  Bytes payload = test_bytes::Random(4100, 3);
  OpenPayload(payload, "xyz");
  const Bytes& file = Fake().OwnFile;
  size_t second = 20489 + 4098;
  EXPECT_EQ(file[second], payload[4096] ^ 'y');
  EXPECT_EQ(file[20489 + 4095], payload[4095] ^ 'x');
  for (size_t i = 0; i < 4096; ++i) ASSERT_EQ(NextArchiveByte(gState.Loop.Stream), payload[i]);
  EXPECT_EQ(gState.Loop.Stream.KeyPosition, 2);
  EXPECT_EQ(NextArchiveByte(gState.Loop.Stream), payload[4096]);
  EXPECT_EQ(gState.Loop.Stream.KeyPosition, 3);  // 4100 mod 3 = 2: character 3 is next
}

// A payload of 64-byte empty file entries: 64 per block, so that the entries
// expanded before a failure show exactly which blocks were handed out.
std::string EntryName(int i) {
  std::ostringstream name;
  name << "entry-" << std::setw(5) << std::setfill('0') << i << std::string(23, 'x');
  return name.str();  // 34 bytes: with its zero, 28 header bytes and RefBack, 64
}

Bytes EntryBlocks(int blocks) {
  Bytes payload;
  for (int i = 0; i < blocks * 64; ++i)
    AppendFileEntry(payload, FileEntryFields{.Name = EntryName(i)});
  EXPECT_EQ(payload.size(), static_cast<size_t>(blocks) * 4096);
  return payload;
}

std::string ExpandedLines(int entries) {
  std::string out;
  for (int i = 0; i < entries; ++i) out += "expanding : " + EntryName(i) + " ... end.\r\n";
  return out;
}

struct DamageCase {
  const char* What;
  int Block;      // 1-based block that is damaged
  size_t Offset;  // byte within the stored block (4096 and 4097: the check bytes)
  std::string Password;
};

class DamagedBlockTest : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBlockTest, IsBrokenWhenThatBlockIsRead) {
  const DamageCase& c = GetParam();
  ResetFake();
  ArchiveParts layout;
  layout.Payload = EntryBlocks(4);
  layout.Protected = !c.Password.empty();
  layout.Password = c.Password;
  Bytes file = BuildDistributable(layout);
  size_t start = layout.Protected ? 20489 : 20487;
  file[start + (c.Block - 1) * 4098 + c.Offset] ^= 0x10;
  std::string input = c.Password.empty() ? "\r\n" : c.Password + "\r\n\r\n";
  EXPECT_EQ(RunOnFake(file, input), 2) << c.What;
  std::string prompt = c.Password.empty() ? "" : "Password : ";
  EXPECT_EQ(Fake().Output, kBannerLine + prompt + ExpandedLines(64 * (c.Block - 1)) +
                               "This file is broken.\r\n" + kFatalTail)
      << c.What;
  EXPECT_EQ(Fake().Items.size(), static_cast<size_t>(64 * (c.Block - 1))) << c.What;
  EXPECT_TRUE(Fake().Deleted.empty()) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedBlockTest,
    testing::Values(DamageCase{"first data byte of block 1", 1, 0, ""},
                    DamageCase{"last data byte of block 2", 2, 4095, ""},
                    DamageCase{"middle of block 3", 3, 2000, ""},
                    DamageCase{"check high byte of block 2", 2, 4096, ""},
                    DamageCase{"check low byte of the last block", 4, 4097, ""},
                    DamageCase{"protected, data of block 3", 3, 17, "abc"},
                    DamageCase{"protected, check byte of block 2", 2, 4097, "abc"}),
    [](const testing::TestParamInfo<DamageCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(BlockStream, ProtectedBlocksExpandWithAThreeCharacterPassword) {
  // Unscrambling that restarted per block, or touched a check byte, would fail a check.
  ResetFake();
  ArchiveParts layout;
  layout.Payload = EntryBlocks(3);
  layout.Protected = true;
  layout.Password = "abc";
  EXPECT_EQ(RunOnFake(BuildDistributable(layout), "abc\r\n"), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + std::string("Password : ") + ExpandedLines(192));
}

struct PastEndCase {
  const char* What;
  size_t NameBytes;  // an unterminated name: the entry wants one byte more
};

class PastEndTest : public testing::TestWithParam<PastEndCase> {};

TEST_P(PastEndTest, IsAReadError) {
  const PastEndCase& c = GetParam();
  ResetFake();
  Bytes payload(c.NameBytes, 'n');
  EXPECT_EQ(RunOnFake(PayloadArchive(payload), "\r\n"), 2) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + std::string("File read error.\r\n") + kFatalTail)
      << c.What;
  EXPECT_TRUE(Fake().Items.empty()) << c.What;
}

INSTANTIATE_TEST_SUITE_P(Cases, PastEndTest,
                         testing::Values(PastEndCase{"empty stream", 0},
                                         PastEndCase{"after a 1-byte block", 1},
                                         PastEndCase{"after a full last block", 4096},
                                         PastEndCase{"after a short last block", 4097},
                                         PastEndCase{"after two full blocks", 8192}),
                         [](const testing::TestParamInfo<PastEndCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

// Reads made before the first block: the own file up to the block stream.
int HeaderReads() {
  OpenPayload(EntryBlocks(2));
  return Fake().Calls[kOpRead];
}

struct ReadFaultCase {
  const char* What;
  int BlockRead;  // 1-based block read that is faulted
  FaultKind Kind;
  int Exit;
  int EntriesDone;
};

class BlockReadFaultTest : public testing::TestWithParam<ReadFaultCase> {};

TEST_P(BlockReadFaultTest, EndsAsAReadErrorOrContinues) {
  const ReadFaultCase& c = GetParam();
  int headerReads = HeaderReads();
  ResetFake();
  InjectFault(kOpRead, headerReads + c.BlockRead, c.Kind);
  EXPECT_EQ(RunOnFake(PayloadArchive(EntryBlocks(2)), "\r\n"), c.Exit) << c.What;
  std::string tail = c.Exit == 0 ? "" : "File read error.\r\n" + kFatalTail;
  EXPECT_EQ(Fake().Output, kBannerLine + ExpandedLines(c.EntriesDone) + tail) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockReadFaultTest,
    testing::Values(ReadFaultCase{"first block read fails", 1, kFaultFail, 2, 0},
                    ReadFaultCase{"second block read fails", 2, kFaultFail, 2, 64},
                    ReadFaultCase{"a short block read is continued", 1, kFaultShort, 0, 128}),
    [](const testing::TestParamInfo<ReadFaultCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(BlockStream, FailingPositionQueryIsAReadError) {
  ResetFake();
  InjectFault(kOpPosition, 1);
  EXPECT_EQ(RunOnFake(PayloadArchive(EntryBlocks(1)), "\r\n"), 2);
  // The position is asked at the block's last byte, entry 63's RefBack.
  EXPECT_EQ(Fake().Output, kBannerLine + ExpandedLines(63) + "File read error.\r\n" + kFatalTail);
}

}  // namespace
