// The one seam between the expander and the operating system.
// Every service the core needs is declared here in the system's own terms; the
// backend is chosen at link time: win32/ (the real calls), posix/ (the Linux
// port) or the in-memory fake of tests/support/. No backend keeps resources
// that a process exit in the middle of a run would leak.
#pragma once

#include <stdint.h>

using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;  // no file open / open failed

// A file time as stored in the archive: 100-nanosecond intervals since 1601.
struct FileTime {
  uint32_t Low;
  uint32_t High;
};

enum ItemKind : int32_t {
  kItemNone = 0,    // nothing of that name
  kItemFile = 1,    // something that is not a folder
  kItemFolder = 2,  // a folder (directory attribute set)
  kItemLink = 3,    // a link or other reparse point: never taken as a folder, never written through
};

// The running program's own file, opened for reading, shared for reading only.
FileHandle SysOpenOwnFile();
// Bytes read (0 at the end of the file), or -1 on an error of the system.
int32_t SysReadFile(FileHandle file, void* buffer, int32_t count);
// Reads count bytes from offset on, leaving the read position where it was:
// bytes read (fewer only at the end of the file), or -1 on an error.
int32_t SysReadAt(FileHandle file, int32_t offset, void* buffer, int32_t count);
// Bytes written, or -1 on an error of the system.
int32_t SysWriteFile(FileHandle file, const void* data, int32_t count);
// Size and read position in bytes; -1 on error or when not representable.
int32_t SysFileSize(FileHandle file);
int32_t SysFilePosition(FileHandle file);
// False when the close fails, and always for kNoFile.
bool SysCloseFile(FileHandle file);
bool SysDeleteFile(const char* name);
// Creates the file anew (empties it if it exists) for reading and writing,
// shared for reading. kNoFile on failure.
FileHandle SysCreateFile(const char* name);
// Does an item of this name exist, and is it a folder.
ItemKind SysFindItem(const char* name);
bool SysCreateFolder(const char* name);
// The last call on a file before its close, its content complete. Where
// running needs a permission bit (Linux), a file that begins as a program
// does ("#!" or the ELF magic) is also made executable here.
bool SysSetFileTimes(FileHandle file, const FileTime* creation, const FileTime* lastAccess,
                     const FileTime* lastWrite);
// Steps over one character of the system's multibyte code page; never steps
// past the terminating zero.
const char* SysNextChar(const char* text);
// Opens the text with its default action (a program is started, a document is
// opened by its application). False when nothing could be started.
bool SysOpenDocument(const char* text);

// Console output: written and flushed before the call returns.
void SysConsoleWrite(const void* data, int32_t count);
// The same for text that comes from the archive (names, comment, command); a
// backend may neutralise terminal control sequences in it.
void SysConsoleWriteText(const void* data, int32_t count);
// One byte of standard input, 0 to 255, or -1 at the end of input.
int32_t SysConsoleReadByte();
// Standard input's console mode in the Windows console's bits. False when
// standard input is no console (a file or a pipe). The core sets only the
// mode read or that mode less kEchoInput. Should the run end (an exit, or
// Ctrl-C) while echo is off, the backend puts back the mode read.
inline constexpr uint32_t kEchoInput = 0x0004;  // typed characters are shown
bool SysGetInputMode(uint32_t* mode);
bool SysSetInputMode(uint32_t mode);
[[noreturn]] void SysExit(int32_t code);

// The program: each backend's entry point runs it and ends the process with
// its result. Defined above this seam, by the expander.
int ExpanderMain();

// How this backend ends an output line, and whether a line feed alone ends an
// input line (otherwise only a carriage return does).
extern const char kLineEnd[];
extern const bool kLineFeedEndsInput;
// Whether a colon in an entry name can name a drive or a stream.
extern const bool kColonIsSpecial;
