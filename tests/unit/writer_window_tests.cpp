// The writer's bounded memory must not change a byte: a file coded through a
// small moving window codes as it does in one buffer; the block stream made
// a piece at a time equals the one made at once; an archive whose files are
// read through a reader, on any number of threads, with later files' coded
// data held in spills, equals the archive made from data in memory; and a
// reader that fails part way ends the pack with its reason and its entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "test_bytes.h"
#include "windowed_encode.h"
#include "writer/archive_layout.h"
#include "writer/archive_writer.h"
#include "writer/file_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

using test_bytes::Random;
using test_bytes::Text;

constexpr int32_t kSmallWindow = 65536;  // the least a context takes

struct WindowJob {
  const char* What;
  Bytes Dictionary;
  Bytes Data;
};

std::vector<WindowJob> WindowJobs() {
  Bytes t = Text(400000, 11);
  Bytes r = Random(150000, 12);
  Bytes repeats = r;
  // Repeats at the longest distance, straddling where the window moves.
  for (size_t i = 40000; i + 3000 < repeats.size(); i += 33000)
    std::memcpy(repeats.data() + i, repeats.data() + i - 16384, 3000);
  return {
      {"text, no dictionary", {}, t},
      {"text after a dictionary", Bytes(t.begin(), t.begin() + 16384),
       Bytes(t.begin() + 9000, t.end())},
      {"random with repeats 16384 back", {}, repeats},
      {"zeros", {}, Bytes(300000, 0)},
      {"just over the small window", {}, Bytes(t.begin(), t.begin() + kSmallWindow + 1)},
  };
}

TEST(WriterWindow, ASmallMovingWindowCodesAsOneBufferDoes) {
  const std::vector<WindowJob> jobs = WindowJobs();
  // The least window, and one that is no multiple of the 32768-byte step, so
  // that the window moves where the bytes kept behind are fewest.
  for (int32_t window : {kSmallWindow, kSmallWindow + 30000}) {
    EncoderContext small(window);
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
      for (const WindowJob& j : jobs) {
        SCOPED_TRACE(std::string(j.What) + ", level " + std::to_string(level) + ", window " +
                     std::to_string(window));
        const WindowedCoding w = EncodeInWindows(small, j.Dictionary, j.Data, level);
        ASSERT_TRUE(w.Ok);
        EXPECT_EQ(w.Taken, j.Data.size());
        if (j.Data.size() > size_t(window)) EXPECT_GT(w.Reads, 1) << "the window never moved";
        EXPECT_TRUE(w.Coded == EncodeFileData(j.Dictionary, j.Data, level)) << "coded differently";
      }
    }
  }
}

TEST(WriterWindow, ARefusedReadOrWriteEndsTheCoding) {
  const Bytes data = Text(300000, 3);
  EncoderContext context(kSmallWindow);
  for (int level : {1, 9}) {
    size_t taken = 0;
    auto readHalf = [&](std::span<uint8_t> out) {
      if (taken + out.size() > data.size() / 2) return false;
      taken += out.size();
      return true;
    };
    auto keep = [](std::span<const uint8_t>) { return true; };
    EXPECT_FALSE(context.Encode({}, int64_t(data.size()), readHalf, level, keep));
    size_t all = 0;
    auto readAll = [&](std::span<uint8_t> out) {
      std::memcpy(out.data(), data.data() + all, out.size());
      all += out.size();
      return true;
    };
    EXPECT_FALSE(context.Encode({}, int64_t(data.size()), readAll, level,
                                [](std::span<const uint8_t>) { return false; }));
    // The context is sound afterwards.
    EXPECT_EQ(context.Encode({}, data, level), EncodeFileData({}, data, level));
  }
}

