// The byte layout around the compressed data: front-compressed entry names,
// entry records, the archive header and the checked, scrambled block stream.
// Pure functions over byte vectors; archive_writer.cpp puts them together.
#pragma once

#include <stdint.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "format/format.h"
#include "platform/platform.h"

inline constexpr int32_t kMaxSharedName = 257;  // longest beginning a name can share

// Bytes both names begin with.
size_t SharedNameLength(const std::string& previous, const std::string& name);
// Appends the name, front-compressed against previous when they share at
// least 2 bytes, and its zero byte. False (nothing appended) when the name
// would be stored plain and starts with '*', which the expander would take
// for the mark.
bool AppendName(const std::string& previous, const std::string& name, std::vector<uint8_t>& out);
// Appends the fields after the name of a file entry: the three times,
// FileSize, RefBack and, unless RefBack is 0, PrefixLength.
void AppendFileFields(const FileTime& creation, const FileTime& lastAccess,
                      const FileTime& lastWrite, uint32_t fileSize, int32_t refBack,
                      int32_t prefixLength, std::vector<uint8_t>& out);
// Appends OriginalSize, the comment, the run-after text and the protection
// header (flag 0, or flag and check word when password is not null).
void AppendArchiveHeader(uint32_t originalSize, const std::string& comment,
                         const std::string& runAfter, const std::string* password, uint8_t flag,
                         std::vector<uint8_t>& out);
// Size of the header that AppendArchiveHeader writes.
uint64_t ArchiveHeaderSize(const std::string& comment, const std::string& runAfter,
                           bool isProtected);
// Cuts the payload into blocks of 4096 data bytes (the last 1 to 4096), each
// followed by the CRC-16/UMTS of its plain data, high byte first; with a
// password, payload byte j is XOR-ed with password byte j mod L.
void AppendBlockStream(std::span<const uint8_t> payload, const std::string* password,
                       std::vector<uint8_t>& out);
uint64_t BlockStreamSize(uint64_t payloadSize);

// The same cut for a payload that comes in pieces: the stream is handed on a
// few blocks at a time, and is byte for byte what AppendBlockStream makes of
// the pieces joined.
class BlockStreamWriter {
 public:
  using Emit = std::function<bool(std::span<const uint8_t> stream)>;
  // password: as AppendBlockStream's, kept alive by the caller.
  BlockStreamWriter(const std::string* password, Emit emit);
  // False when emit refused; nothing more is emitted after that.
  bool Put(std::span<const uint8_t> payload);
  // The last block, however short, and whatever is still held.
  bool Finish();
  uint64_t PayloadBytes() const { return payloadBytes_; }
  uint64_t StreamBytes() const { return BlockStreamSize(payloadBytes_); }

 private:
  bool EndBlock();

  const std::string* password_;
  Emit emit_;
  size_t key_ = 0;                // password byte for the next payload byte
  std::vector<uint8_t> plain_;    // the current block's plain data
  std::vector<uint8_t> pending_;  // finished blocks not yet emitted
  uint64_t payloadBytes_ = 0;
  bool failed_ = false;
};
