// The run's record and its start state.
#include "driver/expander_state.h"

ExpanderState gState;

void ResetExpanderState() {
  gState.Console.InputEnded = false;
  gState.Console.DropLineFeed = false;
  gState.RunAfter[0] = 0;
  gState.OriginalSize = 0;
  gState.Stream.ArchiveFile = kNoFile;
  gState.Stream.ArchiveSize = 0;
  gState.Stream.BlockDataLength = 0;
  gState.Stream.ConsumedCount = 0;
  gState.Stream.EndOfArchive = false;
  gState.Stream.IsProtected = false;
  gState.Stream.CheckValue = 0;
  gState.Stream.KeyPosition = 1;
  gState.Stream.Password[0] = 0;
  gState.Stream.PasswordLength = 0;
  gState.Entries.EntryName[0] = 0;
  gState.Entries.EntryNameLength = 0;
  gState.Entries.PreviousName[0] = 0;
  gState.Entries.PreviousNameLength = 0;
  gState.Entries.Skipping = false;
  gState.OutputFile = kNoFile;
}
