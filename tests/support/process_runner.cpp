// Runs a program with piped standard streams, or on a new pseudo-terminal,
// under a time limit (fork and exec). One poll loop feeds the input and
// collects both outputs, so neither side can block the other; output still
// buffered when the child ends is drained, but a grandchild that keeps the
// pipe open does not hold the run.
#include "process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is there without blocking; false once the pipe is closed.
bool ReadAvailable(int fd, std::string& into) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return false;
    return errno == EAGAIN || errno == EINTR;
  }
}

// The child's ends of its standard streams (all three the same terminal when
// there is one), and ours.
struct Streams {
  int ChildIn = -1, ChildOut = -1, ChildErr = -1;
  int ToChild = -1, FromOut = -1, FromErr = -1;
  int Terminal = -1;  // the terminal's child side, kept open to read its settings at the end
};

bool OpenStreams(bool terminal, Streams& s) {
  if (terminal) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    s.ChildIn = s.ChildOut = s.ChildErr = s.Terminal = slave;
    s.FromOut = master;
    s.ToChild = dup(master);  // closing the input must not close the output
    return true;
  }
  int in[2], out[2], err[2];
  if (pipe(in) != 0) return false;
  if (pipe(out) != 0 || pipe(err) != 0) return false;
  s.ChildIn = in[0];
  s.ToChild = in[1];
  s.FromOut = out[0];
  s.ChildOut = out[1];
  s.FromErr = err[0];
  s.ChildErr = err[1];
  return true;
}

[[noreturn]] void RunChild(const RunRequest& r, const Streams& s, int report) {
  setsid();
  if (r.Terminal) ioctl(s.Terminal, TIOCSCTTY, 0);
  // The stream ends are above 2, as the parent's own standard streams are
  // open; once in place they are closed, so a closed stream leaves its
  // descriptor as the lowest free one and the child holds no other copy.
  const int ends[3] = {s.ChildIn, s.ChildOut, s.ChildErr};
  const Stream setups[3] = {r.InputStream, r.OutputStream, r.ErrorStream};
  int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int fd = 0; fd < 3; ++fd) {
    if (r.Terminal || setups[fd] == Stream::kPiped) dup2(ends[fd], fd);
    else if (setups[fd] == Stream::kDevNull) dup2(devNull, fd);
  }
  for (int fd : {s.ChildIn, s.ChildOut, s.ChildErr, s.ToChild, s.FromOut, s.FromErr})
    if (fd > 2) close(fd);
  for (int fd = 0; fd < 3; ++fd) {
    if (!r.Terminal && setups[fd] == Stream::kClosed) close(fd);
  }
  signal(SIGPIPE, SIG_DFL);
  if (r.FileSizeLimit >= 0) {
    struct rlimit limit = {static_cast<rlim_t>(r.FileSizeLimit),
                           static_cast<rlim_t>(r.FileSizeLimit)};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_IGN);
  }
  for (const auto& name : r.Unset) unsetenv(name.c_str());
  for (const auto& [name, value] : r.Environment) setenv(name.c_str(), value.c_str(), 1);
  if (r.Folder.empty() || chdir(r.Folder.c_str()) == 0) {
    std::vector<char*> argv;
    for (const auto& a : r.Argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
  }
  int code = errno;
  (void)!write(report, &code, sizeof code);
  _exit(127);
}

}  // namespace

