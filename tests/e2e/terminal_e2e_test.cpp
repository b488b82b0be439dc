// The Linux core on a terminal (a pseudo-terminal made by the test): the
// password is typed with echo off, the core ends each answer's line itself,
// and the echo is on again however the run ends: a right answer, three wrong
// ones, a fatal stop after the password, Ctrl-C at the prompt.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "e2e_archives.h"
#include "e2e_harness.h"

namespace {

struct TerminalCase {
  const char* Name;
  bool Damaged;                      // the block check of the payload is wrong
  std::vector<std::string> Answers;  // each typed once the last line shown ends in a prompt
  std::string Output;                // after the banner, as the terminal shows it, without CRs
  int Status;                        // as waitpid reports it
};

struct TerminalRun {
  std::string Output;
  int Status = -1;
  bool EchoAfter = false;
};

// Runs the distributable as the session leader of a new terminal and types
// each answer after the next "Password : " or "Press Enter key.".
TerminalRun RunOnTerminal(const Sandbox& sandbox, const Bytes& file,
                          const std::vector<std::string>& answers) {
  TerminalRun r;
  std::ofstream(sandbox.Work() + "/setup", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  chmod((sandbox.Work() + "/setup").c_str(), 0755);
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    for (int fd = 0; fd < 3; ++fd) dup2(slave, fd);
    if (chdir(sandbox.Work().c_str()) != 0) _exit(120);
    execl("./setup", "./setup", static_cast<char*>(nullptr));
    _exit(121);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  size_t typed = 0, seen = 0;
  bool exited = false;
  for (;;) {
    struct pollfd p = {master, POLLIN, 0};
    char buffer[4096];
    ssize_t n = poll(&p, 1, 20) > 0 ? read(master, buffer, sizeof buffer) : 0;
    if (n > 0) {
      r.Output.append(buffer, static_cast<size_t>(n));
      continue;  // all output first
    }
    if (exited) break;
    for (const char* prompt : {"Password : ", "Press Enter key."}) {
      size_t at = r.Output.find(prompt, seen);
      if (at == std::string::npos || typed == answers.size()) continue;
      seen = at + 1;
      if (write(master, answers[typed].data(), answers[typed].size()) < 0) return r;
      ++typed;
    }
    exited = waitpid(pid, &r.Status, WNOHANG) == pid;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &r.Status, 0);
      break;
    }
  }
  struct termios settings;
  r.EchoAfter = tcgetattr(slave, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
  close(master);
  close(slave);
  std::erase(r.Output, '\r');
  return r;
}

const std::string kPrompt = "Password : ";

// Exit code e as waitpid reports it.
constexpr int Exited(int e) { return e << 8; }

const TerminalCase kCases[] = {
    {"RightAnswer", false, {"s3cret\r"}, kPrompt + "\nexpanding : A.TXT ... end.\n", Exited(0)},
    {"ThreeWrongAnswers",
     false,
     {"guess1\r", "guess2\r", "guess3\r"},
     kPrompt + "\n" + kPrompt + "\n" + kPrompt + "\n",
     Exited(1)},
    // The Enter that answers "Press Enter key." is shown: echo is on again.
    {"FatalStopAfterThePassword",
     true,
     {"s3cret\r", "\r"},
     kPrompt + "\nThis file is broken.\nPress Enter key.\a\n\n",
     Exited(2)},
    // With echo off the terminal does not show the ^C either.
    {"CtrlCAtThePrompt", false, {"s3c\x03"}, kPrompt, SIGINT},
};

class TerminalE2e : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalE2e, PasswordIsNotShownAndEchoComesBack) {
  const TerminalCase& c = GetParam();
  ArchiveParts parts;
  parts.Protected = true;
  parts.Flag = 0x5A;
  parts.Password = "s3cret";
  parts.Payload = PayloadOf({FileItem(AbabFile("A.TXT"))});
  Bytes file = Distributable(CoreKind::kLinux, parts);
  if (c.Damaged) file.back() ^= 0x80;
  Sandbox sandbox(std::string("Terminal-") + c.Name);
  TerminalRun r = RunOnTerminal(sandbox, file, c.Answers);
  std::string banner = Banner(CoreKind::kLinux);
  EXPECT_EQ(Visible(r.Output), Visible(banner + c.Output)) << "no answer may be shown";
  EXPECT_EQ(r.Status, c.Status);
  EXPECT_TRUE(r.EchoAfter) << "the terminal's echo is still off";
}

INSTANTIATE_TEST_SUITE_P(Linux, TerminalE2e, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name) + "_Linux"; });

}  // namespace
