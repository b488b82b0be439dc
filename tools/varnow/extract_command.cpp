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

}  // namespace

Status RunExtract(const ExtractCommand& c) {
  std::vector<uint8_t> given;
  std::vector<KnownCore> known;
  Status s = KnownCores(c.Read.CoreFile, given, known);
  if (!s.Ok()) return s;
  ArchiveReader reader;
  if ((s = reader.Open(c.Read.Archive, known)); !s.Ok()) return s;
  CodePage page;
  if ((s = ArchiveCodePage(c.Read, reader.Info(), page)); !s.Ok()) return s;
  if ((s = UnlockFor(c.Read, page, reader)); !s.Ok()) return s;
  if (reader.Info().CoreName.empty())
    fprintf(stderr,
            "varnow: warning: %s: its core is none this varnow carries; files drawing on it "
            "may come out wrong (varnow test tells)\n",
            DisplayPath(c.Read.Archive).c_str());
  int root = -1;
  if (!c.ToStdout) {
    if ((s = MakeDestination(c.Folder)); !s.Ok()) return s;
    root = open(c.Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
      return Damaged(DisplayPath(c.Folder) + ": cannot open folder: " + strerror(errno));
  }
  const std::string base = c.Folder == "." ? "" : c.Folder;
  // Entries not chosen by a NAME are decoded for the history and not written.
  std::vector<bool> matched(c.Names.size(), false);
  auto chosen = [&](const EntryRecord& r) {
    if (c.Names.empty()) return true;
    std::optional<std::string> name = DecodedEntryName(page, r.Name);
    return name && ChosenBy(c.Names, *name, matched);
  };
  const bool quiet = c.Read.Quiet || c.ToStdout;

  // The file being written: its folder, its last name, the descriptor and
  // its first bytes.
  int parent = -1;
  int output = -1;
  std::string leaf;
  uint8_t head[kProgramHeadLength];
  int32_t headLength = 0;
  const mode_t mask = umask(0);
  umask(mask);
  std::string shown;
  auto closeParent = [&]() {
    if (parent >= 0 && parent != root) close(parent);
    parent = -1;
  };
  int64_t files = 0, folders = 0, skipped = 0, bytes = 0;
  std::vector<std::string> parts;
  ProgressLine progress(quiet);

  ReadCallbacks callbacks;
  callbacks.Folder = [&](const EntryRecord& r) -> Status {
    if (c.ToStdout || !chosen(r)) return Success();
    Status f = SplitName(r.Name, page, true, parts);
    if (!f.Ok()) return f;
    int made = -1;
    if ((f = OpenFolders(root, base, parts, parts.size(), &made)); !f.Ok()) return f;
    if (made != root) close(made);
    ++folders;
    return Success();
  };
  callbacks.BeginFile = [&](const EntryRecord& r, bool* want) -> Status {
    *want = chosen(r);
    if (!*want) return Success();
    if (c.ToStdout) {
      output = 1;
      shown = "standard output";
      return Success();
    }
    Status f = SplitName(r.Name, page, false, parts);
    if (!f.Ok()) return f;
    if ((f = OpenFolders(root, base, parts, parts.size() - 1, &parent)); !f.Ok()) return f;
    leaf = parts.back();
    shown = DisplayPath(Joined(base, parts, parts.size()));
    struct stat st;
    if (fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (c.Existing == ExistingFiles::kRefuse) {
        closeParent();
        return Refused(shown + ": already exists; use --overwrite or --skip-existing");
      }
      if (c.Existing == ExistingFiles::kSkip) {
        closeParent();
        ++skipped;
        *want = false;
        return Success();
      }
      if (S_ISDIR(st.st_mode)) {
        closeParent();
        return Damaged(shown + ": cannot replace a folder with a file");
      }
      // Unlinked rather than truncated: a link or a hard-linked file is
      // replaced by a new file, never written through.
      if (unlinkat(parent, leaf.c_str(), 0) != 0) {
        int e = errno;
        closeParent();
        return Damaged(shown + ": cannot replace: " + strerror(e));
      }
    }
    output =
        openat(parent, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (output < 0) {
      int e = errno;
      closeParent();
      return Damaged(shown + ": cannot create: " + strerror(e));
    }
    *want = true;
    headLength = 0;
    return Success();
  };
  callbacks.Output = [&](const uint8_t* data, int32_t count) -> Status {
    for (int32_t i = 0; headLength < kProgramHeadLength && i < count; ++i)
      head[headLength++] = data[i];
    while (count > 0) {
      ssize_t n = write(output, data, static_cast<size_t>(count));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Damaged(shown + ": cannot write: " + strerror(n < 0 ? errno : ENOSPC));
      data += n;
      count -= static_cast<int32_t>(n);
      bytes += n;
    }
    return Success();
  };
  callbacks.EndFile = [&](const EntryRecord& r) -> Status {
    if (output < 0) return Success();  // skipped or not chosen
    if (c.ToStdout) {
      output = -1;
      ++files;
      return Success();
    }
    // Linux keeps no creation time; last access and last write are set.
    struct timespec times[2] = {ToTimespec(r.LastAccess), ToTimespec(r.LastWrite)};
    if (futimens(output, times) != 0)
      return Damaged(shown + ": cannot set its times: " + strerror(errno));
    // As in the core, a file system without modes may refuse; the content is whole.
    struct stat st;
    if (LooksLikeProgram(head, headLength) && fstat(output, &st) == 0)
      fchmod(output, WithExecute(st.st_mode & 07777, mask));
    int closed = close(output);
    output = -1;
    closeParent();
    if (closed != 0) return Damaged(shown + ": cannot write: " + strerror(errno));
    ++files;
    return Success();
  };
  callbacks.Progress = [&](int64_t done, int64_t total) {
    progress.Update(done, total, bytes > 0 ? static_cast<double>(done) / bytes : -1);
  };
  s = reader.ReadEntries(callbacks);
  progress.Finish();
  if (output >= 0 && !c.ToStdout) {
    // A partly written file goes, as in the core's fatal stop.
    close(output);
    unlinkat(parent, leaf.c_str(), 0);
    output = -1;
  }
  closeParent();
  if (root >= 0) close(root);
  if (!s.Ok()) return s;
  std::string unmatched;
  for (size_t i = 0; i < c.Names.size(); ++i)
    if (!matched[i]) unmatched += (unmatched.empty() ? "'" : ", '") + c.Names[i] + "'";
  if (!unmatched.empty()) {
    // list shows the stored backslashes; NAMEs are written with '/'.
    const bool backslash = unmatched.find('\\') != std::string::npos;
    return Refused(DisplayPath(c.Read.Archive) + ": no entry matches " + DisplayPath(unmatched) +
                   (backslash ? " (write '/' between folders)" : ""));
  }
  if (!quiet) {
    printf("%s: %lld files (%lld bytes) and %lld folders extracted into %s",
           DisplayPath(c.Read.Archive).c_str(), static_cast<long long>(files),
           static_cast<long long>(bytes), static_cast<long long>(folders),
           DisplayPath(c.Folder).c_str());
    if (skipped > 0) printf("; %lld existing files kept", static_cast<long long>(skipped));
    printf("\n");
  }
  return Success();
}
