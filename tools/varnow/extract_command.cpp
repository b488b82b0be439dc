// `varnow extract`: the core's expansion without its questions, into a
// destination folder. Every name is checked by the shared IsSafeName (and the
// Windows core's own rules for a Windows distributable) before anything is
// made; folders and files are opened relative to the destination and never
// through a link, so no link inside it is ever followed. Existing files
// are never replaced unless asked; a damaged archive stops the run and
// removes the file it was writing, as the core's fatal stop does. A file
// that begins as a program does is made executable, as the Linux core does.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "commands.h"
#include "host/host.h"
#include "name_patterns.h"
#include "platform/posix/program_content.h"
#include "progress_line.h"
#include "read_session.h"

namespace {

// The entry's name as folder names on this system: converted to UTF-8,
// split at backslashes (and slashes, which the Linux core also takes as
// separators); empty and "." parts are dropped as the system would.
Status SplitName(const std::string& stored, const CodePage& page, bool isFolder,
                 std::vector<std::string>& parts) {
  std::optional<std::string> utf8 = ToUtf8(page, stored);
  if (!utf8)
    return Refused("entry '" + DisplayText(page, stored) +
                   "': the name has bytes that mean nothing in code page " + page.Name +
                   " (choose another with --codepage)");
  parts.clear();
  std::string part;
  std::string last;
  for (size_t i = 0; i <= utf8->size(); ++i) {
    if (i == utf8->size() || (*utf8)[i] == '\\' || (*utf8)[i] == '/') {
      if (!part.empty() && part != ".") parts.push_back(part);
      last = part;
      part.clear();
    } else {
      part += (*utf8)[i];
    }
  }
  if (!isFolder && (last.empty() || last == "." || parts.empty()))
    return Damaged("entry '" + DisplayText(page, stored) + "' names a folder, not a file");
  return Success();
}

std::string Joined(const std::string& base, const std::vector<std::string>& parts, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i)
    path += (path.empty() || path.back() == '/' ? "" : "/") + parts[i];
  return path;
}

// Opens (making where missing) the folders parts[0, count) below root into
// out; root itself stays open and is not moved.
Status OpenFolders(const host::Folder& root, const std::string& base,
                   const std::vector<std::string>& parts, size_t count, host::Folder& out) {
  host::Folder current;
  for (size_t i = 0; i < count; ++i) {
    host::Folder next;
    const host::Folder& at = i == 0 ? root : current;
    if (host::Error e = at.Enter(parts[i], next)) {
      std::string shown = DisplayPath(Joined(base, parts, i + 1));
      if (e.Kind == host::Failure::kIsLink)
        return Refused(shown +
                       ": is a symbolic link; extract never follows links inside the "
                       "destination");
      if (e.Kind == host::Failure::kNotFolder)
        return Damaged(shown + ": cannot make folder: a file of that name exists");
      return Damaged(shown + ": cannot make folder: " + e.Text);
    }
    current = std::move(next);
  }
  out = std::move(current);
  return Success();
}

// The archive opened and unlocked, with the code page of its names.
Status OpenArchiveToRead(const ReadCommand& c, ArchiveReader& reader, CodePage& page) {
  std::vector<uint8_t> given;
  std::vector<KnownCore> known;
  Status s = KnownCores(c.CoreFile, given, known);
  if (!s.Ok()) return s;
  if ((s = reader.Open(c.Archive, known)); !s.Ok()) return s;
  if ((s = ArchiveCodePage(c, reader.Info(), page)); !s.Ok()) return s;
  if ((s = UnlockFor(c, page, reader)); !s.Ok()) return s;
  if (reader.Info().CoreName.empty())
    fprintf(stderr,
            "varnow: warning: %s: its core is none this varnow carries; files drawing on it "
            "may come out wrong (varnow test tells)\n",
            DisplayPath(c.Archive).c_str());
  return Success();
}

// One extraction: the destination, the file being written and the counts,
// with a handler for each of the reader's callbacks.
class Extraction {
 public:
  Extraction(const ExtractCommand& c, const CodePage& page)
      : c_(c), page_(page), matched_(c.Names.size(), false), progress_(Quiet()) {}
  ~Extraction() { Close(); }

