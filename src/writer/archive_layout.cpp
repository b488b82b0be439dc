// Entry records, archive header and block stream, byte by byte. Numbers are
// little-endian except a block's check word, which is stored high byte first.
#include "writer/archive_layout.h"

#include <algorithm>

#include "format/crc16.h"

namespace {

void PutLe(uint64_t value, int bytes, std::vector<uint8_t>& out) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutTime(const FileTime& t, std::vector<uint8_t>& out) {
  PutLe(t.Low, 4, out);
  PutLe(t.High, 4, out);
}

}  // namespace

size_t SharedNameLength(const std::string& previous, const std::string& name) {
  size_t n = 0;
  while (n < previous.size() && n < name.size() && previous[n] == name[n]) ++n;
  return n;
}

bool AppendName(const std::string& previous, const std::string& name, std::vector<uint8_t>& out) {
  size_t shared = SharedNameLength(previous, name);
  if (shared > size_t(kMaxSharedName)) shared = kMaxSharedName;
  size_t from = 0;
  if (shared >= 2) {
    out.push_back(kSharedNameMark);
    out.push_back(static_cast<uint8_t>(shared - 2));
    from = shared;
  } else if (!name.empty() && static_cast<uint8_t>(name[0]) == kSharedNameMark) {
    return false;
  }
  out.insert(out.end(), name.begin() + static_cast<std::ptrdiff_t>(from), name.end());
  out.push_back(0);
  return true;
}

void AppendFileFields(const FileTime& creation, const FileTime& lastAccess,
                      const FileTime& lastWrite, uint32_t fileSize, int32_t refBack,
                      int32_t prefixLength, std::vector<uint8_t>& out) {
  PutTime(creation, out);
  PutTime(lastAccess, out);
  PutTime(lastWrite, out);
  PutLe(fileSize, 4, out);
  out.push_back(static_cast<uint8_t>(refBack));
  if (refBack != 0) PutLe(static_cast<uint32_t>(prefixLength), 2, out);
}

void AppendArchiveHeader(uint32_t originalSize, const std::string& comment,
                         const std::string& runAfter, const std::string* password, uint8_t flag,
                         std::vector<uint8_t>& out) {
  PutLe(originalSize, 4, out);
  out.insert(out.end(), comment.begin(), comment.end());
  out.push_back(0);
  out.insert(out.end(), runAfter.begin(), runAfter.end());
  out.push_back(0);
  if (password == nullptr) {
    out.push_back(0);
    return;
  }
  // The expander takes (F * 257) XOR W as the value the password's CRC must equal.
  uint16_t crc = Crc16Of(reinterpret_cast<const uint8_t*>(password->data()),
                         static_cast<int32_t>(password->size()));
  uint16_t word = static_cast<uint16_t>(crc ^ (uint32_t{flag} * 257u));
  out.push_back(flag);
  PutLe(word, 2, out);
}

uint64_t ArchiveHeaderSize(const std::string& comment, const std::string& runAfter,
                           bool isProtected) {
  return 4 + comment.size() + 1 + runAfter.size() + 1 + (isProtected ? 3 : 1);
}

void AppendBlockStream(std::span<const uint8_t> payload, const std::string* password,
                       std::vector<uint8_t>& out) {
  const size_t keyLength = password == nullptr ? 0 : password->size();
  size_t key = 0;  // password byte for the next payload byte
  for (size_t start = 0; start < payload.size(); start += kBlockDataSize) {
    size_t count = std::min<size_t>(kBlockDataSize, payload.size() - start);
    const uint8_t* plain = payload.data() + start;
    uint16_t check = Crc16Of(plain, static_cast<int32_t>(count));
    for (size_t i = 0; i < count; ++i) {
      uint8_t b = plain[i];
      if (keyLength > 0) {
        b ^= static_cast<uint8_t>((*password)[key]);
        if (++key == keyLength) key = 0;
      }
      out.push_back(b);
    }
    out.push_back(static_cast<uint8_t>(check >> 8));
    out.push_back(static_cast<uint8_t>(check));
  }
}

uint64_t BlockStreamSize(uint64_t payloadSize) {
  uint64_t blocks = (payloadSize + kBlockDataSize - 1) / kBlockDataSize;
  return payloadSize + blocks * (kBlockSize - kBlockDataSize);
}

namespace {
constexpr size_t kEmittedBlocks = 64;  // blocks gathered before they are handed on
}  // namespace

BlockStreamWriter::BlockStreamWriter(const std::string* password, Emit emit)
    : password_(password != nullptr && !password->empty() ? password : nullptr),
      emit_(std::move(emit)) {
  plain_.reserve(kBlockDataSize);
  pending_.reserve(kEmittedBlocks * kBlockSize);
}

bool BlockStreamWriter::EndBlock() {
  const uint16_t check = Crc16Of(plain_.data(), static_cast<int32_t>(plain_.size()));
  for (uint8_t b : plain_) {
    if (password_ != nullptr) {
      b ^= static_cast<uint8_t>((*password_)[key_]);
      if (++key_ == password_->size()) key_ = 0;
    }
    pending_.push_back(b);
  }
  pending_.push_back(static_cast<uint8_t>(check >> 8));
  pending_.push_back(static_cast<uint8_t>(check));
  plain_.clear();
  if (pending_.size() < kEmittedBlocks * kBlockSize) return true;
  failed_ = !emit_(pending_);
  pending_.clear();
  return !failed_;
}

bool BlockStreamWriter::Put(std::span<const uint8_t> payload) {
  if (failed_) return false;
  payloadBytes_ += payload.size();
  while (!payload.empty()) {
    const size_t take = std::min(payload.size(), size_t(kBlockDataSize) - plain_.size());
    plain_.insert(plain_.end(), payload.begin(), payload.begin() + static_cast<ptrdiff_t>(take));
    payload = payload.subspan(take);
    if (plain_.size() == size_t(kBlockDataSize) && !EndBlock()) return false;
  }
  return true;
}

bool BlockStreamWriter::Finish() {
  if (failed_) return false;
  if (!plain_.empty() && !EndBlock()) return false;
  if (pending_.empty()) return true;
  failed_ = !emit_(pending_);
  pending_.clear();
  return !failed_;
}
