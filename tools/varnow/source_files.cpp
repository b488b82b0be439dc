// Sources are read with read(2) into the writer's windows; the size given by
// fstat at open must still be the listed one, a read that ends early is a
// file that shrank, and a byte past the listed size at the end is a file
// that grew. A file removed after it was opened is read to its end through
// the open descriptor, so it is packed exactly as it was.
#include "source_files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace {

constexpr size_t kSpillChunk = size_t{1} << 20;

std::string Number(uint64_t n) { return std::to_string(n); }

// Writes all of bytes at offset, or at the file's position when offset is
// negative; 0, or the error (ENOSPC for a write that took nothing).
int WriteAll(int fd, std::span<const uint8_t> bytes, int64_t offset) {
  while (!bytes.empty()) {
    ssize_t n = offset < 0 ? write(fd, bytes.data(), bytes.size())
                           : pwrite(fd, bytes.data(), bytes.size(), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    if (offset >= 0) offset += n;
    bytes = bytes.subspan(size_t(n));
  }
  return 0;
}

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
    if (truncate(path.c_str(), off_t(readSoFar)) != 0) abort();
  } else if (TakeSeam(SeamAction::kGrow)) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    static const char kMore[4096] = {};
    if (fd < 0 || write(fd, kMore, sizeof kMore) != ssize_t(sizeof kMore)) abort();
    close(fd);
  } else if (TakeSeam(SeamAction::kRemove)) {
    if (unlink(path.c_str()) != 0) abort();
  } else if (TakeSeam(SeamAction::kSignal)) {
    raise(SIGTERM);
  }
}

class SourceStream : public EntryStream {
 public:
  SourceStream(int fd, std::string path, uint64_t size, ReadRecord& record)
      : fd_(fd), path_(std::move(path)), size_(size), record_(record) {}
  ~SourceStream() override { close(fd_); }

  std::optional<std::string> Read(std::span<uint8_t> out) override {
    const std::span<uint8_t> whole = out;
    while (!out.empty()) {
      ssize_t n = read(fd_, out.data(), out.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return std::string("cannot read: ") + strerror(errno);
      if (n == 0)
        return "the file shrank while it was read: " + Number(size_) +
               " bytes were listed, it ended after " + Number(done_);
      done_ += uint64_t(n);
      out = out.subspan(size_t(n));
    }
    digest_.Add(whole);
    if (gSeam != SeamAction::kNone) ChangeAfterFirstWindow(path_, done_);
    return std::nullopt;
  }

  std::optional<std::string> Finish() override {
    uint8_t extra;
    ssize_t n;
    do n = read(fd_, &extra, 1);
    while (n < 0 && errno == EINTR);
    if (n < 0) return std::string("cannot read: ") + strerror(errno);
    if (n > 0)
      return "the file grew while it was read: it has more than the " + Number(size_) +
             " bytes that were listed";
    record_.Bytes = done_;
    record_.Digest = digest_.Value();
    record_.Finished = true;
    return std::nullopt;
  }

 private:
  int fd_;
  std::string path_;
  uint64_t size_;
  ReadRecord& record_;
  uint64_t done_ = 0;
  StreamDigest digest_;
};

// A spill: an unnamed file in the output's folder, written and then read
// back from its start.
class DescriptorSpill : public SpillFile {
 public:
  explicit DescriptorSpill(int fd) : fd_(fd) {}
  ~DescriptorSpill() override { close(fd_); }
  bool Append(std::span<const uint8_t> bytes) override {
    if (WriteAll(fd_, bytes, int64_t(size_)) != 0) return false;
    size_ += bytes.size();
    return true;
  }
  bool ReadBack(const std::function<bool(std::span<const uint8_t>)>& take) override {
    std::vector<uint8_t> chunk(kSpillChunk);
    for (uint64_t at = 0; at < size_;) {
      ssize_t n =
          pread(fd_, chunk.data(), size_t(std::min<uint64_t>(kSpillChunk, size_ - at)), off_t(at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      if (!take(std::span<const uint8_t>(chunk.data(), size_t(n)))) return false;
      at += uint64_t(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

}  // namespace

std::optional<std::string> SourceReader::Open(size_t entry, std::unique_ptr<EntryStream>& stream) {
  const std::string& path = paths_[entry];
  if (TakeSeam(SeamAction::kRemoveBeforeOpen) && unlink(path.c_str()) != 0) abort();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return std::string("the file disappeared before it was read");
  if (fd < 0) return std::string("cannot open: ") + strerror(errno);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int e = errno;
    close(fd);
    return std::string("cannot read: ") + strerror(e);
  }
  if (uint64_t(st.st_size) != sizes_[entry]) {
    close(fd);
    return "the file changed size after it was listed: " + Number(sizes_[entry]) + " bytes then, " +
           Number(uint64_t(st.st_size)) + " now";
  }
  stream = std::make_unique<SourceStream>(fd, path, sizes_[entry], records_[entry]);
  return std::nullopt;
}

bool DescriptorOutput::Append(std::span<const uint8_t> bytes) {
  return Took(WriteAll(fd_, bytes, -1));
}

bool DescriptorOutput::Overwrite(uint64_t offset, std::span<const uint8_t> bytes) {
  return Took(WriteAll(fd_, bytes, int64_t(offset)));
}

bool DescriptorOutput::Took(int error) {
  if (error != 0 && error_ == 0) error_ = error;
  return error == 0;
}

std::unique_ptr<SpillFile> DescriptorOutput::NewSpill() {
  int fd = open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = folder_ + "/.varnow-spill.XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back(0);
    fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
      if (error_ == 0) error_ = errno;
      return nullptr;
    }
    unlink(buffer.data());
  }
  return std::make_unique<DescriptorSpill>(fd);
}
