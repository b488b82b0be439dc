// The writer's fences around the header fields that signing rewrites. Coded
// data must decode to the same bytes whatever those dictionary bytes hold:
// no match copies from them and no prefix from the core reaches them. Each
// test first shows that without the fences the same input does draw on those
// bytes, so that it could fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "format/signed_core.h"
#include "oracle_reader.h"
#include "test_bytes.h"
#include "windowed_encode.h"
#include "writer/archive_writer.h"
#include "writer/file_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Wordy(size_t n, uint32_t seed) {
  return test_bytes::Words(n, seed, {"alpha ", "beta ", "gamma ", "delta\n", "(x)", "; "}, 3, 'a',
                           26);
}

// Bytes copied from dictionary offsets in [start, end) by the decoded
// symbols: a match of length L at distance D from output position q copies
// window bytes dictionaryLength + q - D and on.
int32_t CopiesFrom(const OracleOutcome& d, int32_t dictionaryLength, int32_t start, int32_t end) {
  int32_t copied = 0;
  int64_t q = 0;
  for (const DecodedSymbol& s : d.Symbols) {
    if (s.Length > 1) {
      const int64_t from = dictionaryLength + q - s.Distance;
      for (int64_t k = from; k < from + s.Length; ++k) copied += k >= start && k < end;
    }
    q += s.Length;
  }
  return copied;
}

struct FenceCase {
  const char* What;
  std::vector<SourceFence> Fences;
};

// Data that repeats its dictionary in long stretches, fences in the middle,
// at the start and at the end of the dictionary. Each fence and 32 bytes on
// either side of it hold random bytes found nowhere else, so that the data's
// first copy of them can only come from the dictionary: unfenced, a match
// does copy the fenced bytes.
TEST(WriterFences, NoMatchCopiesAFencedByte) {
  const std::vector<FenceCase> cases = {
      {"two fences as in a PE32 core", {{216, 220}, {280, 288}}},
      {"one fence at the dictionary's start", {{0, 8}}},
      {"one fence at its end", {{16380, 16384}}},
      {"a wide fence", {{5000, 9000}}},
  };
  for (const FenceCase& c : cases) {
    Bytes dictionary = Wordy(16384, 1);
    uint32_t noise = 0x9E3779B9u;
    for (const SourceFence& f : c.Fences)
      for (int32_t k = std::max(f.Start - 32, 0); k < std::min(f.End + 32, 16384); ++k) {
        noise = noise * 1664525u + 1013904223u;
        dictionary[size_t(k)] = uint8_t(noise >> 24);
      }
    Bytes data;
    for (int round = 0; round < 3; ++round) {
      data.insert(data.end(), dictionary.begin(), dictionary.end());
      const Bytes other = Wordy(3000, 10 + round);
      data.insert(data.end(), other.begin(), other.end());
    }
    Bytes altered = dictionary;
    for (const SourceFence& f : c.Fences)
      for (int32_t k = f.Start; k < f.End; ++k) altered[size_t(k)] ^= 0xA5;
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
      SCOPED_TRACE(std::string(c.What) + ", level " + std::to_string(level));
      // Unfenced, the data draws on those bytes, and they matter.
      const Bytes open = EncodeFileData(dictionary, data, level);
      const OracleOutcome o = OracleDecodeData(open, dictionary, int32_t(data.size()));
      ASSERT_TRUE(o.Ok && o.Bytes == data);
      int32_t openCopies = 0;
      for (const SourceFence& f : c.Fences) openCopies += CopiesFrom(o, 16384, f.Start, f.End);
      EXPECT_GT(openCopies, 0) << "the test data never reaches the fenced bytes";
      const OracleOutcome openAltered = OracleDecodeData(open, altered, int32_t(data.size()));
      EXPECT_FALSE(openAltered.Ok && openAltered.Bytes == data);

      const Bytes fenced = EncodeFileData(dictionary, data, level, {}, c.Fences);
      const OracleOutcome a = OracleDecodeData(fenced, dictionary, int32_t(data.size()));
      const OracleOutcome b = OracleDecodeData(fenced, altered, int32_t(data.size()));
      ASSERT_TRUE(a.Ok) << a.Error;
      ASSERT_TRUE(b.Ok) << b.Error;
      EXPECT_TRUE(a.Bytes == data);
      EXPECT_TRUE(b.Bytes == data) << "the fenced bytes changed the decoded data";
      for (const SourceFence& f : c.Fences) EXPECT_EQ(CopiesFrom(a, 16384, f.Start, f.End), 0);
      // The fences cost at most what the fenced bytes would as literals.
      size_t width = 0;
      for (const SourceFence& f : c.Fences) width += size_t(f.End - f.Start);
      EXPECT_LE(fenced.size(), open.size() + 64 + width * 9 / 8);
    }
  }
}

