// WriteArchive end to end against the oracle reader: byte layout of the
// header, names and records, the block stream with and without a password,
// the history ring (more than 256 files, prefixes from the core image, slot
// sizes at 24576), the entry order, and every refusal.
#include <gtest/gtest.h>

#include <random>

#include "oracle_reader.h"
#include "test_bytes.h"
#include "format/crc16.h"
#include "writer/archive_layout.h"
#include "writer/archive_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

using test_bytes::Random;
using test_bytes::Text;

Bytes Core() { return Random(20480, 99); }

struct Input {
  std::string Name;
  bool IsFolder = false;
  Bytes Data;
};

std::vector<ArchiveEntry> Entries(const std::vector<Input>& inputs) {
  std::vector<ArchiveEntry> entries;
  uint32_t t = 1000;
  for (const Input& in : inputs) {
    ArchiveEntry e;
    e.Name = in.Name;
    e.IsFolder = in.IsFolder;
    e.Creation = {t, 0x01D00000};
    e.LastAccess = {t + 1, 0x01D00001};
    e.LastWrite = {t + 2, 0x01D00002};
    e.Data = in.Data;
    entries.push_back(e);
    t += 10;
  }
  return entries;
}

struct Packed {
  PackResult Result;
  Bytes File;
  OracleArchive Read;
};

Packed Pack(const Bytes& core, const std::vector<Input>& inputs, PackOptions options) {
  Packed p;
  std::vector<ArchiveEntry> entries = Entries(inputs);
  p.Result = WriteArchiveToVector(core, entries, options, p.File);
  if (p.Result.Ok) p.Read = OracleReadArchive(p.File, options.Password.value_or(""));
  return p;
}

// Every file of the input comes back under its name, with its times.
void ExpectAllBack(const Packed& p, const std::vector<Input>& inputs) {
  ASSERT_TRUE(p.Result.Ok) << p.Result.Error;
  ASSERT_TRUE(p.Read.Ok) << p.Read.Error;
  ASSERT_EQ(p.Read.Entries.size(), p.Result.Entries.size());
  EXPECT_EQ(p.Result.ArchiveBytes, p.File.size());
  for (size_t k = 0; k < p.Result.Entries.size(); ++k) {
    const EntryStats& s = p.Result.Entries[k];
    const OracleEntry& e = p.Read.Entries[k];
    const Input& in = inputs[s.InputIndex];
    EXPECT_EQ(e.Name, s.StoredName);
    ASSERT_EQ(e.IsFolder, in.IsFolder) << e.Name;
    if (in.IsFolder) continue;
    EXPECT_EQ(e.Name, in.Name);
    EXPECT_TRUE(e.Data == in.Data) << "contents of " << e.Name;
    EXPECT_EQ(e.RefBack, s.RefBack);
    EXPECT_EQ(e.PrefixLength, s.PrefixLength);
    uint64_t t = 1000 + 10 * s.InputIndex;
    EXPECT_EQ(e.Times[0], (uint64_t{0x01D00000} << 32) + t);
    EXPECT_EQ(e.Times[2], (uint64_t{0x01D00002} << 32) + t + 2);
  }
}

TEST(WriterArchive, OneSmallFileIsTheKnownDistributable) {
  Bytes core(20480, 0);  // holds neither A nor B: the first file codes all its bytes
  ArchiveEntry e;
  e.Name = "A.TXT";
  e.Creation = e.LastAccess = e.LastWrite = {0, 0x01D00000};
  const Bytes data = {'A', 'B', 'A', 'B', 'A', 'B', 'A', 'B'};
  e.Data = data;
  Bytes file;
  PackResult r = WriteArchiveToVector(core, std::span(&e, 1), PackOptions{}, file);
  ASSERT_TRUE(r.Ok) << r.Error;
  Bytes expected = core;
  for (uint8_t b : {0x31, 0x50, 0x00, 0x00, 0x00, 0x00, 0x00}) expected.push_back(b);
  for (uint8_t b : {0x41, 0x2E, 0x54, 0x58, 0x54, 0x00}) expected.push_back(b);
  for (int t = 0; t < 3; ++t)
    for (uint8_t b : {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x01}) expected.push_back(b);
  for (uint8_t b : {0x08, 0x00, 0x00, 0x00, 0x00, 0xAE, 0x5D, 0xAC, 0xB3, 0x0A, 0x5A, 0xF4})
    expected.push_back(b);
  EXPECT_EQ(file, expected);
  ASSERT_EQ(r.Entries.size(), 1u);
  EXPECT_EQ(r.Entries[0].RefBack, 0);
  EXPECT_EQ(r.Entries[0].PackedBytes, 5u);
  EXPECT_EQ(r.Entries[0].RecordBytes, 6u + 24 + 4 + 1);
}

