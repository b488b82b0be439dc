// The seam on Windows: wide calls on \\?\ paths (so that paths of more than
// 260 characters work), handles and the three file times the system keeps.
// Below the destination, folders and files are opened with NtCreateFile
// relative to an open folder handle and with FILE_OPEN_REPARSE_POINT, the
// counterpart of openat with O_NOFOLLOW: no junction or symbolic link inside
// it is ever followed, and a held folder cannot be renamed away meanwhile.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winternl.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdio.h>

#include <atomic>

#include "host/host.h"

#ifndef FILE_OPEN
#define FILE_OPEN 0x00000001
#endif
#ifndef FILE_CREATE
#define FILE_CREATE 0x00000002
#endif
#ifndef FILE_OPEN_IF
#define FILE_OPEN_IF 0x00000003
#endif
#ifndef FILE_DIRECTORY_FILE
#define FILE_DIRECTORY_FILE 0x00000001
#endif
#ifndef FILE_NON_DIRECTORY_FILE
#define FILE_NON_DIRECTORY_FILE 0x00000040
#endif
#ifndef FILE_SYNCHRONOUS_IO_NONALERT
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#endif
#ifndef FILE_OPEN_REPARSE_POINT
#define FILE_OPEN_REPARSE_POINT 0x00200000
#endif

namespace host {

struct Opened {
  static HANDLE Of(const File& file) { return reinterpret_cast<HANDLE>(file.handle_); }
  static void Set(File& file, HANDLE handle) {
    file.Close();
    file.handle_ = reinterpret_cast<intptr_t>(handle);
  }
  static HANDLE Of(const Folder& folder) { return reinterpret_cast<HANDLE>(folder.handle_); }
  static void Set(Folder& folder, HANDLE handle, std::string path) {
    folder.Close();
    folder.handle_ = reinterpret_cast<intptr_t>(handle);
    folder.path_ = std::move(path);
  }
};

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (length == 0) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::string Narrow(const std::wstring& text) { return Narrow(text.data(), text.size()); }

// The path as the wide calls take it: absolute, backslashes, and \\?\ in
// front so that no length limit or name rewriting applies.
std::wstring SystemPath(const std::string& path) {
  std::wstring w = Wide(path.empty() ? "." : path);
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  if (w.rfind(L"\\\\?\\", 0) == 0) return w;
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string MessageOf(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
      0, nullptr);
  std::string message = n > 0 ? Narrow(text, n) : "";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && strchr(" \r\n.", message.back()) != nullptr) message.pop_back();
  return message.empty() ? "system error " + std::to_string(code) : message;
}

Error ErrorOf(DWORD code) {
  Failure kind = Failure::kOther;
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      kind = Failure::kMissing;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      kind = Failure::kExists;
      break;
    case ERROR_CANT_RESOLVE_FILENAME:
      kind = Failure::kLoop;
      break;
    case ERROR_DIRECTORY:
      kind = Failure::kNotFolder;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      kind = Failure::kNoSpace;
      break;
  }
  return Error{kind, MessageOf(code)};
}

Error LastError() { return ErrorOf(GetLastError()); }

Error StatusError(NTSTATUS status) { return ErrorOf(RtlNtStatusToDosError(status)); }

FileTime TimeOf(const FILETIME& t) { return FileTime{t.dwLowDateTime, t.dwHighDateTime}; }

FILETIME WindowsTime(const FileTime& t) { return FILETIME{t.Low, t.High}; }

// The temporary output's path, removed when the console is interrupted.
wchar_t gTemporaryPath[32768];

BOOL WINAPI RemoveTemporaryOnBreak(DWORD) {
  if (gTemporaryPath[0] != 0) DeleteFileW(gTemporaryPath);
  return FALSE;  // the default handler ends the process
}

// A name that NtCreateFile would take as more than one name inside the folder.
bool PlainName(const std::wstring& name) {
  return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos;
}

