// The seam on Linux: file descriptors, statx for the birth time, openat with
// O_NOFOLLOW below the destination, termios for hidden input and iconv for
// code pages.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include "file_times.h"
#include "host/host.h"
#include "platform/posix/program_content.h"

namespace host {

struct Opened {
  static void Set(File& file, int fd) {
    file.Close();
    file.handle_ = fd;
  }
  static int Fd(const File& file) { return static_cast<int>(file.handle_); }
  static void Set(Folder& folder, int fd) {
    folder.Close();
    folder.handle_ = fd;
  }
  static int Fd(const Folder& folder) { return static_cast<int>(folder.handle_); }
};

namespace {

Error ErrorOf(int e) {
  Failure kind = e == ENOENT    ? Failure::kMissing
                 : e == EEXIST  ? Failure::kExists
                 : e == ELOOP   ? Failure::kLoop
                 : e == ENOTDIR ? Failure::kNotFolder
                 : e == ENOSPC  ? Failure::kNoSpace
                                : Failure::kOther;
  return Error{kind, strerror(e)};
}

Error LastError() { return ErrorOf(errno); }

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// The temporary output, removed when the process is interrupted.
char gTemporaryPath[8192];

void RemoveTemporaryOnSignal(int signal) {
  if (gTemporaryPath[0] != 0) unlink(gTemporaryPath);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : handle_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (Valid()) iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts text[at...] as far as it goes; returns the offset where it
  // stopped (text.size() when all of it converted).
  size_t Run(const std::string& text, size_t at, std::string& out) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data()) + at;
    size_t inLeft = text.size() - at;
    char buffer[1024];
    while (inLeft > 0) {
      char* o = buffer;
      size_t oLeft = sizeof buffer;
      size_t r = iconv(handle_, &in, &inLeft, &o, &oLeft);
      out.append(buffer, static_cast<size_t>(o - buffer));
      if (r == static_cast<size_t>(-1) && errno != E2BIG) break;
    }
    if (inLeft == 0) {
      char* o = buffer;
      size_t oLeft = sizeof buffer;
      iconv(handle_, nullptr, nullptr, &o, &oLeft);
      out.append(buffer, static_cast<size_t>(o - buffer));
    }
    return text.size() - inLeft;
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::string LastErrorText() { return strerror(errno); }

std::string DefaultWindowsCodePage() { return "1252"; }

std::string NormalPath(std::string path) { return path; }

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string FullPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string r = real;
  free(real);
  return r;
}

Probe ProbePath(const std::string& path, ItemInfo& info, Error& error) {
  struct statx st;
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
    error = LastError();
    if (errno == ELOOP) return Probe::kLoop;
    if (errno != ENOENT) return Probe::kError;
    struct stat link;
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return Probe::kDangling;
    return Probe::kMissing;
  }
  info.IsFolder = S_ISDIR(st.stx_mode);
  info.Size = info.IsFolder ? 0 : st.stx_size;
  info.LastAccess = ToFileTime(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
  info.LastWrite = ToFileTime(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
  info.Creation = (st.stx_mask & STATX_BTIME) != 0
                      ? ToFileTime(st.stx_btime.tv_sec, st.stx_btime.tv_nsec)
                      : info.LastWrite;
  info.Device = makedev(st.stx_dev_major, st.stx_dev_minor);
  info.Identity = st.stx_ino;
  if (S_ISREG(st.stx_mode)) return Probe::kFile;
  return info.IsFolder ? Probe::kFolder : Probe::kOther;
}

// statx gives the pair with everything else.
Error Identify(const std::string&, ItemInfo&) { return {}; }

Error ListFolder(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return LastError();
  errno = 0;
  while (struct dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    names.emplace_back(d->d_name);
  }
  int readError = errno;
  closedir(dir);
  return readError != 0 ? ErrorOf(readError) : Error{};
}

Error File::OpenToRead(const std::string& path, File& file) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError();
  Opened::Set(file, fd);
  return {};
}

Error File::OpenStandardInput(File& file) { return OpenToRead("/dev/stdin", file); }

Error File::Read(std::span<uint8_t> out, size_t& got) {
  for (;;) {
    ssize_t n = read(Opened::Fd(*this), out.data(), out.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    got = static_cast<size_t>(n);
    return {};
  }
}

Error File::ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) {
  for (;;) {
    ssize_t n = pread(Opened::Fd(*this), out.data(), out.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return LastError();
    got = static_cast<size_t>(n);
    return {};
  }
}

namespace {

// All of bytes at offset, or at the position when offset is negative; a
// write that takes nothing is a full disk.
Error WriteAll(int fd, std::span<const uint8_t> bytes, int64_t offset) {
  while (!bytes.empty()) {
    ssize_t n = offset < 0 ? write(fd, bytes.data(), bytes.size())
                           : pwrite(fd, bytes.data(), bytes.size(), off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ErrorOf(n < 0 ? errno : ENOSPC);
    if (offset >= 0) offset += n;
    bytes = bytes.subspan(size_t(n));
  }
  return {};
}

}  // namespace

Error File::Write(std::span<const uint8_t> bytes) { return WriteAll(Opened::Fd(*this), bytes, -1); }

Error File::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  return WriteAll(Opened::Fd(*this), bytes, static_cast<int64_t>(offset));
}

Error File::Position(uint64_t& position) {
  off_t at = lseek(Opened::Fd(*this), 0, SEEK_CUR);
  if (at < 0) return LastError();
  position = static_cast<uint64_t>(at);
  return {};
}

Error File::Size(uint64_t& size) {
  bool regular = false;
  return Describe(size, regular);
}

Error File::Describe(uint64_t& size, bool& regular) {
  struct stat st;
  if (fstat(Opened::Fd(*this), &st) != 0) return LastError();
  size = static_cast<uint64_t>(st.st_size);
  regular = S_ISREG(st.st_mode);
  return {};
}

Error File::SetTimes(const FileTime&, const FileTime& lastAccess, const FileTime& lastWrite) {
  struct timespec times[2] = {ToTimespec(lastAccess), ToTimespec(lastWrite)};
  return futimens(Opened::Fd(*this), times) != 0 ? LastError() : Error{};
}

Error File::MakeExecutable() {
  return fchmod(Opened::Fd(*this), 0777 & ~CurrentUmask()) != 0 ? LastError() : Error{};
}

void File::MarkProgram() {
  // As in the core, a file system without modes may refuse; the content is whole.
  struct stat st;
  if (fstat(Opened::Fd(*this), &st) == 0)
    fchmod(Opened::Fd(*this), WithExecute(st.st_mode & 07777, CurrentUmask()));
}

Error File::Flush() { return fsync(Opened::Fd(*this)) != 0 ? LastError() : Error{}; }

Error File::Close() {
  if (handle_ == -1) return {};
  int closed = close(Opened::Fd(*this));
  handle_ = -1;
  return closed != 0 ? LastError() : Error{};
}

Error CreateTemporaryBeside(const std::string& output, File& file, std::string& path) {
  size_t slash = output.rfind('/');
  std::string folder = slash == std::string::npos ? "" : output.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  std::string pattern = folder + "." + base + ".XXXXXX";
  if (pattern.size() >= sizeof gTemporaryPath) return ErrorOf(ENAMETOOLONG);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) return LastError();
  Opened::Set(file, fd);
  path = name.data();
  memcpy(gTemporaryPath, name.data(), name.size());
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(s, RemoveTemporaryOnSignal);
  return {};
}

void ForgetTemporary() { gTemporaryPath[0] = 0; }

Error CreateSpill(const std::string& folder, File& file) {
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name = folder + "/.varnow-spill.XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back(0);
    fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) return LastError();
    unlink(buffer.data());
  }
  Opened::Set(file, fd);
  return {};
}

