// The writer's reader: the expander's entry loop over the same entry steps
// (ReadEntryName, ReadFileEntryHeader, DecodeFileEntry, FinalFlush,
// AdvanceSlot). The failure routines the shared code calls are defined here
// and throw; the window's sink hands the decoded bytes to the reader.
#include "archive_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "codec/decoder.h"
#include "codec/output_window.h"
#include "container/archive_header.h"
#include "container/block_stream.h"
#include "container/crc16.h"
#include "driver/expander_state.h"
#include "driver/fatal_stop.h"
#include "entries/entry_records.h"
#include "entries/entry_steps.h"
#include "entries/history.h"
#include "text_codec.h"

namespace {

enum class CoreStopKind { kRead, kWrite, kBroken };
struct CoreStop {
  CoreStopKind Kind;
};
// A callback refused to go on; its status is the result.
struct CallbackStop {
  Status Result;
};

void Check(Status s) {
  if (!s.Ok()) throw CallbackStop{std::move(s)};
}

// Bytes of the stream that are data, not check bytes.
int64_t StreamDataBytes(int64_t streamBytes) {
  int64_t blocks = (streamBytes + kBlockSize - 1) / kBlockSize;
  return streamBytes - 2 * blocks;
}

}  // namespace

[[noreturn]] void ReadError() { throw CoreStop{CoreStopKind::kRead}; }
[[noreturn]] void WriteError() { throw CoreStop{CoreStopKind::kWrite}; }
[[noreturn]] void BrokenError() { throw CoreStop{CoreStopKind::kBroken}; }

void ArchiveReader::DeliverToReader(void* reader, const uint8_t* data, int32_t count) {
  static_cast<ArchiveReader*>(reader)->Deliver(data, count);
}

ArchiveReader::~ArchiveReader() { Close(); }

void ArchiveReader::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  gState.Stream.ArchiveFile = kNoFile;
}

Status ArchiveReader::Open(const std::string& path, std::span<const KnownCore> known) {
  Close();
  ResetExpanderState();
  info_ = ArchiveInfo{};
  info_.Path = path;
  unlocked_ = false;
  const std::string shown = DisplayPath(path);
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    if (errno == ENOENT) return Refused(shown + ": no such file");
    return Damaged(shown + ": cannot open: " + strerror(errno));
  }
  struct stat st;
  if (fstat(fd_, &st) != 0) return Damaged(shown + ": cannot read: " + strerror(errno));
  if (!S_ISREG(st.st_mode)) return Refused(shown + ": not a regular file");
  info_.FileBytes = st.st_size;
  if (info_.FileBytes == kCoreSize)
    return Refused(shown + ": a bare core program of 20480 bytes; it holds no archive");
  if (info_.FileBytes < kCoreSize + 4)
    return Refused(shown + ": not a distributable: " + std::to_string(info_.FileBytes) +
                   " bytes is too short for a core and an archive header");
  if (info_.FileBytes > 0x7FFFFFFF)
    return Refused(shown + ": not a distributable: 2^31 bytes or more");
  uint8_t size[4];
  if (pread(fd_, gState.CoreImage, kCoreSize, 0) != kCoreSize ||
      pread(fd_, size, 4, kCoreSize) != 4)
    return Damaged(shown + ": cannot read: " + strerror(errno));
  info_.Core = SniffCoreKind(gState.CoreImage);
  for (const KnownCore& k : known) {
    if (k.Bytes.size() == static_cast<size_t>(kCoreSize) &&
        memcmp(k.Bytes.data(), gState.CoreImage, kCoreSize) == 0) {
      info_.Core = k.Kind;
      info_.CoreName = k.Name;
      break;
    }
  }
  // Behind a known core a header that does not hold together is damage;
  // behind anything else it says the file never was a distributable.
  auto broken = [&](const std::string& reason) {
    if (!info_.CoreName.empty()) return Damaged(shown + ": damaged: " + reason);
    return Refused(shown + ": not a distributable: it starts with no core this varnow knows, and " +
                   reason);
  };
  info_.OriginalSize = static_cast<int32_t>(
      static_cast<uint32_t>(size[0]) | static_cast<uint32_t>(size[1]) << 8 |
      static_cast<uint32_t>(size[2]) << 16 | static_cast<uint32_t>(size[3]) << 24);
  if (info_.OriginalSize != info_.FileBytes) {
    if (info_.CoreName.empty())
      return broken("its size field records " + std::to_string(info_.OriginalSize) +
                    " bytes for a file of " + std::to_string(info_.FileBytes));
    bool shorter = info_.FileBytes < info_.OriginalSize;
    return broken("the file has " + std::to_string(info_.FileBytes) +
                  " bytes but its header records " + std::to_string(info_.OriginalSize) +
                  (shorter ? " (cut short)" : " (bytes added)"));
  }
  gState.OriginalSize = info_.OriginalSize;
  gState.Stream.ArchiveFile = fd_;
  gState.Stream.ArchiveSize = static_cast<int32_t>(info_.FileBytes);
  gState.Stream.ConsumedCount = 0;

  // The comment has no bound in the format; find its end to size the buffer.
  int64_t commentLength = -1;
  {
    std::vector<uint8_t> chunk(65536);
    for (int64_t at = kCoreSize + 4; at < info_.FileBytes && commentLength < 0;) {
      ssize_t n = pread(fd_, chunk.data(), chunk.size(), at);
      if (n <= 0) return Damaged(shown + ": cannot read: " + strerror(errno));
      const void* zero = memchr(chunk.data(), 0, static_cast<size_t>(n));
      if (zero != nullptr) {
        commentLength = at - (kCoreSize + 4) + (static_cast<const uint8_t*>(zero) - chunk.data());
      }
      at += n;
    }
  }
  if (commentLength < 0) return broken("the archive header is cut short");
  if (lseek(fd_, kCoreSize + 4, SEEK_SET) < 0)
    return Damaged(shown + ": cannot read: " + strerror(errno));
  try {
    std::vector<char> comment(static_cast<size_t>(commentLength) + 1);
    ReadHeaderString(comment.data(), static_cast<int32_t>(comment.size()));
    info_.Comment.assign(comment.data(), static_cast<size_t>(commentLength));
    if (!ReadHeaderString(gState.RunAfter, kRunAfterLimit))
      return broken("the run-after command has 32768 bytes or more");
    info_.RunAfter = gState.RunAfter;
    ReadProtectionHeader();
  } catch (const CoreStop&) {
    return broken("the archive header is cut short");
  }
  info_.IsProtected = gState.Stream.IsProtected;
  info_.CheckValue = gState.Stream.CheckValue;
  off_t at = lseek(fd_, 0, SEEK_CUR);
  if (at < 0) return Damaged(shown + ": cannot read: " + strerror(errno));
  info_.StreamOffset = static_cast<int32_t>(at);
  if (info_.StreamOffset >= info_.FileBytes)
    return broken("the archive has no entries (nothing after its header)");
  return Success();
}

