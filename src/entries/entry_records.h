// Entry records: front-compressed names, folder entries, and the header of a
// file entry. Shared by the expander's entry loop and the writer's reader.
#pragma once

#include <stdint.h>

#include "container/block_stream.h"
#include "format/format.h"
#include "platform/platform.h"

struct EntryHeader {
  FileTime CreationTime;
  FileTime LastAccessTime;
  FileTime LastWriteTime;
  int32_t FileSize;       // bytes of the expanded file
  int32_t StoredRefBack;  // as stored: 0 is the slot before, without a prefix
  int32_t RefBack;        // slots back to the reference, 1 to 255 (a stored 0 reads as 1)
  int32_t PrefixLength;   // verbatim prefix taken from the reference
};

struct EntryState {
  char EntryName[kNameLimit];  // name of the current entry, zero-terminated
  int32_t EntryNameLength;
  char PreviousName[kNameLimit];  // name of the entry before
  int32_t PreviousNameLength;
  EntryHeader Header;  // header of the current file entry
  bool WindowsNames;   // names are held to what Windows reads specially too
  bool Skipping;       // current file is decoded but not written
  bool NameIsLink;     // the current file's name is taken by a link
};

// Reads the name into EntryName and checks that it stays inside the current
// folder; a refused name stops the run as broken.
void ReadEntryName(EntryState& e, BlockStream& s);
bool IsFolderEntry(const EntryState& e);
// Reads the times and size, RefBack and PrefixLength of a file entry.
void ReadFileHeader(EntryHeader& h, BlockStream& s);
// Refuses empty names and names that leave the current folder. windowsRules
// adds what Windows reads specially: a colon (drive or stream) and components
// of dots and blanks only, which it trims to "..".
bool IsSafeNameFor(const char* name, int32_t length, bool windowsRules);