Error RenameNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  // A file system without that rename: a hard link refuses to replace too.
  if (errno != EINVAL || link(from.c_str(), to.c_str()) != 0) return LastError();
  unlink(from.c_str());
  return {};
}

Error RenameReplacing(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) != 0 ? LastError() : Error{};
}

Error RemoveFile(const std::string& path) {
  return unlink(path.c_str()) != 0 ? LastError() : Error{};
}

Error TruncateFile(const std::string& path, uint64_t size) {
  return truncate(path.c_str(), static_cast<off_t>(size)) != 0 ? LastError() : Error{};
}

void Interrupt() {
  raise(SIGTERM);
  _exit(128 + SIGTERM);
}

Error MakeFolders(const std::string& folder, std::string& failedAt) {
  for (size_t at = 0; at <= folder.size();) {
    size_t slash = folder.find('/', at);
    if (slash == std::string::npos) slash = folder.size();
    std::string path = folder.substr(0, slash);
    if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      failedAt = path;
      return LastError();
    }
    at = slash + 1;
  }
  return {};
}

Error Folder::Open(const std::string& path, Folder& folder) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return LastError();
  Opened::Set(folder, fd);
  return {};
}

Error Folder::Enter(const std::string& name, Folder& child) const {
  const int at = Opened::Fd(*this);
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(at, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    if (mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST) return LastError();
    fd = openat(at, name.c_str(), flags);
  }
  if (fd < 0) {
    Error e = LastError();
    struct stat st;
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
      e.Kind = Failure::kIsLink;
    return e;
  }
  Opened::Set(child, fd);
  return {};
}

