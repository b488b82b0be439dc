// The outcome of a command: an exit code and one line for standard error.
// Errors travel up as values and are reported once, at the top, by main.
#pragma once

#include <string>
#include <utility>

inline constexpr int kExitSuccess = 0;  // everything done
inline constexpr int kExitRefused = 1;  // bad usage or refused input
inline constexpr int kExitDamaged = 2;  // damaged archive or input/output failure

struct Status {
  int ExitCode = kExitSuccess;
  std::string Message;  // the line for standard error, naming the file concerned

  bool Ok() const { return ExitCode == kExitSuccess; }
};

inline Status Success() { return {}; }
inline Status Refused(std::string message) { return {kExitRefused, std::move(message)}; }
inline Status Damaged(std::string message) { return {kExitDamaged, std::move(message)}; }