Status ArchiveReader::Unlock(const std::string& password) {
  if (!info_.IsProtected) {
    unlocked_ = true;
    return Success();
  }
  const std::string shown = DisplayPath(info_.Path);
  // The core keeps at most kPasswordLimit - 1 bytes; a longer line is a wrong answer there.
  if (password.size() >= static_cast<size_t>(kPasswordLimit) ||
      Crc16Of(reinterpret_cast<const uint8_t*>(password.data()),
              static_cast<int32_t>(password.size())) != info_.CheckValue)
    return Refused(shown + ": wrong password");
  memcpy(gState.Stream.Password, password.data(), password.size());
  gState.Stream.Password[password.size()] = 0;
  gState.Stream.PasswordLength = static_cast<int32_t>(password.size());
  unlocked_ = true;
  return Success();
}

void ArchiveReader::Deliver(const uint8_t* data, int32_t count) {
  if (callbacks_ == nullptr) return;
  if (callbacks_->Output) Check(callbacks_->Output(data, count));
  if (callbacks_->Progress) {
    callbacks_->Progress(gState.Stream.ConsumedCount,
                         StreamDataBytes(info_.FileBytes - info_.StreamOffset));
  }
}

namespace {

enum class Stage { kName, kHeader, kData };

// Thrown for faults the shared code does not see: a name only the Windows
// core refuses, a final match that runs past the file's size.
struct ReaderStop {
  std::string Reason;
};

}  // namespace

