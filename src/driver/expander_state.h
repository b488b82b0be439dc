// ExpanderState: the one record of a run, alive from start to exit, its fields
// grouped by the module that owns them. The big buffers are static storage:
// they cost no file bytes and no allocation.
#pragma once

#include <stdint.h>

#include "codec/decoder.h"
#include "codec/output_window.h"
#include "container/archive_header.h"
#include "container/block_stream.h"
#include "driver/console.h"
#include "entries/entry_records.h"
#include "entries/history.h"
#include "platform/platform.h"

struct ExpanderState {
  ConsoleState Console;           // driver: input line conventions
  char RunAfter[kRunAfterLimit];  // container: command launched after expansion
  uint8_t CoreImage[kCoreSize];   // container: first 20480 bytes of the own file
  int32_t OriginalSize;           // container: stored size of the distributable
  BlockStream Stream;             // container: block stream and protection
  DecoderState Decoder;           // codec: trees, bit reader, counters
  OutputWindow Window;            // codec: write buffer and match history
  EntryState Entries;             // entries: names, header, Skipping
  HistoryState History;           // entries: the reference ring
  FileHandle OutputFile;          // entries: the file being expanded, or kNoFile
};

extern ExpanderState gState;

// Puts the record in its start state (the tests run many expansions in one process).
void ResetExpanderState();

// The whole run: returns the exit code.
int ExpanderMain();
void LaunchRunAfter();
