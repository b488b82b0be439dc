// Runs one program in a given folder with standard input and output piped
// (or closed, or on /dev/null), under a time limit, and hands back everything
// it wrote and how it ended. The child gets its own process group, so a hung
// run is ended as a whole.
#pragma once

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
  std::string Folder;             // working folder of the child
  std::vector<std::pair<std::string, std::string>> Environment;  // added or replaced
  std::vector<std::string> Unset;                                // removed variables
  std::string Input;
  InputMode Mode = InputMode::kCloseAfterInput;
  std::string Prompt;       // for kAfterPrompt
  int PromptPauseMs = 400;  // how long the child must keep waiting after the prompt
  int TimeoutMs = 60000;    // the child is killed after this

  // A stream that is no pipe takes no Input, or shows no Output or Errors.
  Stream InputStream = Stream::kPiped;
  Stream OutputStream = Stream::kPiped;
  Stream ErrorStream = Stream::kPiped;
};

struct RunResult {
  bool Started = false;  // false when the program could not be executed
  bool TimedOut = false;
  bool Signalled = false;
  int ExitCode = -1;
  std::string Output;           // standard output, byte for byte
  std::string Errors;           // standard error, for diagnostics
  bool PromptSeen = false;      // kAfterPrompt: the prompt appeared
  bool WaitedAtPrompt = false;  // kAfterPrompt: still running PromptPauseMs after it
  long ElapsedMs = 0;
};

RunResult RunProgram(const RunRequest& request);
