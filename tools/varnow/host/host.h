// The tool's one seam to the system it runs on: files, folders, their times,
// the console, threads' cleanup and code-page conversion. Paths and names
// are UTF-8 with '/' between folders whatever the system; errors carry the
// system's own words. host_posix.cpp backs it on Linux, host_win32.cpp on
// Windows (wide calls, \\?\ paths, handles); the commands call nothing else.
#pragma once

#include <stdint.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace host {

enum class Failure { kNone, kMissing, kExists, kLoop, kNotFolder, kIsLink, kNoSpace, kOther };

struct Error {
  Failure Kind = Failure::kNone;
  std::string Text;  // the system's words for it
  explicit operator bool() const { return Kind != Failure::kNone; }
};

// The system's words for the last failed call of the shared reading code.
std::string LastErrorText();

// The code page a Windows distributable's names are stored in unless the
// command says otherwise: the system's ANSI code page where there is one.
std::string DefaultWindowsCodePage();

// A path given on the command line or in a list, with '/' between folders.
std::string NormalPath(std::string path);
bool IsAbsolute(const std::string& path);
// The absolute form, '/' separated; empty when it cannot be had.
std::string FullPath(const std::string& path);

struct ItemInfo {
  bool IsFolder = false;
  uint64_t Size = 0;
  FileTime Creation{0, 0};  // where the system keeps none: the last write
  FileTime LastAccess{0, 0};
  FileTime LastWrite{0, 0};
  uint64_t Device = 0;  // with Identity: the same pair is the same item
  uint64_t Identity = 0;
  // Where finding the pair costs an open (Windows), a plain file's is left
  // for Identify to find when it is needed.
  bool IdentityKnown = true;
};

enum class Probe { kFile, kFolder, kOther, kDangling, kLoop, kMissing, kError };
// What is at path, links followed to what they point to.
Probe ProbePath(const std::string& path, ItemInfo& info, Error& error);
// Device and Identity of what is at path, when not yet known.
Error Identify(const std::string& path, ItemInfo& info);
// The names in a folder, without "." and "..".
Error ListFolder(const std::string& path, std::vector<std::string>& names);

class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = -1;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Shared with other readers and writers, as a file read on Linux is.
  static Error OpenToRead(const std::string& path, File& file);
  static Error OpenStandardInput(File& file);

  // got 0: the end of the file.
  Error Read(std::span<uint8_t> out, size_t& got);
  Error ReadAt(uint64_t offset, std::span<uint8_t> out, size_t& got);
  // All of bytes, at the position or at offset.
  Error Write(std::span<const uint8_t> bytes);
  Error WriteAt(uint64_t offset, std::span<const uint8_t> bytes);
  Error Position(uint64_t& position);
  Error Size(uint64_t& size);
  // Size, and whether it is a plain file (not a folder, device or pipe).
  Error Describe(uint64_t& size, bool& regular);
  // The three times; a system that keeps no creation time ignores it.
  Error SetTimes(const FileTime& creation, const FileTime& lastAccess, const FileTime& lastWrite);
  // A distributable: executable by whom the umask allows, where files have modes.
  Error MakeExecutable();
  // A file that begins as a program does: execute added where read is allowed.
  void MarkProgram();
  Error Flush();
  Error Close();
  bool IsOpen() const { return handle_ != -1; }
  // The system's handle, for the shared reading code's FileHandle.
  intptr_t Handle() const { return handle_; }

 private:
  friend struct Opened;
  intptr_t handle_ = -1;
};

// A new file beside output named ".<name>.<random>", returned in path; it
// is removed should the process be interrupted before ForgetTemporary.
Error CreateTemporaryBeside(const std::string& output, File& file, std::string& path);
void ForgetTemporary();
// An unnamed (or at once removed) file in folder that vanishes with the
// process however it ends.
Error CreateSpill(const std::string& folder, File& file);
// Fails with kExists, leaving both, when to exists.
Error RenameNoReplace(const std::string& from, const std::string& to);
Error RenameReplacing(const std::string& from, const std::string& to);
Error RemoveFile(const std::string& path);
Error TruncateFile(const std::string& path, uint64_t size);
// Ends the process as an interrupt would, the temporary removed first.
[[noreturn]] void Interrupt();
// Makes every folder along path that is missing, following what is there;
// failedAt: the part of path that could not be made.
Error MakeFolders(const std::string& path, std::string& failedAt);

enum class Found { kNothing, kFile, kFolder, kLink };

// An open folder. Everything below it is reached relative to it, and never
// through a link or other reparse point.
class Folder {
 public:
  Folder() = default;
  ~Folder() { Close(); }
  Folder(Folder&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
    other.handle_ = -1;
  }
  Folder& operator=(Folder&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      path_ = std::move(other.path_);
      other.handle_ = -1;
    }
    return *this;
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  // The destination the user named (links in its path followed).
  static Error Open(const std::string& path, Folder& folder);
  // The folder name inside, made when missing: kIsLink for a link,
  // kNotFolder for a file of that name.
  Error Enter(const std::string& name, Folder& child) const;
  Found Find(const std::string& name) const;
  Error Remove(const std::string& name) const;
  // A new file, refused when anything of that name exists.
  Error NewFile(const std::string& name, File& file) const;
  void Close();
  bool IsOpen() const { return handle_ != -1; }

 private:
  friend struct Opened;
  intptr_t handle_ = -1;
  std::string path_;  // for systems that name children by path
};

// Standard error is a terminal (or console) that a progress line can redraw.
bool ErrorIsTerminal();
// Asks on the terminal with typed characters hidden; nullopt when there is
// no terminal. The echo comes back on every way out.
std::optional<std::vector<std::string>> AskHidden(const std::vector<std::string>& prompts);
// The command line as UTF-8 (Windows gives it as UTF-16), and the console
// made to take UTF-8 and line feeds as they are.
std::vector<std::string> Arguments(int argc, char** argv);

// Code-page conversion. name: a code page as ParseCodePage found it
// ("CP1252", "UTF-8"...).
bool CodePageKnown(const std::string& name);
// Converts text[at...] to UTF-8 as far as it goes; returns where it stopped.
size_t ToUtf8From(const std::string& name, const std::string& text, size_t at, std::string& out);
// The whole UTF-8 text in the code page; nullopt when a character has no counterpart.
std::optional<std::string> FromUtf8To(const std::string& name, const std::string& text);

}  // namespace host