TEST(WriterWindow, TheBlockStreamInPiecesEqualsTheWhole) {
  const Bytes payload = Random(5 * 4093 + 1234, 8);
  const std::string password = "pa55";
  struct Row {
    const char* What;
    std::vector<size_t> Pieces;  // repeated until the payload is used up
    const std::string* Password;
  };
  const Row rows[] = {
      {"byte by byte", {1}, nullptr},
      {"odd pieces", {7, 4093, 1, 9000}, nullptr},
      {"all at once", {payload.size()}, nullptr},
      {"odd pieces, protected", {7, 4093, 1, 9000}, &password},
      {"an empty piece now and then", {0, 300}, &password},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    Bytes streamed;
    int emits = 0;
    BlockStreamWriter writer(row.Password, [&](std::span<const uint8_t> bytes) {
      streamed.insert(streamed.end(), bytes.begin(), bytes.end());
      ++emits;
      return true;
    });
    size_t at = 0;
    for (size_t k = 0; at < payload.size(); ++k) {
      size_t n = std::min(row.Pieces[k % row.Pieces.size()], payload.size() - at);
      ASSERT_TRUE(writer.Put(std::span<const uint8_t>(payload).subspan(at, n)));
      at += n;
    }
    ASSERT_TRUE(writer.Finish());
    Bytes whole;
    AppendBlockStream(payload, row.Password, whole);
    EXPECT_TRUE(streamed == whole);
    EXPECT_EQ(writer.StreamBytes(), whole.size());
    EXPECT_EQ(writer.PayloadBytes(), payload.size());
  }
}

// Reads the entries' data through streams, in windows; one entry may be
// made to lose its end or gain bytes, as a file changed under the reader.
class TestReader : public EntryReader {
 public:
  enum class Change { kNone, kShrink, kGrow };
  TestReader(const std::vector<Bytes>& data, size_t changed = SIZE_MAX, Change change = {})
      : data_(data), changed_(changed), change_(change) {}

  std::optional<std::string> Open(size_t entry, std::unique_ptr<EntryStream>& stream) override {
    const Change c = entry == changed_ ? change_ : Change::kNone;
    stream = std::make_unique<Stream>(data_[entry], c);
    return std::nullopt;
  }

 private:
  class Stream : public EntryStream {
   public:
    Stream(const Bytes& data, Change change) : data_(data), change_(change) {}
    std::optional<std::string> Read(std::span<uint8_t> out) override {
      const size_t have = change_ == Change::kShrink ? data_.size() / 2 : data_.size();
      if (at_ + out.size() > have) return "shrank";
      if (!out.empty()) std::memcpy(out.data(), data_.data() + at_, out.size());
      at_ += out.size();
      return std::nullopt;
    }
    std::optional<std::string> Finish() override {
      if (change_ == Change::kGrow) return "grew";
      return std::nullopt;
    }

   private:
    const Bytes& data_;
    Change change_;
    size_t at_ = 0;
  };

  const std::vector<Bytes>& data_;
  size_t changed_;
  Change change_;
};

// The distributable in memory, counting the spills it hands out.
struct OutputBytes {
  std::vector<uint8_t> Bytes;
};
class CountingOutput : public OutputBytes, public MemoryOutput {
 public:
  CountingOutput() : MemoryOutput(OutputBytes::Bytes) {}
  std::unique_ptr<SpillFile> NewSpill() override {
    ++Spills;
    return ArchiveOutput::NewSpill();
  }
  int Spills = 0;
};

std::vector<Bytes> MixedFiles() {
  std::vector<Bytes> data;
  Bytes shared = Text(50000, 21);
  for (int i = 0; i < 40; ++i) {
    switch (i % 4) {
      case 0:
        data.push_back(Text(i == 0 ? 700000 : 3000 + size_t(i) * 100, uint32_t(i)));
        break;
      case 1:
        data.push_back(Bytes(shared.begin(), shared.begin() + 20000 + i * 500));
        break;
      case 2:
        data.push_back(Random(size_t(i) * 3000, uint32_t(i)));
        break;
      default:
        data.push_back({});
        break;
    }
  }
  return data;
}

