// Runs one program in a given folder with standard input and output piped
// (or on a pseudo-terminal of its own, or closed, or on /dev/null), under a
// time limit, and hands back everything it wrote and how it ended. The child
// gets a session of its own: no controlling terminal but the one made for it,
// so nothing can wait for typed input, and a hung run is ended as a whole.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

enum class InputMode {
  kCloseAfterInput,  // write the input, then close standard input
  kKeepOpen,         // write the input and never close: the program must end by itself
  kAfterPrompt,      // write the input only once Prompt has appeared in the output
};

// How one standard stream of the child is set up. kClosed leaves its
// descriptor free, as a launcher, cron job or service may start a program.
enum class Stream { kPiped, kClosed, kDevNull };

struct RunRequest {
  std::vector<std::string> Argv;  // Argv[0] is looked up on the search path
  std::string Folder;             // working folder of the child; empty: this process's
  std::vector<std::pair<std::string, std::string>> Environment;  // added or replaced
  std::vector<std::string> Unset;                                // removed variables
  std::string Input;
  InputMode Mode = InputMode::kCloseAfterInput;
  std::string Prompt;       // for kAfterPrompt
  int PromptPauseMs = 400;  // how long the child must keep waiting after the prompt
  int TimeoutMs = 60000;    // the child is killed after this
  // When not negative: the most bytes a file the child writes may hold
  // (RLIMIT_FSIZE), with SIGXFSZ ignored, so a write past it fails as on a full disk.
  int64_t FileSizeLimit = -1;
  // Standard input, output and error are one new pseudo-terminal, the
  // child's controlling terminal; Output is what the terminal shows.
  bool Terminal = false;
  // When set: called with the output so far whenever the output pauses; what
  // it returns is written to the input (with kKeepOpen).
  std::function<std::string(const std::string& output)> Respond;
  // Without Terminal, each standard stream may be set up otherwise. A stream
  // that is no pipe takes no Input, or shows no Output or Errors.
  Stream InputStream = Stream::kPiped;
  Stream OutputStream = Stream::kPiped;
  Stream ErrorStream = Stream::kPiped;
};

struct RunResult {
  bool Started = false;  // false when the program could not be executed
  bool TimedOut = false;
  bool Signalled = false;
  int Signal = 0;               // the signal that ended the child, when Signalled
  int ExitCode = -1;            // -1 when the child did not exit by itself
  std::string Output;           // standard output, byte for byte
  std::string Errors;           // standard error, for diagnostics
  bool PromptSeen = false;      // kAfterPrompt: the prompt appeared
  bool WaitedAtPrompt = false;  // kAfterPrompt: still running PromptPauseMs after it
  bool EchoAfter = false;       // Terminal: the terminal's echo was on when the child ended
  long ElapsedMs = 0;
};

RunResult RunProgram(const RunRequest& request);

// A readable account of a run for failure messages.
std::string Describe(const RunResult& run);
// Bytes with control characters shown as \r, \n, \a, \xNN.
std::string Visible(const std::string& text);
