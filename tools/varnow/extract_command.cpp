// `varnow extract`: the core's expansion without its questions, into a
// destination folder. Every name is checked by the shared IsSafeName (and the
// Windows core's own rules for a Windows distributable) before anything is
// made; folders and files are opened relative to the destination with
// O_NOFOLLOW, so no symbolic link inside it is ever followed. Existing files
// are never replaced unless asked; a damaged archive stops the run and
// removes the file it was writing, as the core's fatal stop does. A file
// that begins as a program does is made executable, as the Linux core does.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "commands.h"
#include "file_times.h"
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

// Opens (making where missing) the folders parts[0, count) below root; *out
// is root itself when count is 0, else a new descriptor.
Status OpenFolders(int root, const std::string& base, const std::vector<std::string>& parts,
                   size_t count, int* out) {
  int current = root;
  for (size_t i = 0; i < count; ++i) {
    const char* name = parts[i].c_str();
    int next = openat(current, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT) {
      if (mkdirat(current, name, 0777) != 0 && errno != EEXIST) {
        int e = errno;
        if (current != root) close(current);
        return Damaged(DisplayPath(Joined(base, parts, i + 1)) +
                       ": cannot make folder: " + strerror(e));
      }
      next = openat(current, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (next < 0) {
      int e = errno;
      struct stat st;
      bool isLink = fstatat(current, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      if (current != root) close(current);
      std::string shown = DisplayPath(Joined(base, parts, i + 1));
      if (isLink)
        return Refused(shown +
                       ": is a symbolic link; extract never follows links inside the "
                       "destination");
      if (e == ENOTDIR) return Damaged(shown + ": cannot make folder: a file of that name exists");
      return Damaged(shown + ": cannot make folder: " + strerror(e));
    }
    if (current != root) close(current);
    current = next;
  }
  *out = current;
  return Success();
}

// Makes every folder along a path given as text, following what is there
// already: the destination itself is the user's choice.
Status MakeDestination(const std::string& folder) {
  std::string path;
  size_t at = 0;
  while (at <= folder.size()) {
    size_t slash = folder.find('/', at);
    if (slash == std::string::npos) slash = folder.size();
    path = folder.substr(0, slash);
    if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
      return Damaged(DisplayPath(path) + ": cannot make folder: " + strerror(errno));
    at = slash + 1;
  }
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
      : c_(c), page_(page), matched_(c.Names.size(), false), progress_(Quiet()) {
    mask_ = umask(0);
    umask(mask_);
  }
  ~Extraction() { Close(); }

  // Makes the destination folder and opens it; nothing for -O.
  Status OpenDestination() {
    if (c_.ToStdout) return Success();
    Status s = MakeDestination(c_.Folder);
    if (!s.Ok()) return s;
    root_ = open(c_.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_ < 0)
      return Damaged(DisplayPath(c_.Folder) + ": cannot open folder: " + strerror(errno));
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
    if (output_ >= 0 && !c_.ToStdout) {
      close(output_);
      unlinkat(parent_, leaf_.c_str(), 0);
    }
    output_ = -1;
    CloseParent();
    if (root_ >= 0) close(root_);
    root_ = -1;
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
  void CloseParent() {
    if (parent_ >= 0 && parent_ != root_) close(parent_);
    parent_ = -1;
  }

  Status Folder(const EntryRecord& r) {
    if (c_.ToStdout || !Chosen(r)) return Success();
    Status s = SplitName(r.Name, page_, true, parts_);
    if (!s.Ok()) return s;
    int made = -1;
    if ((s = OpenFolders(root_, Base(), parts_, parts_.size(), &made)); !s.Ok()) return s;
    if (made != root_) close(made);
    ++folders_;
    return Success();
  }

  Status BeginFile(const EntryRecord& r, bool* want) {
    *want = Chosen(r);
    if (!*want) return Success();
    if (c_.ToStdout) {
      output_ = 1;
      shown_ = "standard output";
      return Success();
    }
    Status s = SplitName(r.Name, page_, false, parts_);
    if (!s.Ok()) return s;
    if ((s = OpenFolders(root_, Base(), parts_, parts_.size() - 1, &parent_)); !s.Ok()) return s;
    leaf_ = parts_.back();
    shown_ = DisplayPath(Joined(Base(), parts_, parts_.size()));
    if ((s = ClearTheWay(want)); !s.Ok() || !*want) {
      CloseParent();
      return s;
    }
    output_ =
        openat(parent_, leaf_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (output_ < 0) {
      int e = errno;
      CloseParent();
      return Damaged(shown_ + ": cannot create: " + strerror(e));
    }
    headLength_ = 0;
    return Success();
  }

  // What is in the way of the new file: refused, kept (the entry is then
  // not written) or, with --overwrite, unlinked rather than truncated, so a
  // link or a hard-linked file is replaced by a new file, never written through.
  Status ClearTheWay(bool* want) {
    struct stat st;
    if (fstatat(parent_, leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Success();
    if (c_.Existing == ExistingFiles::kRefuse)
      return Refused(shown_ + ": already exists; use --overwrite or --skip-existing");
    if (c_.Existing == ExistingFiles::kSkip) {
      ++skipped_;
      *want = false;
      return Success();
    }
    if (S_ISDIR(st.st_mode)) return Damaged(shown_ + ": cannot replace a folder with a file");
    if (unlinkat(parent_, leaf_.c_str(), 0) != 0)
      return Damaged(shown_ + ": cannot replace: " + strerror(errno));
    return Success();
  }

  Status Output(const uint8_t* data, int32_t count) {
    for (int32_t i = 0; headLength_ < kProgramHeadLength && i < count; ++i)
      head_[headLength_++] = data[i];
    while (count > 0) {
      ssize_t n = write(output_, data, static_cast<size_t>(count));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Damaged(shown_ + ": cannot write: " + strerror(n < 0 ? errno : ENOSPC));
      data += n;
      count -= static_cast<int32_t>(n);
      bytes_ += n;
    }
    return Success();
  }

  Status EndFile(const EntryRecord& r) {
    if (output_ < 0) return Success();  // skipped or not chosen
    if (c_.ToStdout) {
      output_ = -1;
      ++files_;
      return Success();
    }
    // Linux keeps no creation time; last access and last write are set.
    struct timespec times[2] = {ToTimespec(r.LastAccess), ToTimespec(r.LastWrite)};
    if (futimens(output_, times) != 0)
      return Damaged(shown_ + ": cannot set its times: " + strerror(errno));
    // As in the core, a file system without modes may refuse; the content is whole.
    struct stat st;
    if (LooksLikeProgram(head_, headLength_) && fstat(output_, &st) == 0)
      fchmod(output_, WithExecute(st.st_mode & 07777, mask_));
    int closed = close(output_);
    output_ = -1;
    CloseParent();
    if (closed != 0) return Damaged(shown_ + ": cannot write: " + strerror(errno));
    ++files_;
    return Success();
  }

  const ExtractCommand& c_;
  const CodePage& page_;
  std::vector<bool> matched_;  // each NAME: has it chosen an entry
  ProgressLine progress_;
  mode_t mask_ = 0;
  int root_ = -1;                     // the destination
  int parent_ = -1;                   // the folder of the file being written
  int output_ = -1;                   // the file being written
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
