// Reads a distributable with the core's own modules: the header reads, and the
// entry loop's shell over the block stream, entry records, history and
// decoder, exactly as the expander runs them, on a state record of the
// reader's own. The stop routines the shared code calls become exceptions
// inside that carry the core's reason, and results leave as values.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>

#include "cli_status.h"
#include "core_identity.h"
#include "format/format.h"
#include "host/host.h"
#include "platform/platform.h"

struct EntryLoopState;

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
  // A signed Windows distributable: the certificate table after the archive
  // (its size; 0 when the file is not signed). The archive ends at
  // OriginalSize. The table is found, not verified.
  int64_t CertificateBytes = 0;
  // The core is a known one, but holds other bytes than it in the header
  // fields that signing rewrites (the CheckSum and the certificate entry).
  bool SignedFieldsDiffer = false;
  // Where the archive ends: before a signature's padding and table, else at
  // the file's end.
  int64_t ArchiveEnd() const { return CertificateBytes > 0 ? OriginalSize : FileBytes; }
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
  ArchiveReader();
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
  // Decode with the known core's own bytes in the fields that signing
  // rewrote, as packed, instead of the file's (before ReadEntries; only when
  // SignedFieldsDiffer). What the file's core gives is what the expander does.
  void UseKnownCoreFields();
  // Opens the same file again for another pass, unlocked as before.
  Status Reopen(std::span<const KnownCore> known);

 private:
  struct Walk;  // one pass of ReadEntries
  Status OpenFile(const std::string& shown);
  Status CheckSizes(const std::string& shown, std::span<const KnownCore> known);
  Status ReadHeaderTexts(const std::string& shown);
  // A header that does not hold together: damage behind a known core, and
  // behind anything else a sign that the file never was a distributable.
  Status Broken(const std::string& shown, const std::string& reason) const;
  void Close();

  ArchiveInfo info_;
  host::File file_;
  bool unlocked_ = false;
  uint8_t coreImage_[kCoreSize] = {};
  std::span<const uint8_t> knownCore_;  // the known core it matched, if any
  // Some 6 MB, the history ring and the window, zero as the core's are at
  // its start: taken zeroed from the system (calloc), so that only the pages
  // an archive reaches are ever touched.
  struct FreeLoop {
    void operator()(EntryLoopState* p) const;
  };
  std::unique_ptr<EntryLoopState, FreeLoop> loop_;
};
