// The steps of a file entry after its name (ReadEntryName, IsFolderEntry),
// shared by the expander's entry loop and the writer's reader: read the
// header, then decode the data into a sink (none while the file is skipped).
// What is done with a folder, the file's prefix and its end is the caller's.
#pragma once

#include <stdint.h>

#include "codec/output_window.h"

// Reads the header into EntryState, sets the length of the current history
// slot and chooses the reference.
void ReadFileEntryHeader();
// Copies the prefix into the current slot, starts the window with the
// dictionary and decodes FileSize - PrefixLength bytes into sink.
void DecodeFileEntry(OutputSink sink, void* context);