// A dictionary longer than the window's 16384 bytes: only its last part is
// used, and the fences move with it.
TEST(WriterFences, FencesFollowTheDictionarysLastBytes) {
  const Bytes dictionary = Wordy(20000, 2);
  const Bytes data(dictionary.begin() + 3616, dictionary.end());  // the window's dictionary again
  const std::vector<SourceFence> fences = {{3616 + 100, 3616 + 140}, {19990, 20000}};
  Bytes altered(dictionary.begin() + 3616, dictionary.end());
  for (int32_t k = 100; k < 140; ++k) altered[size_t(k)] ^= 0x5A;
  for (int32_t k = 16374; k < 16384; ++k) altered[size_t(k)] ^= 0x5A;
  for (int level : {1, 6, 9}) {
    SCOPED_TRACE("level " + std::to_string(level));
    const Bytes fenced = EncodeFileData(dictionary, data, level, {}, fences);
    const OracleOutcome d = OracleDecodeData(fenced, altered, int32_t(data.size()));
    ASSERT_TRUE(d.Ok) << d.Error;
    EXPECT_TRUE(d.Bytes == data);
  }
}

// The finders' shared tables, their run and fence calls in reach.
struct TablesProbe : FinderTables {
  TablesProbe() : FinderTables(1, kStampLimit) {}
  using FinderTables::SlideRun;
  using FinderTables::SourceRoom;
  using FinderTables::StartRun;
};

// The fences are buffer positions: when the buffer slides they move back
// with it, a fence cut by the slide keeps its kept part, and one wholly
// dropped is gone; a new run starts with none.
TEST(WriterFences, FencesMoveWithTheSlidingBuffer) {
  struct RoomCase {
    int32_t Dropped;   // 0: no slide
    int32_t Position;  // buffer position after the slide
    int32_t Limit;
    int32_t Room;
  };
  const std::vector<SourceFence> fences = {{100, 104}, {32760, 32780}, {40000, 40008}};
  const std::vector<RoomCase> cases = {
      {0, 96, 10, 4},        {0, 100, 10, 0},    {0, 104, 10, 10},      {0, 32750, 50, 10},
      {0, 39990, 50, 10},    {0, 40008, 50, 50}, {32768, 100, 10, 10},  {32768, 0, 5, 0},
      {32768, 11, 5, 0},     {32768, 12, 5, 5},  {32768, 7222, 50, 10}, {32768, 7232, 50, 0},
      {32768, 7240, 50, 50}, {65536, 0, 20, 20}, {65536, 7232, 50, 50},
  };
  const Bytes buffer(100000, 0);
  for (const RoomCase& c : cases) {
    SCOPED_TRACE("dropped " + std::to_string(c.Dropped) + ", position " +
                 std::to_string(c.Position));
    TablesProbe tables;
    tables.StartRun(buffer.data(), int32_t(buffer.size()), 200000);
    tables.SetFences(fences);
    if (c.Dropped > 0) tables.SlideRun(buffer.data(), c.Dropped, int32_t(buffer.size()));
    EXPECT_EQ(tables.SourceRoom(c.Position, c.Limit), c.Room);
  }
  TablesProbe tables;
  tables.StartRun(buffer.data(), int32_t(buffer.size()), int32_t(buffer.size()));
  tables.SetFences(fences);
  tables.StartRun(buffer.data(), int32_t(buffer.size()), int32_t(buffer.size()));
  EXPECT_EQ(tables.SourceRoom(100, 10), 10) << "a new run kept the last run's fences";
}

// A file coded through a small window that moves many times: the fences
// still keep every match off the fenced dictionary bytes, and once the
// dictionary has slid out they cut nothing, so the output is the same as
// from one buffer of the whole data. With 81920 bytes of window after the
// 16384 of dictionary, each move leaves the position being parsed just past
// 16384, so the positions where the fences were are in reach; after the
// dictionary's copy come random blocks of 16384 bytes, each twice, so that
// the repeat of what lies there can only copy from there.
TEST(WriterFences, FencesHoldInAMovingWindow) {
  const Bytes dictionary = Wordy(16384, 3);
  const std::vector<SourceFence> fences = {{216, 220}, {280, 288}, {2000, 12000}};
  Bytes data = dictionary;
  for (uint32_t block = 0; block < 6; ++block) {
    const Bytes noise = test_bytes::Random(16384, 40 + block);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), noise.begin(), noise.end());
  }
  Bytes altered = dictionary;
  for (const SourceFence& f : fences)
    for (int32_t k = f.Start; k < f.End; ++k) altered[size_t(k)] ^= 0xA5;
  EncoderContext small(65536 + 16384);
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    const WindowedCoding w = EncodeInWindows(small, dictionary, data, level, fences);
    ASSERT_TRUE(w.Ok);
    EXPECT_EQ(w.Taken, data.size());
    EXPECT_GT(w.Reads, 1) << "the window never moved";
    EXPECT_TRUE(w.Coded == EncodeFileData(dictionary, data, level, {}, fences))
        << "the moving window coded differently";
    const OracleOutcome d = OracleDecodeData(w.Coded, altered, int32_t(data.size()));
    ASSERT_TRUE(d.Ok) << d.Error;
    EXPECT_TRUE(d.Bytes == data) << "the fenced bytes changed the decoded data";
    for (const SourceFence& f : fences) EXPECT_EQ(CopiesFrom(d, 16384, f.Start, f.End), 0);
  }
}

