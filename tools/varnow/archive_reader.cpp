// The writer's reader: the expander's entry loop shell (WalkEntries) over the
// same header reads and entry steps, with handlers of its own. The stop
// routines the shared code calls are defined here and throw the core's
// reason; the window's sink hands the decoded bytes to the reader.
#include "archive_reader.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <type_traits>
#include <vector>

#include "container/archive_header.h"
#include "entries/entry_steps.h"
#include "format/crc16.h"
#include "format/signed_core.h"
#include "host/host.h"
#include "runtime/stop.h"
#include "text_codec.h"

namespace {

// A stop of the shared code, with the core's reason.
struct CoreStop {
  StopReason Reason;
};
// A callback refused to go on; its status is the result.
struct CallbackStop {
  Status Result;
};
// A fault the shared code does not see: a final match that runs past the
// file's size.
struct ReaderStop {
  std::string Reason;
};

void Check(Status s) {
  if (!s.Ok()) throw CallbackStop{std::move(s)};
}

// Bytes of the stream that are data, not check bytes.
int64_t StreamDataBytes(int64_t streamBytes) {
  int64_t blocks = (streamBytes + kBlockSize - 1) / kBlockSize;
  return streamBytes - 2 * blocks;
}

// The comment has no bound in the format: its length, found by looking for
// its zero byte from offset on, or -1 when the file ends first.
int64_t FindTextLength(host::File& file, int64_t offset, int64_t fileBytes, host::Error& error) {
  std::vector<uint8_t> chunk(65536);
  for (int64_t at = offset; at < fileBytes;) {
    size_t n = 0;
    error = file.ReadAt(static_cast<uint64_t>(at), chunk, n);
    if (!error && n == 0) error = host::Error{host::Failure::kOther, "the file ended early"};
    if (error) return -1;
    for (size_t i = 0; i < n; ++i)
      if (chunk[i] == 0) return at - offset + static_cast<int64_t>(i);
    at += static_cast<int64_t>(n);
  }
  return -1;
}

}  // namespace

[[noreturn]] void ReadError(StopReason reason) { throw CoreStop{reason}; }
[[noreturn]] void WriteError(StopReason reason) { throw CoreStop{reason}; }
[[noreturn]] void BrokenError(StopReason reason) { throw CoreStop{reason}; }

static_assert(std::is_trivially_default_constructible_v<EntryLoopState> &&
              std::is_trivially_destructible_v<EntryLoopState>);

void ArchiveReader::FreeLoop::operator()(EntryLoopState* p) const { free(p); }

ArchiveReader::ArchiveReader()
    : loop_(static_cast<EntryLoopState*>(calloc(1, sizeof(EntryLoopState)))) {
  if (!loop_) throw std::bad_alloc();
}

ArchiveReader::~ArchiveReader() { Close(); }

void ArchiveReader::Close() {
  file_.Close();
  loop_->Stream.ArchiveFile = kNoFile;
}

Status ArchiveReader::Open(const std::string& path, std::span<const KnownCore> known) {
  Close();
  info_ = ArchiveInfo{};
  info_.Path = path;
  unlocked_ = false;
  const std::string shown = DisplayPath(path);
  Status s = OpenFile(shown);
  if (s.Ok()) s = CheckSizes(shown, known);
  if (s.Ok()) s = ReadHeaderTexts(shown);
  return s;
}

Status ArchiveReader::OpenFile(const std::string& shown) {
  if (host::Error e = host::File::OpenToRead(info_.Path, file_)) {
    if (e.Kind == host::Failure::kMissing) return Refused(shown + ": no such file");
    return Damaged(shown + ": cannot open: " + e.Text);
  }
  uint64_t size = 0;
  bool regular = false;
  if (host::Error e = file_.Describe(size, regular))
    return Damaged(shown + ": cannot read: " + e.Text);
  if (!regular) return Refused(shown + ": not a regular file");
  info_.FileBytes = static_cast<int64_t>(size);
  if (info_.FileBytes == kCoreSize)
    return Refused(shown + ": a bare core program of 20480 bytes; it holds no archive");
  if (info_.FileBytes < kCoreSize + 4)
    return Refused(shown + ": not a distributable: " + std::to_string(info_.FileBytes) +
                   " bytes is too short for a core and an archive header");
  if (info_.FileBytes > 0x7FFFFFFF)
    return Refused(shown + ": not a distributable: 2^31 bytes or more");
  return Success();
}