NTSTATUS OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, HANDLE& out) {
  UNICODE_STRING text;
  text.Buffer = const_cast<wchar_t*>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  return NtCreateFile(&out, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                      share, disposition,
                      options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
}

std::wstring FinalPath(HANDLE handle) {
  wchar_t buffer[32768];
  DWORD n = GetFinalPathNameByHandleW(handle, buffer, 32768, FILE_NAME_NORMALIZED);
  return n > 0 && n < 32768 ? std::wstring(buffer, n) : std::wstring();
}

// Whether opening name in folder ended somewhere else: a link that the file
// system followed although asked not to (Wine's view of a Unix symbolic link
// is one). Where the paths cannot be had, the open is taken as it came.
bool Followed(HANDLE folder, const std::wstring& name, HANDLE opened) {
  std::wstring expected = FinalPath(folder);
  const std::wstring actual = FinalPath(opened);
  if (expected.empty() || actual.empty()) return false;
  if (expected.back() != L'\\') expected += L'\\';
  expected += name;
  return CompareStringOrdinal(expected.c_str(), int(expected.size()), actual.c_str(),
                              int(actual.size()), TRUE) != CSTR_EQUAL;
}

DWORD AttributesOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes
                                                   : INVALID_FILE_ATTRIBUTES;
}

// Reads or writes at offset, the file position left where it was.
template <typename Transfer>
Error AtOffset(HANDLE handle, uint64_t offset, Transfer transfer) {
  LARGE_INTEGER zero{}, position{};
  if (!SetFilePointerEx(handle, zero, &position, FILE_CURRENT)) return LastError();
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  Error e = transfer(&at);
  SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
  return e;
}

constexpr DWORD kLargestTransfer = DWORD{1} << 30;

}  // namespace

std::string LastErrorText() { return MessageOf(GetLastError()); }

std::string DefaultWindowsCodePage() { return std::to_string(GetACP()); }

std::string NormalPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() >= 2 && path[1] == ':');
}

std::string FullPath(const std::string& path) {
  std::wstring w = Wide(path);
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return "";
  std::wstring full(n, L'\0');
  full.resize(GetFullPathNameW(w.c_str(), n, full.data(), nullptr));
  return NormalPath(Narrow(full));
}

Probe ProbePath(const std::string& path, ItemInfo& info, Error& error) {
  const std::wstring p = SystemPath(path);
  // A plain file needs no open, which is most of the cost of a small file
  // where opens are slow (Wine); links and folders are opened below.
  WIN32_FILE_ATTRIBUTE_DATA plain;
  if (GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &plain) &&
      (plain.dwFileAttributes &
       (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0) {
    info = ItemInfo{};
    info.Size = uint64_t{plain.nFileSizeHigh} << 32 | plain.nFileSizeLow;
    info.Creation = TimeOf(plain.ftCreationTime);
    info.LastAccess = TimeOf(plain.ftLastAccessTime);
    info.LastWrite = TimeOf(plain.ftLastWriteTime);
    info.IdentityKnown = false;
    return Probe::kFile;
  }
  HANDLE h = CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error = ErrorOf(code);
    if (code == ERROR_CANT_RESOLVE_FILENAME) return Probe::kLoop;
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) return Probe::kError;
    DWORD own = GetFileAttributesW(p.c_str());
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      return Probe::kDangling;
    return Probe::kMissing;
  }
  BY_HANDLE_FILE_INFORMATION fi;
  const bool described = GetFileInformationByHandle(h, &fi) != 0;
  const DWORD type = GetFileType(h);
  if (!described) error = LastError();
  CloseHandle(h);
  if (!described) return Probe::kError;
  info.IsFolder = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.Size = info.IsFolder ? 0 : (uint64_t{fi.nFileSizeHigh} << 32 | fi.nFileSizeLow);
  info.Creation = TimeOf(fi.ftCreationTime);
  info.LastAccess = TimeOf(fi.ftLastAccessTime);
  info.LastWrite = TimeOf(fi.ftLastWriteTime);
  info.Device = fi.dwVolumeSerialNumber;
  info.Identity = uint64_t{fi.nFileIndexHigh} << 32 | fi.nFileIndexLow;
  if (info.IsFolder) return Probe::kFolder;
  return type == FILE_TYPE_DISK ? Probe::kFile : Probe::kOther;
}