  // Makes the destination folder and opens it; nothing for -O.
  Status OpenDestination() {
    if (c_.ToStdout) return Success();
    std::string failed;
    if (host::Error e = host::MakeFolders(c_.Folder, failed))
      return Damaged(DisplayPath(failed) + ": cannot make folder: " + e.Text);
    if (host::Error e = host::Folder::Open(c_.Folder, root_))
      return Damaged(DisplayPath(c_.Folder) + ": cannot open folder: " + e.Text);
    return Success();
  }

  ReadCallbacks Callbacks() {
    ReadCallbacks callbacks;
    callbacks.Folder = [this](const EntryRecord& r) { return Folder(r); };
    callbacks.BeginFile = [this](const EntryRecord& r, bool* want) { return BeginFile(r, want); };
    callbacks.Output = [this](const uint8_t* data, int32_t count) { return Output(data, count); };
    callbacks.EndFile = [this](const EntryRecord& r) { return EndFile(r); };
    callbacks.Progress = [this](int64_t done, int64_t total) {
      progress_.Update(done, total, bytes_ > 0 ? static_cast<double>(done) / bytes_ : -1);
    };
    return callbacks;
  }

  // After the last entry, or a failure: a partly written file goes, as in the
  // core's fatal stop, and every descriptor is closed.
  void Close() {
    progress_.Finish();
    if (output_.IsOpen()) {
      output_.Close();
      Parent().Remove(leaf_);
    }
    toStdout_ = false;
    parent_.Close();
    root_.Close();
  }

  // Every NAME given must have chosen an entry.
  Status CheckNamesMatched() const {
    std::string unmatched;
    for (size_t i = 0; i < c_.Names.size(); ++i)
      if (!matched_[i]) unmatched += (unmatched.empty() ? "'" : ", '") + c_.Names[i] + "'";
    if (unmatched.empty()) return Success();
    // list shows the stored backslashes; NAMEs are written with '/'.
    const bool backslash = unmatched.find('\\') != std::string::npos;
    return Refused(DisplayPath(c_.Read.Archive) + ": no entry matches " + DisplayPath(unmatched) +
                   (backslash ? " (write '/' between folders)" : ""));
  }

  void Report() const {
    if (Quiet()) return;
    printf("%s: %lld files (%lld bytes) and %lld folders extracted into %s",
           DisplayPath(c_.Read.Archive).c_str(), static_cast<long long>(files_),
           static_cast<long long>(bytes_), static_cast<long long>(folders_),
           DisplayPath(c_.Folder).c_str());
    if (skipped_ > 0) printf("; %lld existing files kept", static_cast<long long>(skipped_));
    printf("\n");
  }

 private:
  bool Quiet() const { return c_.Read.Quiet || c_.ToStdout; }
  std::string Base() const { return c_.Folder == "." ? "" : c_.Folder; }
  // Entries not chosen by a NAME are decoded for the history and not written.
  bool Chosen(const EntryRecord& r) {
    if (c_.Names.empty()) return true;
    std::optional<std::string> name = DecodedEntryName(page_, r.Name);
    return name && ChosenBy(c_.Names, *name, matched_);
  }
  // The folder of the file being written: the destination itself for a
  // file at the top.
  const host::Folder& Parent() const { return parent_.IsOpen() ? parent_ : root_; }

  Status Folder(const EntryRecord& r) {
    if (c_.ToStdout || !Chosen(r)) return Success();
    Status s = SplitName(r.Name, page_, true, parts_);
    if (!s.Ok()) return s;
    host::Folder made;
    if ((s = OpenFolders(root_, Base(), parts_, parts_.size(), made)); !s.Ok()) return s;
    ++folders_;
    return Success();
  }