// A Windows-like core: "MZ", the PE headers at 0x80 (PE32 or PE32+), and
// text elsewhere, so that files draw on it.
Bytes PeCore(bool plus) {
  Bytes core = Wordy(20480, plus ? 21 : 20);
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) core[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  core[0] = 'M';
  core[1] = 'Z';
  put(0x3C, 0x80, 4);
  put(0x80, 0x4550, 4);
  put(0x80 + 20, plus ? 240 : 224, 2);
  put(0x80 + 24, plus ? 0x20B : 0x10B, 2);
  put(0x80 + 24 + (plus ? 112 : 96) - 4, 16, 4);
  return core;
}

// Signing's changes to the core, without the appended table (the oracle
// reader wants the recorded size).
void Sign(Bytes& file) {
  const SignedFields f = FindSignedFields(file.data());
  ASSERT_NE(f.CheckSum, 0);
  for (int32_t k = 0; k < kCheckSumBytes; ++k) file[size_t(f.CheckSum + k)] ^= 0x3C;
  for (int32_t k = 0; k < kCertificateEntryBytes; ++k) file[size_t(f.CertificateEntry + k)] ^= 0xC3;
}

// The core packed as a file at -9 (its whole image a prefix candidate and
// its dictionary), then text files that draw on it: after signing's
// changes to the core's header every entry still decodes exactly.
TEST(WriterFences, ArchivesDecodeTheSameAfterSigning) {
  for (bool plus : {false, true}) {
    const Bytes core = PeCore(plus);
    const Bytes text = Wordy(30000, 5);
    Bytes headerCopy(core.begin(), core.begin() + 1024);
    const std::vector<Bytes> files = {core, headerCopy, text};
    for (int level : {1, 6, 9}) {
      SCOPED_TRACE(std::string(plus ? "PE32+" : "PE32") + ", level " + std::to_string(level));
      std::vector<ArchiveEntry> entries;
      for (size_t i = 0; i < files.size(); ++i) {
        ArchiveEntry e;
        e.Name = "f" + std::to_string(i);
        e.Data = files[i];
        entries.push_back(e);
      }
      PackOptions options;
      options.Level = level;
      options.KeepOrder = true;
      Bytes file;
      PackResult r = WriteArchiveToVector(core, entries, options, file);
      ASSERT_TRUE(r.Ok) << r.Error;
      const SignedFields f = FindSignedFields(core.data());
      // The i-th file (from 0) names the core with RefBack i + 1.
      for (size_t i = 0; i < r.Entries.size(); ++i)
        if (r.Entries[i].RefBack == int32_t(i) + 1)
          EXPECT_LE(r.Entries[i].PrefixLength, f.CheckSum) << i << ": a prefix over the fields";
      Sign(file);
      OracleArchive read = OracleReadArchive(file);
      ASSERT_TRUE(read.Ok) << read.Error;
      ASSERT_EQ(read.Entries.size(), files.size());
      for (size_t i = 0; i < files.size(); ++i)
        EXPECT_TRUE(read.Entries[i].Data == files[i]) << "entry " << i << " decodes differently";
    }
  }
}

// The same archive made with a core whose headers are not found (no "MZ")
// does take those bytes, and decodes differently after the same change:
// what the fences prevent is real.
TEST(WriterFences, WithoutFencesSigningWouldChangeTheFiles) {
  Bytes core = PeCore(false);
  const SignedFields f = FindSignedFields(core.data());
  core[0] = 'N';  // no longer a PE image: no fences
  ArchiveEntry e;
  e.Name = "core";
  e.Data = core;
  PackOptions options;
  options.Level = 9;
  Bytes file;
  PackResult r = WriteArchiveToVector(core, std::span(&e, 1), options, file);
  ASSERT_TRUE(r.Ok) << r.Error;
  EXPECT_GT(r.Entries[0].PrefixLength, f.CertificateEntry);
  for (int32_t k = 0; k < kCheckSumBytes; ++k) file[size_t(f.CheckSum + k)] ^= 0x3C;
  OracleArchive read = OracleReadArchive(file);
  ASSERT_TRUE(read.Ok) << read.Error;
  EXPECT_FALSE(read.Entries[0].Data == core);
}

}  // namespace
