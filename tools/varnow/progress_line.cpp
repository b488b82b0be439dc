// The progress line, drawn with a carriage return and cleared at the end.
#include "progress_line.h"

#include <stdio.h>

#include <string>

#include "host/host.h"

namespace {

std::string Amount(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB"};
  int u = 0;
  while (bytes >= 1024 && u < 3) {
    bytes /= 1024;
    ++u;
  }
  char text[32];
  snprintf(text, sizeof text, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return text;
}

}  // namespace

ProgressLine::ProgressLine(bool quiet)
    : enabled_(!quiet && host::ErrorIsTerminal()),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

ProgressLine::~ProgressLine() { Finish(); }

void ProgressLine::Update(int64_t done, int64_t total, double ratio) {
  if (!enabled_) return;
  auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line =
      "\r" + Amount(static_cast<double>(done)) + " / " + Amount(static_cast<double>(total));
  char extra[96];
  if (total > 0) {
    snprintf(extra, sizeof extra, "  %3.0f%%", 100.0 * static_cast<double>(done) / total);
    line += extra;
  }
  if (ratio >= 0) {
    snprintf(extra, sizeof extra, "  ratio %.1f%%", 100.0 * ratio);
    line += extra;
  }
  if (seconds > 0.05) line += "  " + Amount(static_cast<double>(done) / seconds) + "/s";
  line += "\x1b[K";
  fputs(line.c_str(), stderr);
  fflush(stderr);
  shown_ = true;
}

void ProgressLine::Finish() {
  if (!shown_) return;
  fputs("\r\x1b[K", stderr);
  fflush(stderr);
  shown_ = false;
}
