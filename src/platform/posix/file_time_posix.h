// Archive file times (100-nanosecond intervals since 1601) as Linux times
// (timespec since 1970), for the Linux core and the writer alike.
#pragma once

#include <stdint.h>
#include <time.h>

#include "platform/platform.h"

inline constexpr int64_t kFileTimeEpochOffset = 116444736000000000LL;  // 1601 to 1970 in 100 ns

inline int64_t FileTimeTicks(const FileTime& t) {
  return static_cast<int64_t>((static_cast<uint64_t>(t.High) << 32) | t.Low);
}

inline struct timespec ToTimespec(const FileTime& t) {
  int64_t since = FileTimeTicks(t) - kFileTimeEpochOffset;
  int64_t seconds = since / 10000000;
  int64_t rest = since % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}
