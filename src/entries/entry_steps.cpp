// One entry's steps, in the order that keeps every check before any effect:
// the whole header is read and its reference chosen before the caller asks or
// makes anything.
#include "entries/entry_steps.h"

void ResetEntryLoop(EntryLoopState& x, bool windowsNames) {
  BlockStream& s = x.Stream;
  s.ArchiveFile = kNoFile;
  s.ArchiveSize = 0;
#ifndef VARNOW_NO_SIGNATURES
  s.CertificateFollows = false;
#endif
  s.BlockDataLength = 0;
  s.ConsumedCount = 0;
  s.EndOfArchive = false;
  s.IsProtected = false;
  s.CheckValue = 0;
  s.KeyPosition = 1;
  s.Password[0] = 0;
  s.PasswordLength = 0;
  EntryState& e = x.Entries;
  e.EntryName[0] = 0;
  e.EntryNameLength = 0;
  e.PreviousName[0] = 0;
  e.PreviousNameLength = 0;
  e.WindowsNames = windowsNames;
  e.Skipping = false;
}

void ReadFileEntryHeader(EntryLoopState& x) {
  EntryHeader& h = x.Entries.Header;
  ReadFileHeader(h, x.Stream);
  SetCurrentLength(x.History, h.FileSize);
  SelectReference(x.History, h.RefBack, h.PrefixLength, h.FileSize);
}

void DecodeFileEntry(EntryLoopState& x, OutputSink sink, void* context) {
  const EntryHeader& h = x.Entries.Header;
  CopyPrefix(x.History);
  x.Window.Sink = sink;
  x.Window.SinkContext = context;
  LoadDictionary(x.History, x.Window);
  ResetDecoder(x.Decoder);
  DecodeEntryData(x.Decoder, x.Stream, x.Window, h.FileSize - h.PrefixLength);
}

void WalkEntries(EntryLoopState& x, const uint8_t* coreImage, const EntryHandlers& handlers) {
  x.Stream.EndOfArchive = false;
  PrepareHistory(x.History, coreImage);
  do {
    ReadEntryName(x.Entries, x.Stream);
    if (IsFolderEntry(x.Entries)) {
      handlers.Folder(handlers.Context);
    } else {
      ReadFileEntryHeader(x);
      OutputSink sink = handlers.BeginFile(handlers.Context);
      DecodeFileEntry(x, sink, handlers.Context);
      handlers.EndFile(handlers.Context);
      AdvanceSlot(x.History);
    }
  } while (!x.Stream.EndOfArchive);
}