  Status BeginFile(const EntryRecord& r, bool* want) {
    *want = Chosen(r);
    if (!*want) return Success();
    if (c_.ToStdout) {
      toStdout_ = true;
      shown_ = "standard output";
      return Success();
    }
    Status s = SplitName(r.Name, page_, false, parts_);
    if (!s.Ok()) return s;
    if ((s = OpenFolders(root_, Base(), parts_, parts_.size() - 1, parent_)); !s.Ok()) return s;
    leaf_ = parts_.back();
    shown_ = DisplayPath(Joined(Base(), parts_, parts_.size()));
    if ((s = ClearTheWay(want)); !s.Ok() || !*want) {
      parent_.Close();
      return s;
    }
    if (host::Error e = Parent().NewFile(leaf_, output_)) {
      parent_.Close();
      return Damaged(shown_ + ": cannot create: " + e.Text);
    }
    headLength_ = 0;
    return Success();
  }

  // What is in the way of the new file: refused, kept (the entry is then
  // not written) or, with --overwrite, unlinked rather than truncated, so a
  // link or a hard-linked file is replaced by a new file, never written through.
  Status ClearTheWay(bool* want) {
    const host::Found found = Parent().Find(leaf_);
    if (found == host::Found::kNothing) return Success();
    if (c_.Existing == ExistingFiles::kRefuse)
      return Refused(shown_ + ": already exists; use --overwrite or --skip-existing");
    if (c_.Existing == ExistingFiles::kSkip) {
      ++skipped_;
      *want = false;
      return Success();
    }
    if (found == host::Found::kFolder)
      return Damaged(shown_ + ": cannot replace a folder with a file");
    if (host::Error e = Parent().Remove(leaf_)) {
      if (e.Kind == host::Failure::kIsLink)
        return Refused(shown_ +
                       ": is a link; extract never follows links inside the destination, and " +
                       e.Text);
      return Damaged(shown_ + ": cannot replace: " + e.Text);
    }
    return Success();
  }

  Status Output(const uint8_t* data, int32_t count) {
    for (int32_t i = 0; headLength_ < kProgramHeadLength && i < count; ++i)
      head_[headLength_++] = data[i];
    const std::span<const uint8_t> bytes(data, static_cast<size_t>(count));
    if (toStdout_) {
      if (fwrite(data, 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0)
        return Damaged(shown_ + ": cannot write: " + strerror(errno));
    } else if (host::Error e = output_.Write(bytes)) {
      return Damaged(shown_ + ": cannot write: " + e.Text);
    }
    bytes_ += count;
    return Success();
  }

  Status EndFile(const EntryRecord& r) {
    if (toStdout_) {
      toStdout_ = false;
      ++files_;
      return Success();
    }
    if (!output_.IsOpen()) return Success();  // skipped or not chosen
    // A system that keeps no creation time (Linux) sets the other two.
    if (host::Error e = output_.SetTimes(r.Creation, r.LastAccess, r.LastWrite))
      return Damaged(shown_ + ": cannot set its times: " + e.Text);
    if (LooksLikeProgram(head_, headLength_)) output_.MarkProgram();
    host::Error closed = output_.Close();
    parent_.Close();
    if (closed) return Damaged(shown_ + ": cannot write: " + closed.Text);
    ++files_;
    return Success();
  }

  const ExtractCommand& c_;
  const CodePage& page_;
  std::vector<bool> matched_;  // each NAME: has it chosen an entry
  ProgressLine progress_;
  host::Folder root_;                 // the destination
  host::Folder parent_;               // the folder of the file being written, below root_
  host::File output_;                 // the file being written
  bool toStdout_ = false;             // a chosen file goes to standard output
  std::string leaf_;                  // its last name
  std::string shown_;                 // its path as messages show it
  uint8_t head_[kProgramHeadLength];  // its first bytes
  int32_t headLength_ = 0;
  std::vector<std::string> parts_;
  int64_t files_ = 0, folders_ = 0, skipped_ = 0, bytes_ = 0;
};

}  // namespace

Status RunExtract(const ExtractCommand& c) {
  ArchiveReader reader;
  CodePage page;
  Status s = OpenArchiveToRead(c.Read, reader, page);
  if (!s.Ok()) return s;
  Extraction extraction(c, page);
  if ((s = extraction.OpenDestination()); !s.Ok()) return s;
  s = reader.ReadEntries(extraction.Callbacks());
  extraction.Close();
  if (!s.Ok()) return s;
  if ((s = extraction.CheckNamesMatched()); !s.Ok()) return s;
  extraction.Report();
  return Success();
}