Status ArchiveReader::Broken(const std::string& shown, const std::string& reason) const {
  if (!info_.CoreName.empty()) return Damaged(shown + ": damaged: " + reason);
  return Refused(shown + ": not a distributable: it starts with no core this varnow knows, and " +
                 reason);
}

Status ArchiveReader::CheckSizes(const std::string& shown, std::span<const KnownCore> known) {
  // The reader starts again for each archive.
  ResetEntryLoop(*loop_, false);
  BlockStream& s = loop_->Stream;
  s.ArchiveFile = file_.Handle();
  s.ArchiveSize = static_cast<int32_t>(info_.FileBytes);
  try {
    ReadHeaderBytes(s, coreImage_, kCoreSize);
    info_.OriginalSize = ReadOriginalSize(s);
  } catch (const CoreStop&) {
    return Damaged(shown + ": cannot read: " + host::LastErrorText());
  }
  info_.Core = SniffCoreKind(coreImage_);
  // Signing rewrites two fields of a Windows core's header: the core is
  // known whatever they hold.
  const SignedFields fields = FindSignedFields(coreImage_);
  for (const KnownCore& k : known) {
    if (k.Bytes.size() == static_cast<size_t>(kCoreSize) && SameCoreBytes(k.Bytes, coreImage_)) {
      info_.Core = k.Kind;
      info_.CoreName = k.Name;
      knownCore_ = k.Bytes;
      info_.SignedFieldsDiffer = memcmp(k.Bytes.data(), coreImage_, kCoreSize) != 0;
      break;
    }
  }
  loop_->Entries.WindowsNames = info_.Core == CoreKind::kWindows;
  SizeVerdict verdict;
  try {
    verdict = CheckArchiveSize(s, coreImage_, info_.OriginalSize);
  } catch (const CoreStop&) {
    return Damaged(shown + ": cannot read: " + host::LastErrorText());
  }
  if (verdict == kSizeSigned)
    info_.CertificateBytes = LittleEndian32(coreImage_ + fields.CertificateEntry + 4);
  if (verdict == kSizeMatches || verdict == kSizeSigned) return Success();
  if (info_.CoreName.empty())
    return Broken(shown, "its size field records " + std::to_string(info_.OriginalSize) +
                             " bytes for a file of " + std::to_string(info_.FileBytes));
  return Broken(shown, "the file has " + std::to_string(info_.FileBytes) +
                           " bytes but its header records " + std::to_string(info_.OriginalSize) +
                           (verdict == kFileSmaller ? " (cut short)" : " (bytes added)"));
}

Status ArchiveReader::Reopen(std::span<const KnownCore> known) {
  const BlockStream& s = loop_->Stream;
  const std::string password(s.Password, static_cast<size_t>(s.PasswordLength));
  const bool unlocked = unlocked_;
  const std::string path = info_.Path;
  Status result = Open(path, known);
  if (result.Ok() && unlocked) result = Unlock(password);
  return result;
}

void ArchiveReader::UseKnownCoreFields() {
  const SignedFields fields = FindSignedFields(coreImage_);
  if (knownCore_.size() != static_cast<size_t>(kCoreSize) || fields.CheckSum == 0) return;
  memcpy(coreImage_ + fields.CheckSum, knownCore_.data() + fields.CheckSum, kCheckSumBytes);
  memcpy(coreImage_ + fields.CertificateEntry, knownCore_.data() + fields.CertificateEntry,
         kCertificateEntryBytes);
}

