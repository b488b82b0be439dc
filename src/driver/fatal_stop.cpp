// The fatal stop: the one way out after a read error, a write error or a
// damaged archive. A partly written output file is always deleted, whether or
// not its close succeeds; files finished earlier were closed and stay.
#include "driver/fatal_stop.h"

#include "driver/expander_state.h"
#include "driver/messages.h"

void FatalStop() {
  SysCloseFile(gState.Stream.ArchiveFile);
  gState.Stream.ArchiveFile = kNoFile;
  if (gState.OutputFile != kNoFile) {
    SysCloseFile(gState.OutputFile);
    gState.OutputFile = kNoFile;
    SysDeleteFile(gState.Entries.EntryName);
  }
  WriteLine(kPressEnter);
  WaitForEnter();
  SysExit(kExitFailed);
}

void ReadError() {
  WriteLine(kReadErrorMessage);
  FatalStop();
}

void WriteError() {
  WriteLine(kWriteErrorMessage);
  FatalStop();
}

void BrokenError() {
  WriteLine(kBrokenMessage);
  FatalStop();
}