Error Identify(const std::string& path, ItemInfo& info) {
  if (info.IdentityKnown) return {};
  HANDLE h = CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  BY_HANDLE_FILE_INFORMATION fi;
  Error e = GetFileInformationByHandle(h, &fi) ? Error{} : LastError();
  CloseHandle(h);
  if (e) return e;
  info.Device = fi.dwVolumeSerialNumber;
  info.Identity = uint64_t{fi.nFileIndexHigh} << 32 | fi.nFileIndexLow;
  info.IdentityKnown = true;
  return {};
}

Error ListFolder(const std::string& path, std::vector<std::string>& names) {
  const std::wstring pattern = SystemPath(path) + L"\\*";
  WIN32_FIND_DATAW data;
  HANDLE find =
      FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND ? Error{} : LastError();
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(Narrow(name));
  } while (FindNextFileW(find, &data));
  const DWORD code = GetLastError();
  FindClose(find);
  return code == ERROR_NO_MORE_FILES ? Error{} : ErrorOf(code);
}

Error File::OpenToRead(const std::string& path, File& file) {
  HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  Opened::Set(file, h);
  return {};
}

Error File::OpenStandardInput(File& file) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE), copy = nullptr;
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return Error{Failure::kMissing, "there is none"};
  if (!DuplicateHandle(GetCurrentProcess(), in, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return LastError();
  Opened::Set(file, copy);
  return {};
}

Error File::Read(std::span<uint8_t> out, size_t& got) {
  DWORD n = 0;
  got = 0;
  if (!ReadFile(Opened::Of(*this), out.data(),
                DWORD(std::min<size_t>(out.size(), kLargestTransfer)), &n, nullptr)) {
    const DWORD code = GetLastError();
    // The other end of a pipe went away: the end of the input.
    return code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF ? Error{} : ErrorOf(code);
  }
  got = n;
  return {};
}

Error File::ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got) {
  HANDLE h = Opened::Of(*this);
  got = 0;
  return AtOffset(h, offset, [&](OVERLAPPED* at) {
    DWORD n = 0;
    if (!ReadFile(h, out.data(), DWORD(std::min<size_t>(out.size(), kLargestTransfer)), &n, at))
      return GetLastError() == ERROR_HANDLE_EOF ? Error{} : LastError();
    got = n;
    return Error{};
  });
}

namespace {

Error WriteAll(HANDLE h, std::span<const uint8_t> bytes, OVERLAPPED* at) {
  uint64_t offset = at != nullptr ? (uint64_t{at->OffsetHigh} << 32 | at->Offset) : 0;
  while (!bytes.empty()) {
    DWORD n = 0;
    if (!WriteFile(h, bytes.data(), DWORD(std::min<size_t>(bytes.size(), kLargestTransfer)), &n,
                   at))
      return LastError();
    if (n == 0) return ErrorOf(ERROR_DISK_FULL);
    bytes = bytes.subspan(n);
    if (at != nullptr) {
      offset += n;
      at->Offset = static_cast<DWORD>(offset);
      at->OffsetHigh = static_cast<DWORD>(offset >> 32);
    }
  }
  return {};
}

}  // namespace

Error File::Write(std::span<const uint8_t> bytes) {
  return WriteAll(Opened::Of(*this), bytes, nullptr);
}

Error File::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  HANDLE h = Opened::Of(*this);
  return AtOffset(h, offset, [&](OVERLAPPED* at) { return WriteAll(h, bytes, at); });
}

Error File::Position(uint64_t& position) {
  LARGE_INTEGER zero{}, at{};
  if (!SetFilePointerEx(Opened::Of(*this), zero, &at, FILE_CURRENT)) return LastError();
  position = static_cast<uint64_t>(at.QuadPart);
  return {};
}

Error File::Size(uint64_t& size) {
  LARGE_INTEGER n;
  if (!GetFileSizeEx(Opened::Of(*this), &n)) return LastError();
  size = static_cast<uint64_t>(n.QuadPart);
  return {};
}

