// ExpanderState: the one record of a run, alive from start to exit. The big
// buffers are static storage: they cost no file bytes and no allocation.
#pragma once

#include <stdint.h>

#include "entries/entry_steps.h"
#include "format/format.h"
#include "platform/platform.h"

struct ExpanderState {
  EntryLoopState Loop;            // block stream, entries, history, decoder, window
  char RunAfter[kRunAfterLimit];  // command launched after expansion
  uint8_t CoreImage[kCoreSize];   // first 20480 bytes of the own file
  int32_t OriginalSize;           // stored size of the distributable
  FileHandle OutputFile;          // the file being expanded, or kNoFile
};

extern ExpanderState gState;

// Puts the record in its start state (the tests run many expansions in one process).
void ResetExpanderState();