std::vector<ArchiveEntry> EntriesOf(const std::vector<Bytes>& data, bool sizesOnly) {
  std::vector<ArchiveEntry> entries;
  for (size_t i = 0; i < data.size(); ++i) {
    ArchiveEntry e;
    e.Name = "f" + std::to_string(i);
    e.LastWrite = {uint32_t(i), 1};
    if (sizesOnly) {
      e.Size = data[i].size();
    } else {
      e.Data = data[i];
    }
    entries.push_back(e);
    if (i % 9 == 4) {
      ArchiveEntry folder;
      folder.Name = "empty" + std::to_string(i);
      folder.IsFolder = true;
      entries.push_back(folder);
    }
  }
  return entries;
}

TEST(WriterWindow, ReadFilesAndSpillsMakeTheSameArchive) {
  const std::vector<Bytes> data = MixedFiles();
  const Bytes core = Random(20480, 5);
  std::vector<Bytes> readData;  // data by input index, folders empty
  const std::vector<ArchiveEntry> inMemory = EntriesOf(data, false);
  std::vector<ArchiveEntry> bySize = EntriesOf(data, true);
  for (const ArchiveEntry& e : inMemory) readData.emplace_back(e.Data.begin(), e.Data.end());
  struct Row {
    int Level;
    int Threads;
    size_t Budget;
  };
  const Row rows[] = {{1, 1, 32 << 20}, {1, 3, 4096}, {6, 2, 0}, {9, 2, 20000}, {9, 4, 32 << 20}};
  for (const Row& row : rows) {
    SCOPED_TRACE("level " + std::to_string(row.Level) + ", threads " + std::to_string(row.Threads) +
                 ", budget " + std::to_string(row.Budget));
    PackOptions options;
    options.Level = row.Level;
    options.Threads = 1;
    Bytes expected;
    ASSERT_TRUE(WriteArchiveToVector(core, inMemory, options, expected).Ok);

    TestReader reader(readData);
    options.Reader = &reader;
    options.Threads = row.Threads;
    options.WaitingBudget = row.Budget;
    CountingOutput output;
    PackResult r = WriteArchive(core, bySize, options, output);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_TRUE(output.Bytes == expected) << "differs from the archive made in memory";
    EXPECT_EQ(r.ArchiveBytes, expected.size());
    if (row.Budget == 0 && row.Threads > 1) EXPECT_GT(output.Spills, 0) << "no spill was used";
  }
}

TEST(WriterWindow, AFileThatChangesWhileReadEndsThePackWithItsReason) {
  const std::vector<Bytes> data = MixedFiles();
  const Bytes core = Random(20480, 5);
  std::vector<ArchiveEntry> entries;
  for (size_t i = 0; i < data.size(); ++i) {
    ArchiveEntry e;
    e.Name = "f" + std::to_string(i);
    e.Size = data[i].size();
    entries.push_back(e);
  }
  struct Row {
    size_t Entry;
    TestReader::Change Change;
    const char* Reason;
  };
  const Row rows[] = {{0, TestReader::Change::kShrink, "shrank"},
                      {0, TestReader::Change::kGrow, "grew"},
                      {5, TestReader::Change::kShrink, "shrank"},
                      {39, TestReader::Change::kGrow, "grew"}};
  for (const Row& row : rows) {
    for (int threads : {1, 3}) {
      SCOPED_TRACE(std::string(row.Reason) + ", entry " + std::to_string(row.Entry) + ", threads " +
                   std::to_string(threads));
      TestReader reader(data, row.Entry, row.Change);
      PackOptions options;
      options.Level = 6;
      options.Threads = threads;
      options.Reader = &reader;
      CountingOutput output;
      PackResult r = WriteArchive(core, entries, options, output);
      ASSERT_FALSE(r.Ok);
      EXPECT_EQ(r.Failure, PackFailure::kRead);
      EXPECT_EQ(r.Error, row.Reason);
      ASSERT_TRUE(r.ErrorEntry.has_value());
      EXPECT_EQ(*r.ErrorEntry, row.Entry);
    }
  }
}

}  // namespace
