// ExpandAllEntries: every record in order until the block stream has handed
// out its last byte. The whole header of a file entry is read and checked
// before the user is asked anything or anything is made.
#include "codec/output_window.h"
#include "driver/expander_state.h"
#include "driver/fatal_stop.h"
#include "entries/entry_records.h"
#include "entries/entry_steps.h"
#include "entries/files_folders.h"
#include "entries/history.h"

static void ExpandOneEntry() {
  EntryState& e = gState.Entries;
  ReadEntryName();
  if (IsFolderEntry()) {
    MakeFolders(e.EntryName, e.EntryNameLength - 1);
    return;
  }
  ReadFileEntryHeader();
  AskOverwrite();
  MakeFolders(e.EntryName, FolderPart(e.EntryName));
  if (!e.Skipping) CreateOutputFile(PrefixBytes(), e.Header.PrefixLength);
  DecodeFileEntry(e.Skipping ? nullptr : WriteOutputFile, nullptr);
  if (!e.Skipping) FinishOutputFile();
  AdvanceSlot();
}

void ExpandAllEntries() {
  gState.Stream.EndOfArchive = false;
  PrepareHistory();
  do {
    ExpandOneEntry();
  } while (!gState.Stream.EndOfArchive);
  bool closed = SysCloseFile(gState.Stream.ArchiveFile);
  gState.Stream.ArchiveFile = kNoFile;
  if (!closed) ReadError();
}
