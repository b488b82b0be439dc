// ExpandAllEntries: the shared entry loop with the expander's handlers. A
// folder entry makes its folders; a file entry asks before replacing, makes
// its folders and, unless skipped, the file with its prefix, its bytes, its
// times and its close.
#include "expander/expander_state.h"
#include "expander/files_folders.h"
#include "expander/program.h"
#include "runtime/stop.h"

static void MakeFolderEntry(void*) {
  const EntryState& e = gState.Loop.Entries;
  MakeFolders(e.EntryName, e.EntryNameLength - 1);
}

static OutputSink BeginFileEntry(void*) {
  EntryState& e = gState.Loop.Entries;
  AskOverwrite();
  MakeFolders(e.EntryName, FolderPart(e.EntryName));
  if (e.Skipping) return nullptr;
  CreateOutputFile(PrefixBytes(gState.Loop.History), e.Header.PrefixLength);
  return WriteOutputFile;
}

static void EndFileEntry(void*) {
  if (!gState.Loop.Entries.Skipping) FinishOutputFile();
}

void ExpandAllEntries() {
  static const EntryHandlers kHandlers = {MakeFolderEntry, BeginFileEntry, EndFileEntry, nullptr};
  WalkEntries(gState.Loop, gState.CoreImage, kHandlers);
  bool closed = SysCloseFile(gState.Loop.Stream.ArchiveFile);
  gState.Loop.Stream.ArchiveFile = kNoFile;
  if (!closed) ReadError(kStopCloseFailed);
}
