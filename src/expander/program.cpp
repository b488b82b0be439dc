// The run: open and check the archive, unlock it, expand every entry, launch
// the run-after command, exit 0.
#include "expander/program.h"

#include "expander/expander_state.h"
#include "runtime/console.h"
#include "runtime/messages.h"

void LaunchRunAfter() {
  if (gState.RunAfter[0] == 0) return;
  if (!SysOpenDocument(gState.RunAfter)) {
    WriteText(kCouldNotRun);
    int32_t n = 0;
    while (gState.RunAfter[n] != 0) ++n;
    WriteArchiveText(gState.RunAfter, n);
    WriteText("\a");
    EndLine();
  }
}

int ExpanderMain() {
  ResetExpanderState();
  OpenArchive();
  PasswordGate();
  ExpandAllEntries();
  LaunchRunAfter();
  return kExitDone;
}