TEST(WriterLayout, NamesAreFrontCompressed) {
  const std::string longDir(300, 'd');
  struct Row {
    std::string Previous, Name;
    Bytes Expected;
    bool Ok;
    const char* What;
  } rows[] = {
      {"", "a.txt", {'a', '.', 't', 'x', 't', 0}, true, "first name is plain"},
      {"dir\\a.txt", "dir\\b.txt", {'*', 2, 'b', '.', 't', 'x', 't', 0}, true, "shares 4 bytes"},
      {"ab", "abc", {'*', 0, 'c', 0}, true, "shares exactly 2 bytes"},
      {"ax", "ay", {'a', 'y', 0}, true, "one shared byte is not enough"},
      {"dir\\sub", "dir", {'*', 1, 0}, true, "the whole name is shared"},
      {"*one", "*two", {'*', 0xFF, 't', 'w', 'o', 0}, false, "placeholder"},
      {"*x1", "*x2", {'*', 0, '2', 0}, true, "a name with * is fine when compressed"},
      {"a", "*b", {}, false, "a plain name cannot start with *"},
      {"", "*", {}, false, "nor be the mark alone"},
  };
  rows[5] = {"*one", "*two", {}, false, "* names sharing one byte are refused"};
  for (const Row& row : rows) {
    Bytes out;
    EXPECT_EQ(AppendName(row.Previous, row.Name, out), row.Ok) << row.What;
    if (row.Ok) EXPECT_EQ(out, row.Expected) << row.What;
    if (!row.Ok) EXPECT_TRUE(out.empty()) << row.What;
  }
  // A shared beginning of more than 257 bytes is cut at 257: count byte 255.
  Bytes out;
  ASSERT_TRUE(AppendName(longDir + "\\x", longDir + "\\y", out));
  Bytes expected = {'*', 255};
  expected.insert(expected.end(), 300 - 257, 'd');
  expected.push_back('\\');
  expected.push_back('y');
  expected.push_back(0);
  EXPECT_EQ(out, expected);
}

TEST(WriterLayout, HeaderAndCheckWord) {
  Bytes out;
  const std::string password = "abc";
  AppendArchiveHeader(0x01020304, "hi", "run.exe", &password, 0x11, out);
  // CRC-16/UMTS of "abc" is 0xCADB; the word is that XOR 0x1111.
  Bytes expected = {0x04, 0x03, 0x02, 0x01, 'h', 'i', 0,    'r',  'u',
                    'n',  '.',  'e',  'x',  'e', 0,   0x11, 0xCA, 0xDB};
  expected[16] = 0xDB ^ 0x11;
  expected[17] = 0xCA ^ 0x11;
  EXPECT_EQ(out, expected);
  EXPECT_EQ(ArchiveHeaderSize("hi", "run.exe", true), out.size());
  Bytes plain;
  AppendArchiveHeader(7, "", "", nullptr, 1, plain);
  EXPECT_EQ(plain, (Bytes{7, 0, 0, 0, 0, 0, 0}));
}