Error File::Describe(uint64_t& size, bool& regular) {
  HANDLE h = Opened::Of(*this);
  BY_HANDLE_FILE_INFORMATION fi;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    size = 0;
    regular = false;
    return {};
  }
  if (!GetFileInformationByHandle(h, &fi)) return LastError();
  size = uint64_t{fi.nFileSizeHigh} << 32 | fi.nFileSizeLow;
  regular = (fi.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return {};
}

Error File::SetTimes(const FileTime& creation, const FileTime& lastAccess,
                     const FileTime& lastWrite) {
  const FILETIME c = WindowsTime(creation), a = WindowsTime(lastAccess), w = WindowsTime(lastWrite);
  return SetFileTime(Opened::Of(*this), &c, &a, &w) ? Error{} : LastError();
}

// Windows runs a file by its name, not by a mode.
Error File::MakeExecutable() { return {}; }
void File::MarkProgram() {}

Error File::Flush() { return FlushFileBuffers(Opened::Of(*this)) ? Error{} : LastError(); }

Error File::Close() {
  if (handle_ == -1) return {};
  const bool closed = CloseHandle(Opened::Of(*this)) != 0;
  handle_ = -1;
  return closed ? Error{} : LastError();
}

namespace {

std::atomic<uint32_t> gNameCounter{0};

// Six characters that differ from call to call and process to process.
std::string UniqueSuffix() {
  uint64_t seed = GetTickCount64() * 0x9E3779B97F4A7C15ULL ^
                  uint64_t { GetCurrentProcessId() } << 20 ^ gNameCounter.fetch_add(1);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    suffix += kLetters[(seed >> 33) % 36];
  }
  return suffix;
}

}  // namespace

Error CreateTemporaryBeside(const std::string& output, File& file, std::string& path) {
  size_t slash = output.rfind('/');
  std::string folder = slash == std::string::npos ? "" : output.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  for (int attempt = 0;; ++attempt) {
    const std::string name = folder + "." + base + "." + UniqueSuffix();
    const std::wstring wide = SystemPath(name);
    if (wide.size() >= sizeof gTemporaryPath / sizeof(wchar_t))
      return ErrorOf(ERROR_FILENAME_EXCED_RANGE);
    // Shared for deleting, so that an interrupt can remove it while open.
    HANDLE h =
        CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS && attempt < 100) continue;
      return LastError();
    }
    Opened::Set(file, h);
    path = name;
    wcscpy(gTemporaryPath, wide.c_str());
    SetConsoleCtrlHandler(RemoveTemporaryOnBreak, TRUE);
    return {};
  }
}

void ForgetTemporary() { gTemporaryPath[0] = 0; }

Error CreateSpill(const std::string& folder, File& file) {
  for (int attempt = 0;; ++attempt) {
    const std::wstring name = SystemPath(folder + "/.varnow-spill." + UniqueSuffix());
    HANDLE h =
        CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS && attempt < 100) continue;
      return LastError();
    }
    Opened::Set(file, h);
    return {};
  }
}

Error RenameNoReplace(const std::string& from, const std::string& to) {
  return MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(), MOVEFILE_WRITE_THROUGH)
             ? Error{}
             : LastError();
}

Error RenameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExW(SystemPath(from).c_str(), SystemPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? Error{}
             : LastError();
}

Error RemoveFile(const std::string& path) {
  return DeleteFileW(SystemPath(path).c_str()) ? Error{} : LastError();
}

Error TruncateFile(const std::string& path, uint64_t size) {
  HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  Error e = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h) ? Error{} : LastError();
  CloseHandle(h);
  return e;
}

