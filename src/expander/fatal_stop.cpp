// The fatal stop: the one way out after a read error, a write error or a
// damaged archive. A partly written output file is always deleted, whether or
// not its close succeeds; files finished earlier were closed and stay. The
// message depends on the kind of stop only, not on its reason.
#include "expander/expander_state.h"
#include "runtime/console.h"
#include "runtime/messages.h"
#include "runtime/stop.h"

[[noreturn]] static void FatalStop(const char* message) {
  WriteLine(message);
  SysCloseFile(gState.Loop.Stream.ArchiveFile);
  gState.Loop.Stream.ArchiveFile = kNoFile;
  if (gState.OutputFile != kNoFile) {
    SysCloseFile(gState.OutputFile);
    gState.OutputFile = kNoFile;
    SysDeleteFile(gState.Loop.Entries.EntryName);
  }
  WriteLine(kPressEnter);
  WaitForEnter();
  SysExit(kExitFailed);
}

void ReadError(StopReason) { FatalStop(kReadErrorMessage); }
void WriteError(StopReason) { FatalStop(kWriteErrorMessage); }
void BrokenError(StopReason) { FatalStop(kBrokenMessage); }