TEST(WriterLayout, BlockStreamCutsChecksAndScrambles) {
  struct Row {
    size_t Payload;
    std::vector<size_t> Blocks;  // data bytes per block
  } rows[] = {
      {1, {1}}, {4095, {4095}}, {4096, {4096}}, {4097, {4096, 1}}, {12289, {4096, 4096, 4096, 1}}};
  const std::string password = "xyz";
  for (const Row& row : rows) {
    Bytes payload = Random(row.Payload, uint32_t(row.Payload));
    Bytes plain, scrambled;
    AppendBlockStream(payload, nullptr, plain);
    AppendBlockStream(payload, &password, scrambled);
    ASSERT_EQ(plain.size(), BlockStreamSize(row.Payload));
    ASSERT_EQ(scrambled.size(), plain.size());
    size_t at = 0, j = 0;
    for (size_t n : row.Blocks) {
      uint16_t crc = Crc16Of(payload.data() + j, int32_t(n));
      for (size_t i = 0; i < n; ++i, ++j) {
        ASSERT_EQ(plain[at + i], payload[j]);
        // Byte j of the whole stream takes password byte j mod 3, across blocks.
        ASSERT_EQ(scrambled[at + i], payload[j] ^ uint8_t(password[j % 3])) << "stream index " << j;
      }
      EXPECT_EQ(plain[at + n], crc >> 8) << "check high byte first";
      EXPECT_EQ(plain[at + n + 1], crc & 0xFF);
      EXPECT_EQ(scrambled[at + n], plain[at + n]) << "check bytes are never scrambled";
      EXPECT_EQ(scrambled[at + n + 1], plain[at + n + 1]);
      at += n + 2;
    }
    EXPECT_EQ(at, plain.size());
  }
}

TEST(WriterArchive, PasswordAcrossBlocksComment) {
  std::vector<Input> inputs = {{"one.bin", false, Random(9000, 5)},
                               {"two.txt", false, Text(30000, 6)}};
  PackOptions options;
  options.Password = "secret!";
  options.Comment = "Hello\r\nthere";
  options.RunAfter = "two.txt";
  Packed p = Pack(Core(), inputs, options);
  ExpectAllBack(p, inputs);
  EXPECT_TRUE(p.Read.IsProtected);
  EXPECT_EQ(p.Read.Comment, "Hello\r\nthere");
  EXPECT_EQ(p.Read.RunAfter, "two.txt");
  EXPECT_GT(p.Result.PayloadBytes, 2u * 4096) << "the payload must span several blocks";
  OracleArchive wrong = OracleReadArchive(p.File, "Secret!");
  EXPECT_FALSE(wrong.Ok);
}

TEST(WriterArchive, MoreThan256FilesUseTheRingCorrectly) {
  std::vector<Input> inputs;
  Bytes core = Core();
  for (int i = 0; i < 600; ++i) {
    Bytes data = Text(200 + size_t(i % 37) * 50, uint32_t(i % 23));
    if (i % 50 == 7)
      data.insert(data.begin(), core.begin(), core.begin() + 3000);  // starts like the core
    inputs.push_back({"dir\\f" + std::to_string(1000 + i) + ".txt", false, data});
  }
  PackOptions options;
  options.KeepOrder = true;
  Packed p = Pack(core, inputs, options);
  ExpectAllBack(p, inputs);
  int prefixes = 0;
  for (size_t k = 0; k < p.Result.Entries.size(); ++k) {
    const EntryStats& s = p.Result.Entries[k];
    EXPECT_EQ(s.InputIndex, k) << "order kept";
    int32_t back = s.RefBack == 0 ? 1 : s.RefBack;
    EXPECT_LE(back, int32_t(k) + 1) << "a slot of this run or the core image";
    if (back == int32_t(k) + 1) EXPECT_LT(k, 255u) << "the core is gone after the 255th file";
    // Those that start like the core share at least that beginning with the
    // core or with an earlier one of them.
    if (k % 50 == 7) EXPECT_GE(s.PrefixLength, 3000) << "file " << k;
    prefixes += s.PrefixLength > 0;
  }
  EXPECT_EQ(p.Result.Entries[7].RefBack, 8) << "the first file that starts like the core takes it";
  EXPECT_GT(prefixes, 300) << "identical beginnings become prefixes";
}

TEST(WriterArchive, PrefixesFromTheCoreImage) {
  Bytes core = Core();
  Bytes whole(core.begin(), core.end());
  Bytes head(core.begin(), core.begin() + 12000);
  head.insert(head.end(), {'t', 'a', 'i', 'l'});
  std::vector<Input> inputs = {{"a.txt", false, Text(3000, 1)},
                               {"b.txt", false, Text(3000, 2)},
                               {"core.bin", false, whole},
                               {"head.bin", false, head}};
  PackOptions options;
  options.KeepOrder = true;
  Packed p = Pack(core, inputs, options);
  ExpectAllBack(p, inputs);
  EXPECT_EQ(p.Result.Entries[2].RefBack, 3);
  EXPECT_EQ(p.Result.Entries[2].PrefixLength, 20480);
  EXPECT_EQ(p.Result.Entries[2].PackedBytes, 0u);
  // head.bin shares 12000 bytes with the core (RefBack 4) and with core.bin (RefBack 1).
  EXPECT_EQ(p.Result.Entries[3].PrefixLength, 12000);
}

