// The run's record and its start state.
#include "expander/expander_state.h"

#include "runtime/console.h"

ExpanderState gState;

void ResetExpanderState() {
  ResetConsole();
  ResetEntryLoop(gState.Loop, kColonIsSpecial);
  gState.RunAfter[0] = 0;
  gState.OriginalSize = 0;
  gState.OutputFile = kNoFile;
}
