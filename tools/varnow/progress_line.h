// One line of progress on standard error: bytes done of all, the ratio so
// far and the rate. Shown only when standard error is a terminal and the
// command is not quiet; redrawn at most ten times a second.
#pragma once

#include <stdint.h>

#include <chrono>

class ProgressLine {
 public:
  explicit ProgressLine(bool quiet);
  ~ProgressLine();
  // done and total in the command's unit (input bytes for pack, archive
  // bytes for test and extract); ratio is packed / unpacked so far, or < 0.
  void Update(int64_t done, int64_t total, double ratio);
  // Clears the line.
  void Finish();

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};