Status ArchiveReader::ReadHeaderTexts(const std::string& shown) {
  BlockStream& s = loop_->Stream;
  host::Error readError;
  const int64_t commentLength = FindTextLength(file_, kCoreSize + 4, info_.ArchiveEnd(), readError);
  if (readError) return Damaged(shown + ": cannot read: " + readError.Text);
  if (commentLength < 0) return Broken(shown, "the archive header is cut short");
  try {
    std::vector<char> text(
        static_cast<size_t>(std::max<int64_t>(commentLength + 1, kRunAfterLimit)));
    ReadHeaderString(s, text.data(), static_cast<int32_t>(commentLength + 1));
    info_.Comment.assign(text.data(), static_cast<size_t>(commentLength));
    if (!ReadHeaderString(s, text.data(), kRunAfterLimit))
      return Broken(shown, "the run-after command has 32768 bytes or more");
    info_.RunAfter = text.data();
    ReadProtectionHeader(s);
  } catch (const CoreStop&) {
    return Broken(shown, "the archive header is cut short");
  }
  info_.IsProtected = s.IsProtected;
  info_.CheckValue = s.CheckValue;
  uint64_t at = 0;
  if (host::Error e = file_.Position(at)) return Damaged(shown + ": cannot read: " + e.Text);
  info_.StreamOffset = static_cast<int32_t>(at);
  if (info_.StreamOffset >= info_.ArchiveEnd())
    return Broken(shown, "the archive has no entries (nothing after its header)");
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
  BlockStream& s = loop_->Stream;
  memcpy(s.Password, password.data(), password.size());
  s.Password[password.size()] = 0;
  s.PasswordLength = static_cast<int32_t>(password.size());
  unlocked_ = true;
  return Success();
}

// One pass over the entries: the handlers that WalkEntries calls, and what
// they keep to describe where a stop happened.
struct ArchiveReader::Walk {
  Walk(ArchiveReader& reader, const ReadCallbacks& callbacks, CodePage page)
      : Reader(reader), Callbacks(callbacks), Page(std::move(page)) {}

  ArchiveReader& Reader;
  const ReadCallbacks& Callbacks;
  CodePage Page;
  int64_t DataTotal = 0;
  int64_t EntryIndex = 1;  // of the entry being read, from 1
  int32_t EntryStart = 0;  // payload bytes before it
  int32_t DataStart = 0;   // payload bytes before the current file's data
  EntryRecord Record;      // the current entry

  EntryLoopState& Loop() const { return *Reader.loop_; }
  int32_t Consumed() const { return Loop().Stream.ConsumedCount; }

  // The name just read, as stored.
  void TakeName(bool folder) {
    const EntryState& e = Loop().Entries;
    Record = EntryRecord{};
    Record.Name.assign(e.EntryName, static_cast<size_t>(e.EntryNameLength));
    Record.IsFolder = folder;
  }
  // The entry is done: the next one starts here, with no name read yet.
  void Finished() {
    if (Callbacks.Progress) Callbacks.Progress(Consumed(), DataTotal);
    ++EntryIndex;
    EntryStart = Consumed();
    Loop().Entries.EntryNameLength = -1;
  }

  static void Folder(void* self) {
    Walk& w = *static_cast<Walk*>(self);
    w.TakeName(true);
    w.Record.RecordBytes = w.Consumed() - w.EntryStart;
    if (w.Callbacks.Folder) Check(w.Callbacks.Folder(w.Record));
    w.Finished();
  }

  static OutputSink BeginFile(void* self) {
    Walk& w = *static_cast<Walk*>(self);
    const EntryLoopState& x = w.Loop();
    const EntryHeader& h = x.Entries.Header;
    w.TakeName(false);
    w.Record.StoredRefBack = h.StoredRefBack;
    w.Record.Creation = h.CreationTime;
    w.Record.LastAccess = h.LastAccessTime;
    w.Record.LastWrite = h.LastWriteTime;
    w.Record.FileSize = h.FileSize;
    w.Record.RefSlot = x.History.RefSlot;
    w.Record.PrefixLength = h.PrefixLength;
    w.Record.RecordBytes = w.Consumed() - w.EntryStart;
    bool wantBytes = false;
    if (w.Callbacks.BeginFile) Check(w.Callbacks.BeginFile(w.Record, &wantBytes));
    w.Loop().Entries.Skipping = !wantBytes;
    if (wantBytes && h.PrefixLength > 0 && w.Callbacks.Output)
      Check(w.Callbacks.Output(PrefixBytes(x.History), h.PrefixLength));
    w.DataStart = w.Consumed();
    return wantBytes ? Deliver : nullptr;
  }