TEST(WriterArchive, SlotsHoldAtMost24576Bytes) {
  Bytes big = Random(24577, 3);
  Bytes exact = Random(24576, 4);
  std::vector<Input> inputs = {{"exact1", false, exact},
                               {"exact2", false, exact},
                               {"big1", false, big},
                               {"big2", false, big}};
  PackOptions options;
  options.KeepOrder = true;
  Packed p = Pack(Core(), inputs, options);
  ExpectAllBack(p, inputs);
  const auto& e = p.Result.Entries;
  EXPECT_EQ(e[1].RefBack, 1);
  EXPECT_EQ(e[1].PrefixLength, 24576) << "a file of 24576 bytes fills its slot";
  EXPECT_EQ(e[1].PackedBytes, 0u);
  EXPECT_EQ(e[3].RefBack, 1);
  EXPECT_EQ(e[3].PrefixLength, 24576) << "the 24577th byte is not in the slot";
  EXPECT_GT(e[3].PackedBytes, 0u);
  EXPECT_LE(e[3].PackedBytes, 3u);
}

TEST(WriterArchive, DefaultOrderGroupsByExtensionAndDropsFullFolders) {
  std::vector<Input> inputs = {{"src\\b.c", false, Text(100, 1)},
                               {"doc\\a.txt", false, Text(100, 2)},
                               {"src\\a.c", false, Text(100, 3)},
                               {"src", true, {}},
                               {"empty", true, {}},
                               {"doc\\z.C", false, Text(100, 4)},
                               {"x", false, {}}};
  Packed p = Pack(Core(), inputs, PackOptions{});
  ExpectAllBack(p, inputs);
  std::vector<std::string> names;
  for (const auto& s : p.Result.Entries) names.push_back(s.StoredName);
  EXPECT_EQ(names, (std::vector<std::string>{"empty\\.", "x", "doc\\z.C", "src\\a.c", "src\\b.c",
                                             "doc\\a.txt"}));
  EXPECT_EQ(p.Result.Entries[1].FileSize, 0u);
  EXPECT_EQ(p.Result.Entries[1].RefBack, 0) << "an empty file needs no reference";
}

TEST(WriterArchive, KeptOrderKeepsEveryFolder) {
  std::vector<Input> inputs = {
      {"a", true, {}}, {"a\\f.txt", false, Text(50, 1)}, {"a\\b\\", true, {}}};
  PackOptions options;
  options.KeepOrder = true;
  Packed p = Pack(Core(), inputs, options);
  ExpectAllBack(p, inputs);
  ASSERT_EQ(p.Result.Entries.size(), 3u);
  EXPECT_EQ(p.Result.Entries[0].StoredName, "a\\.");
  EXPECT_EQ(p.Result.Entries[2].StoredName, "a\\b\\.");
}

TEST(WriterArchive, EveryLevelAndThreadCountGivesTheSameFiles) {
  std::vector<Input> inputs;
  for (int i = 0; i < 40; ++i)
    inputs.push_back({"f" + std::to_string(i) + (i % 3 ? ".h" : ".cpp"), false,
                      Text(500 + size_t(i) * 700, uint32_t(i % 5))});
  for (int level = 1; level <= 9; ++level) {
    for (int threads : {1, 2}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", threads " + std::to_string(threads));
      PackOptions options;
      options.Level = level;
      options.Threads = threads;
      Packed p = Pack(Core(), inputs, options);
      ExpectAllBack(p, inputs);
    }
  }
}