RunResult RunProgram(const RunRequest& r) {
  RunResult result;
  signal(SIGPIPE, SIG_IGN);  // a child that ends before reading all input
  int report[2];
  Streams s;
  if (pipe2(report, O_CLOEXEC) != 0 || !OpenStreams(r.Terminal, s)) {
    result.Errors = r.Terminal ? "openpty failed" : "pipe failed";
    return result;
  }
  Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
    RunChild(r, s, report[1]);
  }
  if (s.Terminal < 0) {
    close(s.ChildIn);
    close(s.ChildOut);
    close(s.ChildErr);
  }
  close(report[1]);
  if (pid < 0) {
    result.Errors = "fork failed";
    return result;
  }
  // The report pipe closes at the exec, after the child's setsid: from here
  // on the child leads a process group of its own that a kill can end whole.
  int code = 0;
  result.Started = read(report[0], &code, sizeof code) != sizeof code;
  close(report[0]);
  if (!result.Started) result.Errors = std::string("cannot execute: ") + strerror(code);

  int toChild = s.ToChild, fromOut = s.FromOut, fromErr = s.FromErr;
  fcntl(toChild, F_SETFL, O_NONBLOCK);
  fcntl(fromOut, F_SETFL, O_NONBLOCK);
  if (fromErr >= 0) fcntl(fromErr, F_SETFL, O_NONBLOCK);
  std::string input = r.Input;
  size_t written = 0;
  bool feeding = r.Mode != InputMode::kAfterPrompt;
  const bool closeWhenWritten = r.Mode != InputMode::kKeepOpen && !r.Respond;
  long promptAt = -1;
  int status = 0;
  bool exited = false;

  while (!exited) {
    if (feeding && toChild >= 0) {
      while (written < input.size()) {
        ssize_t n = write(toChild, input.data() + written, input.size() - written);
        if (n > 0) {
          written += static_cast<size_t>(n);
        } else {
          if (n < 0 && errno == EPIPE) written = input.size();
          break;
        }
      }
      if (written == input.size() && closeWhenWritten) CloseFd(toChild);
    }
    pollfd fds[3] = {{fromOut, POLLIN, 0}, {fromErr, POLLIN, 0}, {toChild, POLLOUT, 0}};
    nfds_t count = feeding && toChild >= 0 && written < input.size() ? 3 : 2;
    // Both outputs closed: the child is ending, wait for it in short steps.
    poll(fds, count, fromOut < 0 && fromErr < 0 ? 1 : 20);
    size_t shown = result.Output.size();
    if (fromOut >= 0 && !ReadAvailable(fromOut, result.Output)) CloseFd(fromOut);
    if (fromErr >= 0 && !ReadAvailable(fromErr, result.Errors)) CloseFd(fromErr);
    if (waitpid(pid, &status, WNOHANG) == pid) exited = true;

    if (r.Respond && !exited && result.Output.size() == shown) input += r.Respond(result.Output);
    if (!feeding && !exited) {
      if (promptAt < 0 && result.Output.find(r.Prompt) != std::string::npos) {
        promptAt = MsSince(start);
        result.PromptSeen = true;
      }
      if (promptAt >= 0 && MsSince(start) - promptAt >= r.PromptPauseMs) {
        result.WaitedAtPrompt = true;
        feeding = true;
      }
    }
    if (!exited && MsSince(start) > r.TimeoutMs) {
      result.TimedOut = true;
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      exited = true;
    }
  }
  if (!result.PromptSeen && r.Mode == InputMode::kAfterPrompt)
    result.PromptSeen = result.Output.find(r.Prompt) != std::string::npos;
  // What the child wrote before it ended is in the pipes now.
  if (fromOut >= 0) ReadAvailable(fromOut, result.Output);
  if (fromErr >= 0) ReadAvailable(fromErr, result.Errors);
  // Read while the terminal's other side is still open: once it closes, the
  // terminal hangs up and its settings can no longer be had.
  if (s.Terminal >= 0) {
    struct termios settings;
    result.EchoAfter = tcgetattr(s.Terminal, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    close(s.Terminal);
  }
  CloseFd(fromOut);
  CloseFd(fromErr);
  CloseFd(toChild);
  result.ElapsedMs = MsSince(start);
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  result.Signalled = WIFSIGNALED(status);
  if (result.Signalled) result.Signal = WTERMSIG(status);
  return result;
}

std::string Visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (c == 7) {
      out += "\\a";
    } else if (c < 32 || c >= 127) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Describe(const RunResult& run) {
  std::ostringstream text;
  text << "started " << run.Started << ", exit " << run.ExitCode << ", timed out " << run.TimedOut
       << ", signal " << run.Signal << ", " << run.ElapsedMs << " ms\n--- output:\n"
       << Visible(run.Output) << "\n--- errors:\n"
       << run.Errors;
  return text.str();
}