  static void EndFile(void* self) {
    Walk& w = *static_cast<Walk*>(self);
    EntryLoopState& x = w.Loop();
    const EntryHeader& h = x.Entries.Header;
    const int32_t target = h.FileSize - h.PrefixLength;
    if (x.Decoder.BytesDecoded > (target > 0 ? target : 0))
      throw ReaderStop{"the last match of entry '" + DisplayText(w.Page, w.Record.Name) +
                       "' runs " + std::to_string(x.Decoder.BytesDecoded - target) +
                       " bytes past its size"};
    if (!x.Entries.Skipping) FinalFlush(x.Window);
    w.Record.PackedBytes = w.Consumed() - w.DataStart;
    if (w.Callbacks.EndFile) Check(w.Callbacks.EndFile(w.Record));
    w.Finished();
  }

  static void Deliver(void* self, const uint8_t* data, int32_t count) {
    Walk& w = *static_cast<Walk*>(self);
    if (w.Callbacks.Output) Check(w.Callbacks.Output(data, count));
    if (w.Callbacks.Progress) w.Callbacks.Progress(w.Consumed(), w.DataTotal);
  }

  // What a stop of the shared code means, and where in the archive it came.
  std::string Explain(StopReason reason) const {
    const EntryState& e = Loop().Entries;
    const bool nameRead = e.EntryNameLength >= 0;
    const std::string name =
        nameRead
            ? DisplayText(Page, std::string(e.EntryName, static_cast<size_t>(e.EntryNameLength)))
            : "";
    const int32_t at = Consumed();
    const std::string where = " (entry " + std::to_string(EntryIndex) +
                              (nameRead && reason != kStopUnsafeName ? ", '" + name + "'" : "") +
                              ", payload byte " + std::to_string(at) + ")";
    switch (reason) {
      case kStopReadFailed:
      case kStopCloseFailed:
        return "cannot read" + where;
      case kStopWriteFailed:
      case kStopWriteThroughLink:
        return "cannot write" + where;
      case kStopBlockCheck:
        return "damaged: block " + std::to_string(at / kBlockDataSize + 1) + " fails its check" +
               where;
      case kStopNameTooLong:
        return "damaged: an entry name of 32768 bytes or more" + where;
      case kStopUnsafeName:
        return "damaged: unsafe entry name '" + name + "'" +
               (e.WindowsNames ? ": it leaves the current folder or names a drive or stream" : "") +
               where;
      case kStopNegativeSize:
        return "damaged: a file size of 2^31 bytes or more" + where;
      case kStopUnfilledSlot:
        return "damaged: a reference to a history slot that no file has filled" + where;
      case kStopPrefixTooLong:
        return "damaged: a prefix longer than its reference or its file" + where;
      case kStopDistanceTooFar:
        return "damaged: a match reaches before the start of its data" + where;
      case kStopMatchTooLong:
        return "damaged: a match runs past the largest size" + where;
      case kStopArchiveEnds:
      case kStopRunAfterTooLong:
        break;
    }
    return "damaged: the archive ends early" + where;
  }
};

Status ArchiveReader::ReadEntries(const ReadCallbacks& callbacks) {
  const std::string shown = DisplayPath(info_.Path);
  if (!file_.IsOpen()) return Damaged(shown + ": not open");
  if (info_.IsProtected && !unlocked_) return Refused(shown + ": protected; a password is needed");
  Walk walk(*this, callbacks, *ParseCodePage(info_.Core == CoreKind::kWindows ? "1252" : "UTF-8"));
  walk.DataTotal = StreamDataBytes(info_.ArchiveEnd() - info_.StreamOffset);
  loop_->Entries.EntryNameLength = -1;
  const EntryHandlers handlers = {Walk::Folder, Walk::BeginFile, Walk::EndFile, &walk};
  Status result;
  try {
    WalkEntries(*loop_, coreImage_, handlers);
  } catch (const CallbackStop& stop) {
    result = stop.Result;
  } catch (const ReaderStop& stop) {
    result = Damaged(shown + ": damaged: " + stop.Reason);
  } catch (const CoreStop& stop) {
    result = Damaged(shown + ": " + walk.Explain(stop.Reason));
  }
  Close();
  return result;
}
