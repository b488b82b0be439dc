// File times between the Linux clock (timespec since 1970) and the archive's
// 8-byte file times (100-nanosecond intervals since 1601).
#pragma once

#include <stdint.h>
#include <time.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/file_time_posix.h"

inline FileTime ToFileTime(int64_t seconds, int64_t nanoseconds) {
  int64_t ticks = seconds * 10000000 + nanoseconds / 100 + kFileTimeEpochOffset;
  if (ticks < 0) ticks = 0;  // before 1601: the format cannot say
  uint64_t u = static_cast<uint64_t>(ticks);
  return FileTime{static_cast<uint32_t>(u), static_cast<uint32_t>(u >> 32)};
}

// "YYYY-MM-DD HH:MM:SS" (or another strftime format) in UTC; "?" when the
// time cannot be shown.
inline std::string FormatFileTime(const FileTime& t, const char* format = "%Y-%m-%d %H:%M:%S") {
  struct timespec ts = ToTimespec(t);
  struct tm parts;
  char text[48];
  if (gmtime_r(&ts.tv_sec, &parts) == nullptr || strftime(text, sizeof text, format, &parts) == 0)
    return "?";
  return text;
}