void Interrupt() {
  RemoveTemporaryOnBreak(CTRL_C_EVENT);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

Error MakeFolders(const std::string& folder, std::string& failedAt) {
  for (size_t at = 0; at <= folder.size();) {
    size_t slash = folder.find('/', at);
    if (slash == std::string::npos) slash = folder.size();
    const std::string path = folder.substr(0, slash);
    at = slash + 1;
    // The root, a drive or a share's start: there already.
    if (path.empty() || path.back() == ':' || path == "/" || path.rfind("//", 0) == 0) continue;
    if (!CreateDirectoryW(SystemPath(path).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      failedAt = path;
      return LastError();
    }
  }
  return {};
}

// Folder handles are not shared for deleting: while one is open, the folder
// cannot be renamed or replaced by a link.
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

Error Folder::Open(const std::string& path, Folder& folder) {
  HANDLE h = CreateFileW(SystemPath(path).c_str(), kFolderAccess, kFolderShare, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  if ((AttributesOf(h) & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    CloseHandle(h);
    return ErrorOf(ERROR_DIRECTORY);
  }
  Opened::Set(folder, h, path);
  return {};
}

Error Folder::Enter(const std::string& name, Folder& child) const {
  const std::wstring w = Wide(name);
  if (!PlainName(w)) return ErrorOf(ERROR_INVALID_NAME);
  HANDLE h = nullptr;
  NTSTATUS status = OpenRelative(Opened::Of(*this), w, kFolderAccess, kFolderShare, FILE_OPEN_IF,
                                 FILE_DIRECTORY_FILE, h);
  if (!NT_SUCCESS(status)) {
    Error e = StatusError(status);
    const Found there = Find(name);
    if (there == Found::kLink)
      e.Kind = Failure::kIsLink;
    else if (there == Found::kFile)
      e.Kind = Failure::kNotFolder;
    return e;
  }
  if ((AttributesOf(h) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || Followed(Opened::Of(*this), w, h)) {
    CloseHandle(h);
    return Error{Failure::kIsLink, "a link or other reparse point"};
  }
  Opened::Set(child, h, path_ + "/" + name);
  return {};
}

Found Folder::Find(const std::string& name) const {
  const std::wstring w = Wide(name);
  HANDLE h = nullptr;
  if (!PlainName(w) || !NT_SUCCESS(OpenRelative(Opened::Of(*this), w, FILE_READ_ATTRIBUTES,
                                                kShareAll, FILE_OPEN, 0, h)))
    return Found::kNothing;
  const DWORD attributes = AttributesOf(h);
  const bool followed = Followed(Opened::Of(*this), w, h);
  CloseHandle(h);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Found::kFile;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || followed) return Found::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Found::kFolder : Found::kFile;
}

Error Folder::Remove(const std::string& name) const {
  const std::wstring w = Wide(name);
  if (!PlainName(w)) return ErrorOf(ERROR_INVALID_NAME);
  HANDLE h = nullptr;
  NTSTATUS status =
      OpenRelative(Opened::Of(*this), w, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, h);
  if (!NT_SUCCESS(status)) return StatusError(status);
  // Removing through a followed link would remove what it points to.
  if (Followed(Opened::Of(*this), w, h)) {
    CloseHandle(h);
    return Error{Failure::kIsLink, "this system cannot remove it without following it"};
  }
  FILE_DISPOSITION_INFO gone{TRUE};
  const bool removed = SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone) != 0;
  Error e = removed ? Error{} : LastError();
  CloseHandle(h);
  return e;
}

Error Folder::NewFile(const std::string& name, File& file) const {
  const std::wstring w = Wide(name);
  if (!PlainName(w)) return ErrorOf(ERROR_INVALID_NAME);
  HANDLE h = nullptr;
  NTSTATUS status = OpenRelative(Opened::Of(*this), w, GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ, FILE_CREATE, FILE_NON_DIRECTORY_FILE, h);
  if (!NT_SUCCESS(status)) return StatusError(status);
  Opened::Set(file, h);
  return {};
}

void Folder::Close() {
  if (handle_ != -1) CloseHandle(Opened::Of(*this));
  handle_ = -1;
}

bool ErrorIsTerminal() {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(err, &mode)) return false;
  // The progress line clears its end with an escape sequence.
  SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

namespace {

// The console input and the mode to put back, also on Ctrl-C.
HANDLE gConsoleInput = INVALID_HANDLE_VALUE;
DWORD gSavedMode = 0;

BOOL WINAPI PutBackEchoOnBreak(DWORD) {
  if (gConsoleInput != INVALID_HANDLE_VALUE) SetConsoleMode(gConsoleInput, gSavedMode);
  return FALSE;
}

bool ReadConsoleLine(HANDLE in, std::wstring& line) {
  line.clear();
  for (;;) {
    wchar_t buffer[256];
    DWORD n = 0;
    if (!ReadConsoleW(in, buffer, 256, &n, nullptr) || n == 0) return !line.empty();
    for (DWORD i = 0; i < n; ++i) {
      if (buffer[i] == L'\r' || buffer[i] == L'\n') return true;
      line += buffer[i];
    }
  }
}

}  // namespace

std::optional<std::vector<std::string>> AskHidden(const std::vector<std::string>& prompts) {
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return std::nullopt;
  }
  gConsoleInput = in;
  gSavedMode = mode;
  SetConsoleCtrlHandler(PutBackEchoOnBreak, TRUE);
  SetConsoleMode(in, (mode & ~DWORD{ENABLE_ECHO_INPUT}) | ENABLE_LINE_INPUT);
  std::vector<std::string> answers;
  for (const std::string& prompt : prompts) {
    const std::wstring w = Wide(prompt);
    DWORD written = 0;
    WriteConsoleW(out, w.c_str(), DWORD(w.size()), &written, nullptr);
    std::wstring line;
    const bool read = ReadConsoleLine(in, line);
    // The line end was not echoed either.
    WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
    if (!read) break;
    answers.push_back(Narrow(line));
  }
  SetConsoleMode(in, mode);
  SetConsoleCtrlHandler(PutBackEchoOnBreak, FALSE);
  gConsoleInput = INVALID_HANDLE_VALUE;
  CloseHandle(in);
  CloseHandle(out);
  return answers;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  // Output bytes as they are: UTF-8 text, line feeds not widened.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Narrow(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return arguments;
}

namespace {

// "CP1252" -> 1252, "UTF-8" -> 65001; 0 when the name is none of those.
UINT CodePageNumber(const std::string& name) {
  if (name == "UTF-8") return CP_UTF8;
  if (name.size() < 3 || name.compare(0, 2, "CP") != 0) return 0;
  UINT n = 0;
  for (size_t i = 2; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return 0;
    n = n * 10 + UINT(name[i] - '0');
  }
  return n;
}

// The characters of text in code page cp, or nullopt when some byte means nothing there.
std::optional<std::wstring> WideFrom(UINT cp, const char* text, size_t length) {
  if (length == 0) return std::wstring();
  int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text, int(length), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text, int(length), out.data(), n);
  return out;
}

}  // namespace

bool CodePageKnown(const std::string& name) {
  UINT cp = CodePageNumber(name);
  return cp != 0 && IsValidCodePage(cp);
}

size_t ToUtf8From(const std::string& name, const std::string& text, size_t at, std::string& out) {
  const UINT cp = CodePageNumber(name);
  if (std::optional<std::wstring> whole = WideFrom(cp, text.data() + at, text.size() - at)) {
    out += Narrow(*whole);
    return text.size();
  }
  // Character by character up to the first byte that means nothing.
  while (at < text.size()) {
    const size_t length = IsDBCSLeadByteEx(cp, static_cast<BYTE>(text[at])) ? 2 : 1;
    if (at + length > text.size()) break;
    std::optional<std::wstring> one = WideFrom(cp, text.data() + at, length);
    if (!one) break;
    out += Narrow(*one);
    at += length;
  }
  return at;
}

std::optional<std::string> FromUtf8To(const std::string& name, const std::string& text) {
  const UINT cp = CodePageNumber(name);
  std::optional<std::wstring> wide = WideFrom(CP_UTF8, text.data(), text.size());
  if (!wide || cp == 0) return std::nullopt;
  if (wide->empty()) return std::string();
  int n = WideCharToMultiByte(cp, 0, wide->data(), int(wide->size()), nullptr, 0, nullptr, nullptr);
  if (n == 0) return std::nullopt;
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(cp, 0, wide->data(), int(wide->size()), out.data(), n, nullptr, nullptr);
  // No guessing: a character replaced by a default or a look-alike does not
  // come back as itself.
  std::optional<std::wstring> back = WideFrom(cp, out.data(), out.size());
  if (!back || *back != *wide) return std::nullopt;
  return out;
}

}  // namespace host
