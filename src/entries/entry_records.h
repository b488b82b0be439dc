// Entry records: front-compressed names, folder entries, and the header of a
// file entry. Shared by the expander's entry loop and the writer's reader.
#pragma once

#include <stdint.h>

#include "platform/platform.h"

inline constexpr int32_t kNameLimit = 32768;  // longest entry name, with its zero
inline constexpr uint8_t kSharedNameMark = '*';

struct EntryHeader {
  FileTime CreationTime;
  FileTime LastAccessTime;
  FileTime LastWriteTime;
  int32_t FileSize;      // bytes of the expanded file
  int32_t RefBack;       // slots back to the reference, 1 to 255 (a stored 0 reads as 1)
  int32_t PrefixLength;  // verbatim prefix taken from the reference
};

struct EntryState {
  char EntryName[kNameLimit];  // name of the current entry, zero-terminated
  int32_t EntryNameLength;
  char PreviousName[kNameLimit];  // name of the entry before
  int32_t PreviousNameLength;
  EntryHeader Header;  // header of the current file entry
  bool Skipping;       // current file is decoded but not written
  bool NameIsLink;     // the current file's name is taken by a link
};

// Reads the name into EntryName and checks that it stays inside the current
// folder; a refused name stops the run as broken.
void ReadEntryName();
bool IsFolderEntry();
// Reads the 28 header bytes, RefBack and PrefixLength of a file entry.
void ReadFileHeader();
// Refuses empty names and names that leave the current folder. windowsRules
// adds what Windows reads specially: a colon (drive or stream) and components
// of dots and blanks only, which it trims to "..".
bool IsSafeNameFor(const char* name, int32_t length, bool windowsRules);
inline bool IsSafeName(const char* name, int32_t length) {
  return IsSafeNameFor(name, length, kColonIsSpecial);
}

void ExpandAllEntries();
