// The output window. A flush happens only when a byte arrives for a full
// buffer: it hands on the oldest 32 KiB (less the dictionary on the entry's
// first flush) and slides the newest 16 KiB to the front. A skipped file
// slides exactly the same and hands on nothing.
#include "codec/output_window.h"

#include "driver/expander_state.h"

void StartWindow(const uint8_t* dictionary, int32_t dictionaryLength) {
  OutputWindow& w = gState.Window;
  __builtin_memcpy(w.WindowBuffer, dictionary, static_cast<uint32_t>(dictionaryLength));
  w.WindowPosition = static_cast<uint32_t>(dictionaryLength);
  w.WindowBase = 0;
  w.WriteStart = dictionaryLength;
}

void PutByte(uint8_t byte) {
  OutputWindow& w = gState.Window;
  if (w.WindowPosition - w.WindowBase >= static_cast<uint32_t>(kWindowSize)) {
    if (!gState.Entries.Skipping) {
      DeliverOutput(w.WindowBuffer + w.WriteStart, kFlushSize - w.WriteStart);
    }
    w.WriteStart = 0;
    __builtin_memmove(w.WindowBuffer, w.WindowBuffer + kFlushSize, kKeepSize);
    w.WindowBase += kFlushSize;
  }
  w.WindowBuffer[w.WindowPosition - w.WindowBase] = byte;
  CaptureHistoryByte(byte);
  ++w.WindowPosition;
}

void FinalFlush() {
  OutputWindow& w = gState.Window;
  int32_t held = static_cast<int32_t>(w.WindowPosition - w.WindowBase);
  if (held > 0) DeliverOutput(w.WindowBuffer + w.WriteStart, held - w.WriteStart);
}