TEST(WriterArchive, ProgressReachesTheTotal) {
  std::vector<Input> inputs = {{"a", false, Text(300000, 1)}, {"b", false, Text(1000, 2)}};
  PackOptions options;
  uint64_t lastDone = 0, total = 0, calls = 0, lastPacked = 0, lastFinished = 0;
  options.Progress = [&](uint64_t done, uint64_t all, uint64_t packed, uint64_t finished) {
    EXPECT_GE(done, lastDone);
    EXPECT_LE(finished, done);
    lastDone = done;
    total = all;
    lastPacked = packed;
    lastFinished = finished;
    ++calls;
  };
  Packed p = Pack(Core(), inputs, options);
  ASSERT_TRUE(p.Result.Ok);
  EXPECT_EQ(total, 301000u);
  EXPECT_EQ(lastDone, total);
  EXPECT_EQ(lastFinished, total);
  // Both files finished: the packed count is their coded data, a part of the file.
  EXPECT_GT(lastPacked, 0u);
  EXPECT_LT(lastPacked, p.File.size());
  EXPECT_GE(calls, 2u);
}

TEST(WriterArchive, RefusesWhatTheFormatCannotHold) {
  const Bytes small = {1, 2, 3};
  struct Row {
    std::vector<Input> Inputs;
    size_t CoreSize;
    PackOptions Options;
    const char* Contains;
  };
  auto opts = [](auto f) {
    PackOptions o;
    f(o);
    return o;
  };
  std::vector<Row> rows = {
      {{{"a", false, small}}, 20479, {}, "core image"},
      {{}, 20480, {}, "at least one entry"},
      {{{"a", false, small}}, 20480, opts([](PackOptions& o) { o.Level = 0; }), "level"},
      {{{"a", false, small}}, 20480, opts([](PackOptions& o) { o.Level = 10; }), "level"},
      {{{"a", false, small}},
       20480,
       opts([](PackOptions& o) { o.Password = ""; }),
       "password is empty"},
      {{{"a", false, small}},
       20480,
       opts([](PackOptions& o) { o.Password = "ab\n"; }),
       "line break"},
      {{{"a", false, small}},
       20480,
       opts([](PackOptions& o) { o.Comment = std::string("x\0y", 3); }),
       "comment"},
      {{{"a", false, small}},
       20480,
       opts([](PackOptions& o) { o.RunAfter = std::string("\0", 1); }),
       "run-after"},
      {{{"", false, small}}, 20480, {}, "empty name"},
      {{{std::string("a\0b", 3), false, small}}, 20480, {}, "zero byte"},
      {{{"dir\\.", false, small}}, 20480, {}, "folder"},
      {{{"*star", false, small}}, 20480, {}, "starts with *"},
      {{{"b", false, small}, {"*star", false, small}},
       20480,
       opts([](PackOptions& o) { o.KeepOrder = true; }),
       "starts with *"},
  };
  for (const Row& row : rows) {
    Bytes core(row.CoreSize, 0);
    std::vector<ArchiveEntry> entries = Entries(row.Inputs);
    bool written = false;
    PackResult r = WriteArchive(core, entries, row.Options,
                                [&](const uint8_t*, size_t) { return written = true; });
    EXPECT_FALSE(r.Ok) << row.Contains;
    EXPECT_NE(r.Error.find(row.Contains), std::string::npos) << r.Error;
    EXPECT_FALSE(written) << "nothing is written before a refusal: " << row.Contains;
  }
}

TEST(WriterArchive, RefusesAFileOf2GiB) {
  // The size alone decides; the bytes are never read.
  static const uint8_t byte = 0;
  ArchiveEntry e;
  e.Name = "huge";
  e.Data = std::span<const uint8_t>(&byte, size_t{1} << 31);
  Bytes core(20480, 0), out;
  PackResult r = WriteArchiveToVector(core, std::span(&e, 1), PackOptions{}, out);
  EXPECT_FALSE(r.Ok);
  EXPECT_NE(r.Error.find("2^31"), std::string::npos) << r.Error;
  EXPECT_EQ(r.ErrorEntry, std::optional<size_t>(0));
  EXPECT_TRUE(out.empty());
}

TEST(WriterArchive, AFailingSinkIsAnError) {
  Bytes core(20480, 0);
  const std::vector<Input> inputs = {{"a", false, {1, 2, 3}}};
  std::vector<ArchiveEntry> entries = Entries(inputs);  // they point into inputs
  PackResult r =
      WriteArchive(core, entries, PackOptions{}, [](const uint8_t*, size_t) { return false; });
  EXPECT_FALSE(r.Ok);
  EXPECT_FALSE(r.Error.empty());
}

}  // namespace
