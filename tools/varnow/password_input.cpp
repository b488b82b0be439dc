// Terminal input with echo switched off through termios, restored on every
// way out, and the password and text files.
#include "password_input.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include "text_codec.h"

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

void Say(int fd, const char* text) {
  ssize_t ignored = write(fd, text, strlen(text));
  (void)ignored;
}

}  // namespace

Status AskPassword(bool twice, std::string& password) {
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0)
    return Refused("--password needs a terminal to ask on; use --password-file FILE instead");
  struct termios saved;
  bool haveTermios = tcgetattr(tty, &saved) == 0;
  if (haveTermios) {
    struct termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  std::string first, second;
  Say(tty, "Password: ");
  bool ok = ReadLineFrom(tty, first);
  if (ok && twice) {
    Say(tty, "Password again: ");
    ok = ReadLineFrom(tty, second);
  }
  if (haveTermios) tcsetattr(tty, TCSAFLUSH, &saved);
  close(tty);
  if (!ok || first.empty()) return Refused("no password was given");
  if (twice && first != second) return Refused("the two passwords differ");
  password = first;
  return Success();
}

Status ReadWholeFile(const std::string& path, std::string& contents) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Refused(DisplayPath(path) + ": no such file");
    return Damaged(DisplayPath(path) + ": cannot open: " + strerror(errno));
  }
  contents.clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      close(fd);
      return Damaged(DisplayPath(path) + ": cannot read: " + strerror(e));
    }
    if (n == 0) break;
    contents.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return Success();
}

Status ReadPasswordFile(const std::string& path, std::string& password) {
  std::string contents;
  const bool standardInput = path == "-";
  Status s = ReadWholeFile(standardInput ? "/dev/stdin" : path, contents);
  if (!s.Ok()) return s;
  const std::string shown = standardInput ? "--password-file -" : DisplayPath(path);
  if (!contents.empty() && contents.back() == '\n') contents.pop_back();
  if (!contents.empty() && contents.back() == '\r') contents.pop_back();
  if (contents.find_first_of("\r\n") != std::string::npos)
    return Refused(shown + ": the password file holds more than one line");
  if (contents.empty()) return Refused(shown + ": the password file is empty");
  password = std::move(contents);
  return Success();
}
