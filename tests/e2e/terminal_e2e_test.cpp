// The Linux core on a terminal (a pseudo-terminal made for the run): the
// password is typed with echo off, the core ends each answer's line itself,
// and the echo is on again however the run ends: a right answer, three wrong
// ones, a fatal stop after the password, Ctrl-C at the prompt.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>

#include "e2e_archives.h"
#include "e2e_harness.h"

namespace {

struct TerminalCase {
  const char* Name;
  bool Damaged;                      // the block check of the payload is wrong
  std::vector<std::string> Answers;  // each typed once the last line shown ends in a prompt
  std::string Output;                // after the banner, as the terminal shows it, without CRs
  int ExitCode;                      // -1 when a signal ended the run
  int Signal;                        // the signal that ended it, or 0
};

// Types each answer after the next "Password : " or "Press Enter key.",
// once the output has paused.
std::function<std::string(const std::string&)> Typist(const std::vector<std::string>& answers) {
  return [answers, typed = size_t{0}, seen = size_t{0}](const std::string& output) mutable {
    std::string keys;
    for (const char* prompt : {"Password : ", "Press Enter key."}) {
      size_t at = output.find(prompt, seen);
      if (at == std::string::npos || typed == answers.size()) continue;
      seen = at + 1;
      keys += answers[typed++];
    }
    return keys;
  };
}

const std::string kPrompt = "Password : ";

const TerminalCase kCases[] = {
    {"RightAnswer", false, {"s3cret\r"}, kPrompt + "\nexpanding : A.TXT ... end.\n", 0, 0},
    {"ThreeWrongAnswers",
     false,
     {"guess1\r", "guess2\r", "guess3\r"},
     kPrompt + "\n" + kPrompt + "\n" + kPrompt + "\n",
     1,
     0},
    // The Enter that answers "Press Enter key." is shown: echo is on again.
    {"FatalStopAfterThePassword",
     true,
     {"s3cret\r", "\r"},
     kPrompt + "\nThis file is broken.\nPress Enter key.\a\n\n",
     2,
     0},
    // With echo off the terminal does not show the ^C either.
    {"CtrlCAtThePrompt", false, {"s3c\x03"}, kPrompt, -1, SIGINT},
};

class TerminalE2e : public ::testing::TestWithParam<TerminalCase> {};

TEST_P(TerminalE2e, PasswordIsNotShownAndEchoComesBack) {
  const TerminalCase& c = GetParam();
  ArchiveParts parts;
  parts.Protected = true;
  parts.Flag = 0x5A;
  parts.Password = "s3cret";
  parts.Payload = PayloadOf({FileItem(AbabEntry("A.TXT"))});
  Bytes file = Distributable(CoreKind::kLinux, parts);
  if (c.Damaged) file.back() ^= 0x80;
  Sandbox sandbox(E2ePlace(std::string("Terminal-") + c.Name));
  RunRequest request;
  request.Terminal = true;
  request.Mode = InputMode::kKeepOpen;
  request.Respond = Typist(c.Answers);
  request.TimeoutMs = 20000;
  RunResult r = RunDistributable(CoreKind::kLinux, sandbox, file, request);
  std::erase(r.Output, '\r');
  std::string banner = Banner(CoreKind::kLinux);
  EXPECT_EQ(Visible(r.Output), Visible(banner + c.Output)) << "no answer may be shown";
  EXPECT_EQ(r.ExitCode, c.ExitCode) << Describe(r);
  EXPECT_EQ(r.Signal, c.Signal) << Describe(r);
  EXPECT_TRUE(r.EchoAfter) << "the terminal's echo is still off";
}

INSTANTIATE_TEST_SUITE_P(Linux, TerminalE2e, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name) + "_Linux"; });

}  // namespace