Status ArchiveReader::ReadEntries(const ReadCallbacks& callbacks) {
  const std::string shown = DisplayPath(info_.Path);
  if (fd_ < 0) return Damaged(shown + ": not open");
  if (info_.IsProtected && !unlocked_) return Refused(shown + ": protected; a password is needed");
  const CodePage page = *ParseCodePage(info_.Core == CoreKind::kWindows ? "1252" : "UTF-8");
  const int64_t dataTotal = StreamDataBytes(info_.FileBytes - info_.StreamOffset);
  callbacks_ = &callbacks;
  Stage stage = Stage::kName;
  int64_t entryIndex = 0;
  std::string entryName;
  Status result;
  try {
    gState.Stream.EndOfArchive = false;
    PrepareHistory();
    do {
      EntryRecord record;
      EntryState& e = gState.Entries;
      stage = Stage::kName;
      ++entryIndex;
      const int64_t start = gState.Stream.ConsumedCount;
      e.EntryNameLength = -1;  // set once the whole name is read
      ReadEntryName();
      record.Name.assign(e.EntryName, static_cast<size_t>(e.EntryNameLength));
      entryName = record.Name;
      // The shared read checked the Linux rules; a Windows core refuses more.
      if (info_.Core == CoreKind::kWindows &&
          !IsSafeNameFor(record.Name.data(), static_cast<int32_t>(record.Name.size()), true))
        throw ReaderStop{"entry name '" + DisplayText(page, record.Name) +
                         "' leaves the current folder or names a drive or stream"};
      if (IsFolderEntry()) {
        record.IsFolder = true;
        record.RecordBytes = gState.Stream.ConsumedCount - start;
        if (callbacks.Folder) Check(callbacks.Folder(record));
      } else {
        stage = Stage::kHeader;
        const int32_t before = gState.Stream.ConsumedCount;
        ReadFileEntryHeader();
        const EntryHeader& h = e.Header;
        // 28 bytes of times and size, then RefBack, then PrefixLength unless RefBack is 0.
        record.StoredRefBack = gState.Stream.ConsumedCount - before == 29 ? 0 : h.RefBack;
        record.Creation = h.CreationTime;
        record.LastAccess = h.LastAccessTime;
        record.LastWrite = h.LastWriteTime;
        record.FileSize = h.FileSize;
        record.RefSlot = gState.History.RefSlot;
        record.PrefixLength = h.PrefixLength;
        record.RecordBytes = gState.Stream.ConsumedCount - start;
        bool wantBytes = false;
        if (callbacks.BeginFile) Check(callbacks.BeginFile(record, &wantBytes));
        e.Skipping = !wantBytes;
        if (wantBytes && h.PrefixLength > 0 && callbacks.Output)
          Check(callbacks.Output(PrefixBytes(), h.PrefixLength));
        stage = Stage::kData;
        const int32_t dataStart = gState.Stream.ConsumedCount;
        const int32_t target = h.FileSize - h.PrefixLength;
        DecodeFileEntry(wantBytes ? DeliverToReader : nullptr, this);
        if (gState.Decoder.BytesDecoded > (target > 0 ? target : 0))
          throw ReaderStop{"the last match of entry '" + DisplayText(page, record.Name) +
                           "' runs " + std::to_string(gState.Decoder.BytesDecoded - target) +
                           " bytes past its size"};
        if (wantBytes) FinalFlush(gState.Window);
        record.PackedBytes = gState.Stream.ConsumedCount - dataStart;
        AdvanceSlot();
        if (callbacks.EndFile) Check(callbacks.EndFile(record));
      }
      if (callbacks.Progress) callbacks.Progress(gState.Stream.ConsumedCount, dataTotal);
    } while (!gState.Stream.EndOfArchive);
  } catch (const CallbackStop& stop) {
    result = stop.Result;
  } catch (const ReaderStop& stop) {
    result = Damaged(shown + ": damaged: " + stop.Reason);
  } catch (const CoreStop& stop) {
    const int32_t at = gState.Stream.ConsumedCount;
    const std::string where =
        " (entry " + std::to_string(entryIndex) +
        (stage == Stage::kName ? "" : ", '" + DisplayText(page, entryName) + "'") +
        ", payload byte " + std::to_string(at) + ")";
    if (stop.Kind == CoreStopKind::kRead) {
      result = Damaged(shown + ": damaged: the archive ends early or cannot be read" + where);
    } else if (stop.Kind == CoreStopKind::kWrite) {
      result = Damaged(shown + ": cannot write" + where);
    } else if (stage == Stage::kName && gState.Entries.EntryNameLength >= 0) {
      // The whole name was read: IsSafeName refused it.
      const EntryState& e = gState.Entries;
      result = Damaged(
          shown + ": damaged: unsafe entry name '" +
          DisplayText(page, std::string(e.EntryName, static_cast<size_t>(e.EntryNameLength))) +
          "'" + where);
    } else if (at % kBlockDataSize == 0) {
      // A new block was due and failed its check.
      result = Damaged(shown + ": damaged: block " + std::to_string(at / kBlockDataSize + 1) +
                       " fails its check" + where);
    } else if (stage == Stage::kName) {
      result = Damaged(shown + ": damaged: an entry name of 32768 bytes or more" + where);
    } else if (stage == Stage::kHeader) {
      result = Damaged(shown + ": damaged: impossible size, reference or prefix" + where);
    } else {
      result = Damaged(shown + ": damaged: a match reaches before the start of its data" + where);
    }
  }
  callbacks_ = nullptr;
  Close();
  return result;
}
