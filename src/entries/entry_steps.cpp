// One entry's steps, in the order that keeps every check before any effect:
// the whole header is read and its reference chosen before the caller asks or
// makes anything.
#include "entries/entry_steps.h"

#include "codec/decoder.h"
#include "driver/expander_state.h"
#include "entries/entry_records.h"
#include "entries/history.h"

void ReadFileEntryHeader() {
  ReadFileHeader();
  const EntryHeader& h = gState.Entries.Header;
  SetCurrentLength(h.FileSize);
  SelectReference(h.RefBack, h.PrefixLength, h.FileSize);
}

void DecodeFileEntry(OutputSink sink, void* context) {
  const EntryHeader& h = gState.Entries.Header;
  CopyPrefix();
  gState.Window.Sink = sink;
  gState.Window.SinkContext = context;
  LoadDictionary(gState.Window);
  ResetDecoder(gState.Decoder);
  DecodeEntryData(gState.Decoder, gState.Stream, gState.Window, h.FileSize - h.PrefixLength);
}