Found Folder::Find(const std::string& name) const {
  struct stat st;
  if (fstatat(Opened::Fd(*this), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return Found::kNothing;
  if (S_ISLNK(st.st_mode)) return Found::kLink;
  return S_ISDIR(st.st_mode) ? Found::kFolder : Found::kFile;
}

Error Folder::Remove(const std::string& name) const {
  return unlinkat(Opened::Fd(*this), name.c_str(), 0) != 0 ? LastError() : Error{};
}

Error Folder::NewFile(const std::string& name, File& file) const {
  int fd = openat(Opened::Fd(*this), name.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return LastError();
  Opened::Set(file, fd);
  return {};
}

void Folder::Close() {
  if (handle_ != -1) close(Opened::Fd(*this));
  handle_ = -1;
}

bool ErrorIsTerminal() { return isatty(2) == 1; }

namespace {

bool ReadLineFrom(int fd, std::string& line) {
  line.clear();
  for (;;) {
    char c;
    ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line.empty();
    if (c == '\n' || c == '\r') return true;
    line += c;
  }
}

}  // namespace

std::optional<std::vector<std::string>> AskHidden(const std::vector<std::string>& prompts) {
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) return std::nullopt;
  struct termios saved;
  bool haveTermios = tcgetattr(tty, &saved) == 0;
  if (haveTermios) {
    struct termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  std::vector<std::string> answers;
  for (const std::string& prompt : prompts) {
    ssize_t ignored = write(tty, prompt.data(), prompt.size());
    (void)ignored;
    std::string line;
    if (!ReadLineFrom(tty, line)) break;
    answers.push_back(line);
  }
  if (haveTermios) tcsetattr(tty, TCSAFLUSH, &saved);
  close(tty);
  return answers;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool CodePageKnown(const std::string& name) { return Converter("UTF-8", name).Valid(); }

size_t ToUtf8From(const std::string& name, const std::string& text, size_t at, std::string& out) {
  Converter c("UTF-8", name);
  return c.Valid() ? c.Run(text, at, out) : at;
}

std::optional<std::string> FromUtf8To(const std::string& name, const std::string& text) {
  Converter c(name, "UTF-8");
  if (!c.Valid()) return std::nullopt;
  std::string out;
  if (c.Run(text, 0, out) != text.size()) return std::nullopt;
  return out;
}

}  // namespace host
