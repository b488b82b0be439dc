// The entry loop's shell, shared by the expander and the writer's reader:
// every record in order until the block stream has handed out its last byte.
// For each file entry the whole header is read and its reference chosen
// before the caller is asked anything; what is done with a folder, with the
// file's bytes and at its end is the caller's, through its handlers.
#pragma once

#include <stdint.h>

#include "codec/decoder.h"
#include "codec/output_window.h"
#include "container/block_stream.h"
#include "entries/entry_records.h"
#include "entries/history.h"

// What the entry steps work on from the first entry to the last. The
// expander's record holds one; the writer's reader holds its own.
struct EntryLoopState {
  BlockStream Stream;    // the checked payload after the archive header
  EntryState Entries;    // names and the current file entry's header
  HistoryState History;  // the reference ring
  DecoderState Decoder;  // trees, tables, counters
  OutputWindow Window;   // write buffer and match history
};

// The start state of everything but the big buffers, before an archive is
// opened: no file, nothing read, no password, no previous name.
void ResetEntryLoop(EntryLoopState& x, bool windowsNames);

struct EntryHandlers {
  // A folder entry's name has been read.
  void (*Folder)(void* context);
  // A file entry's header has been read and its reference chosen: returns
  // where its bytes go (its prefix is the caller's to take from PrefixBytes),
  // or none to decode it without them.
  OutputSink (*BeginFile)(void* context);
  // All its bytes are decoded and captured; those asked for were handed on
  // except what the window still holds (FinalFlush).
  void (*EndFile)(void* context);
  void* Context;
};

// Runs the loop over the archive that x.Stream is set to, with slot 0 holding
// the core image. A failure leaves through the stop routines.
void WalkEntries(EntryLoopState& x, const uint8_t* coreImage, const EntryHandlers& handlers);

// The steps WalkEntries takes for a file entry. Reads the header into
// Entries.Header, sets the length of the current history slot and chooses
// the reference.
void ReadFileEntryHeader(EntryLoopState& x);
// Copies the prefix into the current slot, starts the window with the
// dictionary and decodes FileSize - PrefixLength bytes into sink.
void DecodeFileEntry(EntryLoopState& x, OutputSink sink, void* context);
