// Reads a distributable with the core's own modules: header reads, block
// stream, entry records, history and decoder all run on the process-wide
// gState exactly as in the expander's entry loop. The failure routines the
// shared code calls become exceptions inside, and results leave as values.
// One reader at a time (gState is one record).
#pragma once

#include <stdint.h>

#include <functional>
#include <string>

#include "cli_status.h"
#include "core_identity.h"
#include "platform/platform.h"

struct ArchiveInfo {
  std::string Path;
  int64_t FileBytes = 0;     // actual size of the file
  int32_t OriginalSize = 0;  // size the header records
  std::string Comment;       // as stored (code page bytes)
  std::string RunAfter;
  bool IsProtected = false;
  uint16_t CheckValue = 0;
  int32_t StreamOffset = 0;  // file offset of the block stream
  CoreKind Core = CoreKind::kUnknown;
  std::string CoreName;  // the known core it starts with; empty when none matches
};

struct EntryRecord {
  std::string Name;  // as stored; a folder's name ends in "\."
  bool IsFolder = false;
  FileTime Creation{0, 0};
  FileTime LastAccess{0, 0};
  FileTime LastWrite{0, 0};
  int32_t FileSize = 0;
  int32_t StoredRefBack = 0;  // as stored: 0 means the previous slot without prefix
  int32_t RefSlot = 0;        // history slot the entry draws on
  int32_t PrefixLength = 0;
  int64_t RecordBytes = 0;  // name and header bytes
  int64_t PackedBytes = 0;  // compressed data bytes (including the rest of its last byte)
};

struct ReadCallbacks {
  // A file entry's header was read; true asks for its bytes (prefix and
  // decoded data, in order, through Output), false decodes it without them.
  std::function<Status(const EntryRecord&, bool* wantBytes)> BeginFile;
  std::function<Status(const uint8_t* data, int32_t count)> Output;
  // The file entry is complete (all its bytes went to Output if asked for).
  std::function<Status(const EntryRecord&)> EndFile;
  std::function<Status(const EntryRecord&)> Folder;
  // Payload bytes consumed so far, and in all (approximately: the block
  // stream's data bytes).
  std::function<void(int64_t done, int64_t total)> Progress;
};

class ArchiveReader {
 public:
  ArchiveReader() = default;
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Opens the file, checks its sizes and reads its header. Refused (1) for a
  // file too short to be a distributable or a bare core, and for one that
  // starts with none of the known cores and whose header does not hold
  // together either (not a distributable); damaged (2) for a known core
  // before a size that differs from the recorded one or a header cut short.
  Status Open(const std::string& path, std::span<const KnownCore> known = {});
  const ArchiveInfo& Info() const { return info_; }
  // Checks the password of a protected archive (refused when wrong) and
  // makes it the key of the block stream.
  Status Unlock(const std::string& password);
  // Every entry in stored order, through the callbacks. Damaged (2) for a
  // broken block, a malformed entry or an archive that ends early.
  Status ReadEntries(const ReadCallbacks& callbacks);

 private:
  // The output window's sink while a file's bytes are wanted.
  static void DeliverToReader(void* reader, const uint8_t* data, int32_t count);
  void Deliver(const uint8_t* data, int32_t count);
  Status ReadOneEntry(const ReadCallbacks& callbacks, EntryRecord& record);
  void Close();

  ArchiveInfo info_;
  int fd_ = -1;
  bool unlocked_ = false;
  const ReadCallbacks* callbacks_ = nullptr;
  Status deliverStatus_;
};
