// Sources are read into the writer's windows; the size the open file has
// must still be the listed one, a read that ends early is a file that
// shrank, and a byte past the listed size at the end is a file that grew. A
// file removed after it was opened is read to its end through the open
// file, so it is packed exactly as it was.
#include "source_files.h"

#include <stdlib.h>

#include <atomic>

namespace {

constexpr size_t kSpillChunk = size_t{1} << 20;

std::string Number(uint64_t n) { return std::to_string(n); }

// The seam's action, read once.
enum class SeamAction { kNone, kShrink, kGrow, kRemove, kSignal, kRemoveBeforeOpen };

SeamAction SeamFromEnvironment() {
  const char* text = getenv("VARNOW_TEST_CHANGE_WHILE_READING");
  if (text == nullptr) return SeamAction::kNone;
  const std::string t = text;
  if (t == "shrink") return SeamAction::kShrink;
  if (t == "grow") return SeamAction::kGrow;
  if (t == "remove") return SeamAction::kRemove;
  if (t == "signal") return SeamAction::kSignal;
  if (t == "remove-before-open") return SeamAction::kRemoveBeforeOpen;
  return SeamAction::kNone;
}

const SeamAction gSeam = SeamFromEnvironment();
std::atomic<bool> gSeamUsed{false};

// Takes the seam's one use; true when this caller has it.
bool TakeSeam(SeamAction action) { return gSeam == action && !gSeamUsed.exchange(true); }

void ChangeAfterFirstWindow(const std::string& path, uint64_t readSoFar) {
  if (TakeSeam(SeamAction::kShrink)) {
    if (host::TruncateFile(path, readSoFar)) abort();
  } else if (TakeSeam(SeamAction::kGrow)) {
    uint64_t size = 0;
    host::File file;
    if (host::File::OpenToRead(path, file) || file.Size(size)) abort();
    file.Close();
    if (host::TruncateFile(path, size + 4096)) abort();
  } else if (TakeSeam(SeamAction::kRemove)) {
    if (host::RemoveFile(path)) abort();
  } else if (TakeSeam(SeamAction::kSignal)) {
    host::Interrupt();
  }
}

class SourceStream : public EntryStream {
 public:
  SourceStream(host::File file, std::string path, uint64_t size, ReadRecord& record)
      : file_(std::move(file)), path_(std::move(path)), size_(size), record_(record) {}

  std::optional<std::string> Read(std::span<uint8_t> out) override {
    const std::span<uint8_t> whole = out;
    while (!out.empty()) {
      size_t n = 0;
      if (host::Error e = file_.Read(out, n)) return "cannot read: " + e.Text;
      if (n == 0)
        return "the file shrank while it was read: " + Number(size_) +
               " bytes were listed, it ended after " + Number(done_);
      done_ += n;
      out = out.subspan(n);
    }
    digest_.Add(whole);
    if (gSeam != SeamAction::kNone) ChangeAfterFirstWindow(path_, done_);
    return std::nullopt;
  }

  std::optional<std::string> Finish() override {
    uint8_t extra;
    size_t n = 0;
    if (host::Error e = file_.Read(std::span<uint8_t>(&extra, 1), n))
      return "cannot read: " + e.Text;
    if (n > 0)
      return "the file grew while it was read: it has more than the " + Number(size_) +
             " bytes that were listed";
    record_.Bytes = done_;
    record_.Digest = digest_.Value();
    record_.Finished = true;
    return std::nullopt;
  }

 private:
  host::File file_;
  std::string path_;
  uint64_t size_;
  ReadRecord& record_;
  uint64_t done_ = 0;
  StreamDigest digest_;
};

// A spill: an unnamed file in the output's folder, written and then read
// back from its start.
class FileSpill : public SpillFile {
 public:
  explicit FileSpill(host::File file) : file_(std::move(file)) {}
  bool Append(std::span<const uint8_t> bytes) override {
    if (file_.WriteAt(size_, bytes)) return false;
    size_ += bytes.size();
    return true;
  }
  bool ReadBack(const std::function<bool(std::span<const uint8_t>)>& take) override {
    std::vector<uint8_t> chunk(kSpillChunk);
    for (uint64_t at = 0; at < size_;) {
      size_t n = 0;
      const size_t want = size_t(std::min<uint64_t>(kSpillChunk, size_ - at));
      if (file_.ReadAt(at, std::span<uint8_t>(chunk.data(), want), n) || n == 0) return false;
      if (!take(std::span<const uint8_t>(chunk.data(), n))) return false;
      at += n;
    }
    return true;
  }

 private:
  host::File file_;
  uint64_t size_ = 0;
};

}  // namespace

std::optional<std::string> SourceReader::Open(size_t entry, std::unique_ptr<EntryStream>& stream) {
  const std::string& path = paths_[entry];
  if (TakeSeam(SeamAction::kRemoveBeforeOpen) && host::RemoveFile(path)) abort();
  host::File file;
  if (host::Error e = host::File::OpenToRead(path, file)) {
    if (e.Kind == host::Failure::kMissing)
      return std::string("the file disappeared before it was read");
    return "cannot open: " + e.Text;
  }
  uint64_t size = 0;
  if (host::Error e = file.Size(size)) return "cannot read: " + e.Text;
  if (size != sizes_[entry])
    return "the file changed size after it was listed: " + Number(sizes_[entry]) + " bytes then, " +
           Number(size) + " now";
  stream = std::make_unique<SourceStream>(std::move(file), path, sizes_[entry], records_[entry]);
  return std::nullopt;
}

bool FileOutput::Append(std::span<const uint8_t> bytes) { return Took(file_.Write(bytes)); }

bool FileOutput::Overwrite(uint64_t offset, std::span<const uint8_t> bytes) {
  return Took(file_.WriteAt(offset, bytes));
}

bool FileOutput::Took(host::Error error) {
  const bool ok = !error;
  if (!ok && !error_) error_ = std::move(error);
  return ok;
}

std::unique_ptr<SpillFile> FileOutput::NewSpill() {
  host::File spill;
  if (host::Error e = host::CreateSpill(folder_, spill)) {
    Took(std::move(e));
    return nullptr;
  }
  return std::make_unique<FileSpill>(std::move(spill));
}
