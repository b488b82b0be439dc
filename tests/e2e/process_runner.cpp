// Runs a program with piped standard streams under a time limit (fork and
// exec). One poll loop feeds the input and collects both outputs, so neither
// side can block the other; output still buffered when the child ends is
// drained, but a grandchild that keeps the pipe open does not hold the run.
#include "process_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

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

[[noreturn]] void RunChild(const RunRequest& r, int in, int out, int err, int report) {
  setpgid(0, 0);
  // The pipe ends are above 2, as the parent's own standard streams are open;
  // once in place they are closed, so a closed stream leaves its descriptor
  // as the lowest free one and the child holds no other copy of a pipe.
  const int ends[3] = {in, out, err};
  const Stream setups[3] = {r.InputStream, r.OutputStream, r.ErrorStream};
  int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (int fd = 0; fd < 3; ++fd) {
    if (setups[fd] != Stream::kClosed) dup2(setups[fd] == Stream::kPiped ? ends[fd] : devNull, fd);
  }
  for (int end : ends) {
    if (end > 2) close(end);
  }
  for (int fd = 0; fd < 3; ++fd) {
    if (setups[fd] == Stream::kClosed) close(fd);
  }
  for (const auto& name : r.Unset) unsetenv(name.c_str());
  for (const auto& [name, value] : r.Environment) setenv(name.c_str(), value.c_str(), 1);
  if (chdir(r.Folder.c_str()) == 0) {
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
  int in[2], out[2], err[2], report[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0 || pipe2(report, O_CLOEXEC) != 0) {
    result.Errors = "pipe failed";
    return result;
  }
  Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    close(report[0]);
    RunChild(r, in[0], out[1], err[1], report[1]);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  close(report[1]);
  if (pid < 0) {
    result.Errors = "fork failed";
    return result;
  }
  setpgid(pid, pid);  // also here, so the kill below cannot race the child's own call
  int code = 0;
  result.Started = read(report[0], &code, sizeof code) != sizeof code;
  close(report[0]);
  if (!result.Started) result.Errors = std::string("cannot execute: ") + strerror(code);

  int toChild = in[1], fromOut = out[0], fromErr = err[0];
  fcntl(toChild, F_SETFL, O_NONBLOCK);
  fcntl(fromOut, F_SETFL, O_NONBLOCK);
  fcntl(fromErr, F_SETFL, O_NONBLOCK);
  size_t written = 0;
  bool feeding = r.Mode != InputMode::kAfterPrompt;
  long promptAt = -1;
  int status = 0;
  bool exited = false;

  while (!exited) {
    if (feeding && toChild >= 0) {
      while (written < r.Input.size()) {
        ssize_t n = write(toChild, r.Input.data() + written, r.Input.size() - written);
        if (n > 0) {
          written += static_cast<size_t>(n);
        } else {
          if (n < 0 && errno == EPIPE) written = r.Input.size();
          break;
        }
      }
      if (written == r.Input.size() && r.Mode != InputMode::kKeepOpen) CloseFd(toChild);
    }
    pollfd fds[3] = {{fromOut, POLLIN, 0}, {fromErr, POLLIN, 0}, {toChild, POLLOUT, 0}};
    nfds_t count = feeding && toChild >= 0 && written < r.Input.size() ? 3 : 2;
    poll(fds, count, 20);
    if (fromOut >= 0 && !ReadAvailable(fromOut, result.Output)) CloseFd(fromOut);
    if (fromErr >= 0 && !ReadAvailable(fromErr, result.Errors)) CloseFd(fromErr);
    if (waitpid(pid, &status, WNOHANG) == pid) exited = true;

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
  CloseFd(fromOut);
  CloseFd(fromErr);
  CloseFd(toChild);
  result.ElapsedMs = MsSince(start);
  if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
  result.Signalled = WIFSIGNALED(status);
  return result;
}
