// The Linux port of the platform services. Archive names keep the backslash
// as separator; it is mapped to '/' here. Linux cannot set a creation time,
// so only last access and last write are set. Output lines end with LF; an
// input line ends at CR, LF or CR LF.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/file_time_posix.h"
#include "platform/posix/program_content.h"

extern char** environ;

const char kLineEnd[] = "\n";
const bool kLineFeedEndsInput = true;
const bool kColonIsSpecial = false;

static constexpr int32_t kPathLimit = 32768;
static char gMappedPath[kPathLimit];
static int gOutputIsTerminal = -1;  // unknown until the first archive text

// The terminal's settings as read, put back after the password line and by
// a signal that ends the run while echo is off. One record: the sanitized
// core pays for every global.
static struct {
  struct termios Saved;
  volatile sig_atomic_t Changed;
} gTerminal;

static const char* MapPath(const char* name) {
  int32_t i = 0;
  for (; name[i] != 0 && i < kPathLimit - 1; ++i) gMappedPath[i] = name[i] == '\\' ? '/' : name[i];
  gMappedPath[i] = 0;
  return gMappedPath;
}

FileHandle SysOpenOwnFile() {
  int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  return fd < 0 ? kNoFile : fd;
}

int32_t SysReadFile(FileHandle file, void* buffer, int32_t count) {
  for (;;) {
    ssize_t n = read(static_cast<int>(file), buffer, static_cast<size_t>(count));
    if (n >= 0) return static_cast<int32_t>(n);
    if (errno != EINTR) return -1;
  }
}

// Reads of a regular file are not broken off by signals.
int32_t SysReadAt(FileHandle file, int32_t offset, void* buffer, int32_t count) {
  return static_cast<int32_t>(
      pread(static_cast<int>(file), buffer, static_cast<size_t>(count), offset));
}

int32_t SysWriteFile(FileHandle file, const void* data, int32_t count) {
  const char* p = static_cast<const char*>(data);
  int32_t done = 0;
  while (done < count) {
    ssize_t n = write(static_cast<int>(file), p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? done : -1;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t SysFileSize(FileHandle file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0 || st.st_size > 0x7FFFFFFF) return -1;
  return static_cast<int32_t>(st.st_size);
}

int32_t SysFilePosition(FileHandle file) {
  off_t at = lseek(static_cast<int>(file), 0, SEEK_CUR);
  return at < 0 || at > 0x7FFFFFFF ? -1 : static_cast<int32_t>(at);
}

bool SysCloseFile(FileHandle file) { return file != kNoFile && close(static_cast<int>(file)) == 0; }

bool SysDeleteFile(const char* name) { return unlink(MapPath(name)) == 0; }

// Links are never followed: one found in the destination (made there by
// anyone) could lead a write outside it. A link to a file fails to open, so
// consent to replace it ends in a write error; a link is never a folder.
FileHandle SysCreateFile(const char* name) {
  int fd = open(MapPath(name), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  return fd < 0 ? kNoFile : fd;
}

ItemKind SysFindItem(const char* name) {
  struct stat st;
  if (name[0] == 0 || lstat(MapPath(name), &st) != 0) return kItemNone;
  if (S_ISLNK(st.st_mode)) return kItemLink;
  return S_ISDIR(st.st_mode) ? kItemFolder : kItemFile;
}

bool SysCreateFolder(const char* name) { return mkdir(MapPath(name), 0777) == 0; }

// The last step before an expanded file is closed, its content complete: a
// file that begins as a program does is made executable as well, or it could
// not run, not even as the run-after command. A file system without modes may
// refuse that; the content is whole all the same.
bool SysSetFileTimes(FileHandle file, const FileTime*, const FileTime* lastAccess,
                     const FileTime* lastWrite) {
  int fd = static_cast<int>(file);
  uint8_t head[kProgramHeadLength];
  ssize_t n = pread(fd, head, sizeof head, 0);
  struct stat st;
  if (n > 0 && LooksLikeProgram(head, static_cast<int32_t>(n)) && fstat(fd, &st) == 0) {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, WithExecute(st.st_mode & 07777, mask));
  }
  struct timespec times[2] = {ToTimespec(*lastAccess), ToTimespec(*lastWrite)};
  return futimens(fd, times) == 0;
}

const char* SysNextChar(const char* text) { return *text != 0 ? text + 1 : text; }

bool SysOpenDocument(const char* text) {
  struct stat st;
  pid_t pid;
  char* argv[3];
  if (stat(text, &st) == 0 && S_ISREG(st.st_mode) && access(text, X_OK) == 0) {
    argv[0] = const_cast<char*>(text);
    argv[1] = nullptr;
    return posix_spawn(&pid, text, nullptr, nullptr, argv, environ) == 0;
  }
  if (stat(text, &st) != 0) {
    // Not a file here: a command found on the search path, as a shell would.
    argv[0] = const_cast<char*>(text);
    argv[1] = nullptr;
    return posix_spawnp(&pid, text, nullptr, nullptr, argv, environ) == 0;
  }
  char opener[] = "xdg-open";
  argv[0] = opener;
  argv[1] = const_cast<char*>(text);
  argv[2] = nullptr;
  return posix_spawnp(&pid, opener, nullptr, nullptr, argv, environ) == 0;
}

void SysConsoleWrite(const void* data, int32_t count) { SysWriteFile(1, data, count); }

void SysConsoleWriteText(const void* data, int32_t count) {
  // On a terminal, archive text cannot send control sequences: every control
  // character but CR, LF, TAB and BEL is shown as '?'.
  if (gOutputIsTerminal < 0) gOutputIsTerminal = isatty(1) ? 1 : 0;
  if (gOutputIsTerminal == 0) return SysConsoleWrite(data, count);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  char chunk[256];
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    unsigned char c = p[i];
    bool control = (c < 32 || c == 127) && c != 13 && c != 10 && c != 9 && c != 7;
    chunk[n++] = control ? '?' : static_cast<char>(c);
    if (n == static_cast<int32_t>(sizeof chunk)) {
      SysConsoleWrite(chunk, n);
      n = 0;
    }
  }
  if (n > 0) SysConsoleWrite(chunk, n);
}

int32_t SysConsoleReadByte() {
  unsigned char b;
  return SysReadFile(0, &b, 1) == 1 ? b : -1;
}

static void PutBackTerminal() {
  if (gTerminal.Changed) tcsetattr(0, TCSANOW, &gTerminal.Saved);
  gTerminal.Changed = 0;
}

// Ctrl-C and its kin end the run as they would have, with the echo back on.
static void OnBreak(int number) {
  PutBackTerminal();
  signal(number, SIG_DFL);
  raise(number);
}

bool SysGetInputMode(uint32_t* mode) {
  if (tcgetattr(0, &gTerminal.Saved) != 0) return false;
  *mode = (gTerminal.Saved.c_lflag & ECHO) != 0 ? kEchoInput : 0;
  return true;
}

bool SysSetInputMode(uint32_t mode) {
  if ((mode & kEchoInput) != 0) {
    PutBackTerminal();
    return true;
  }
  const int breaks[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
  for (int number : breaks) {
    // A signal ignored by whoever started the run stays ignored.
    struct sigaction before;
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
      signal(number, OnBreak);
  }
  struct termios changed = gTerminal.Saved;
  changed.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
  gTerminal.Changed = 1;
  if (tcsetattr(0, TCSANOW, &changed) == 0) return true;
  gTerminal.Changed = 0;
  return false;
}

void SysExit(int32_t code) {
  PutBackTerminal();
  _exit(code);
}
