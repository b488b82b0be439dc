// The Win32 services, called as the system names them. There is no C runtime:
// the entry point is our own, and the few routines the compiler may call
// (memcpy, memmove, memset, strlen) are supplied here.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include "platform/platform.h"

const char kLineEnd[] = "\r\n";
const bool kLineFeedEndsInput = false;
const bool kColonIsSpecial = true;

extern "C" {
void* memcpy(void* to, const void* from, size_t count) {
  char* d = static_cast<char*>(to);
  const char* s = static_cast<const char*>(from);
  while (count--) *d++ = *s++;
  return to;
}
void* memmove(void* to, const void* from, size_t count) {
  char* d = static_cast<char*>(to);
  const char* s = static_cast<const char*>(from);
  if (d < s) {
    while (count--) *d++ = *s++;
  } else {
    while (count--) d[count] = s[count];
  }
  return to;
}
void* memset(void* to, int value, size_t count) {
  char* d = static_cast<char*>(to);
  while (count--) *d++ = static_cast<char>(value);
  return to;
}
size_t strlen(const char* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}
}

static HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle SysOpenOwnFile() {
  char path[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return kNoFile;
  path[n] = 0;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

int32_t SysReadFile(FileHandle file, void* buffer, int32_t count) {
  DWORD done = 0;
  if (!ReadFile(AsHandle(file), buffer, static_cast<DWORD>(count), &done, nullptr)) return -1;
  return static_cast<int32_t>(done);
}

// A read at an offset moves the pointer of a file opened for synchronous
// reads, so the pointer is put back after it.
int32_t SysReadAt(FileHandle file, int32_t offset, void* buffer, int32_t count) {
  int32_t back = SysFilePosition(file);
  if (back < 0) return -1;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  DWORD done = 0;
  BOOL read = ReadFile(AsHandle(file), buffer, static_cast<DWORD>(count), &done, &at);
  if (SetFilePointer(AsHandle(file), back, nullptr, FILE_BEGIN) != static_cast<DWORD>(back) ||
      !read)
    return -1;
  return static_cast<int32_t>(done);
}

int32_t SysWriteFile(FileHandle file, const void* data, int32_t count) {
  DWORD done = 0;
  if (!WriteFile(AsHandle(file), data, static_cast<DWORD>(count), &done, nullptr)) return -1;
  return static_cast<int32_t>(done);
}

int32_t SysFileSize(FileHandle file) {
  DWORD high = 0;
  DWORD low = GetFileSize(AsHandle(file), &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
  if (high != 0 || low > 0x7FFFFFFF) return -1;
  return static_cast<int32_t>(low);
}

int32_t SysFilePosition(FileHandle file) {
  LONG high = 0;
  DWORD low = SetFilePointer(AsHandle(file), 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  if (high != 0 || low > 0x7FFFFFFF) return -1;
  return static_cast<int32_t>(low);
}

bool SysCloseFile(FileHandle file) { return file != kNoFile && CloseHandle(AsHandle(file)); }

bool SysDeleteFile(const char* name) { return DeleteFileA(name) != 0; }

FileHandle SysCreateFile(const char* name) {
  HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

ItemKind SysFindItem(const char* name) {
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(name, &found);
  if (h == INVALID_HANDLE_VALUE) return kItemNone;
  FindClose(h);
  // Junctions, symbolic links and every other reparse point count as links.
  if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kItemLink;
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kItemFolder : kItemFile;
}

bool SysCreateFolder(const char* name) { return CreateDirectoryA(name, nullptr) != 0; }

bool SysSetFileTimes(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                     const FileTime* lastWrite) {
  FILETIME c = {creation->Low, creation->High};
  FILETIME a = {lastAccess->Low, lastAccess->High};
  FILETIME w = {lastWrite->Low, lastWrite->High};
  return SetFileTime(AsHandle(file), &c, &a, &w) != 0;
}

const char* SysNextChar(const char* text) { return CharNextA(text); }

bool SysOpenDocument(const char* text) {
  HINSTANCE result = ShellExecuteA(nullptr, nullptr, text, nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

// WriteFile is unbuffered, so every write statement reaches the console at once.
void SysConsoleWrite(const void* data, int32_t count) {
  DWORD done;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, static_cast<DWORD>(count), &done, nullptr);
}

void SysConsoleWriteText(const void* data, int32_t count) { SysConsoleWrite(data, count); }

int32_t SysConsoleReadByte() {
  unsigned char b;
  DWORD done = 0;
  if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), &b, 1, &done, nullptr) || done != 1) return -1;
  return b;
}

static DWORD gInputMode;                 // standard input's console mode as read
static volatile LONG gInputModeChanged;  // echo is off until it is put back
static volatile LONG gBreaking;          // Ctrl-C came: echo stays on from now

static void PutBackInputMode() {
  if (InterlockedExchange(&gInputModeChanged, 0) != 0)
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), gInputMode);
}

// Runs on its own thread at Ctrl-C or Ctrl-Break, while the main thread may
// still be asking; the default handler that follows ends the process.
static BOOL WINAPI OnBreak(DWORD) {
  InterlockedExchange(&gBreaking, 1);
  PutBackInputMode();
  return FALSE;
}

bool SysGetInputMode(uint32_t* mode) {
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &gInputMode)) return false;
  *mode = gInputMode;
  return true;
}

bool SysSetInputMode(uint32_t mode) {
  if ((mode & kEchoInput) != 0) {
    PutBackInputMode();
    return true;
  }
  if (gBreaking) return false;
  SetConsoleCtrlHandler(OnBreak, TRUE);
  // Marked before it is changed, and checked again after: whichever thread
  // comes second puts the mode back.
  InterlockedExchange(&gInputModeChanged, 1);
  bool hidden = SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode) != 0;
  if (!hidden || gBreaking) PutBackInputMode();
  return hidden && !gBreaking;
}

void SysExit(int32_t code) {
  PutBackInputMode();
  ExitProcess(static_cast<UINT>(code));
}

// Only the system folder may supply DLLs: a distributable is usually run from
// a downloads folder where anyone may have put one. Looked up at run time, so
// that systems without the call still run the program.
static void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDirectories)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  FARPROC found = GetProcAddress(kernel, "SetDefaultDllDirectories");
  SetDirectories set;
  __builtin_memcpy(&set, &found, sizeof set);
  if (set != nullptr) set(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
}

extern "C" void Entry() {
  RestrictDllSearch();
  SysExit(ExpanderMain());
}
