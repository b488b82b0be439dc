// The few system services the shared reading code calls, for varnow.exe
// (the writer's tool on Windows, with a C runtime; the core has its own in
// platform_win32.cpp). Names are stepped byte by byte, as the
// Linux tool does, so both tools read and check the same entries alike.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/platform.h"

namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

int32_t SysReadFile(FileHandle file, void* buffer, int32_t count) {
  DWORD done = 0;
  if (!ReadFile(AsHandle(file), buffer, static_cast<DWORD>(count), &done, nullptr))
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return static_cast<int32_t>(done);
}

int32_t SysFilePosition(FileHandle file) {
  LARGE_INTEGER zero{}, at{};
  if (!SetFilePointerEx(AsHandle(file), zero, &at, FILE_CURRENT) || at.QuadPart > 0x7FFFFFFF)
    return -1;
  return static_cast<int32_t>(at.QuadPart);
}

// The read position is put back, as pread leaves it.
int32_t SysReadAt(FileHandle file, int32_t offset, void* buffer, int32_t count) {
  const int32_t back = SysFilePosition(file);
  if (back < 0) return -1;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  DWORD done = 0;
  const BOOL read = ReadFile(AsHandle(file), buffer, static_cast<DWORD>(count), &done, &at);
  LARGE_INTEGER position;
  position.QuadPart = back;
  if (!SetFilePointerEx(AsHandle(file), position, nullptr, FILE_BEGIN)) return -1;
  if (!read) return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  return static_cast<int32_t>(done);
}

const char* SysNextChar(const char* text) { return *text != 0 ? text + 1 : text; }
