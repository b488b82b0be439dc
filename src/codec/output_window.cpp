// The output window. A flush happens only when a byte arrives for a full
// buffer: it hands on the oldest 32 KiB (less the dictionary on the entry's
// first flush) and slides the newest 16 KiB to the front. A skipped file
// slides exactly the same and hands on nothing.

#include "codec/speed_first.h"
// (first: it applies to all that follows)
#include "codec/output_window.h"

void StartWindow(OutputWindow& w, const uint8_t* dictionary, int32_t dictionaryLength,
                 uint8_t* captureSlot, int32_t captureOffset, int32_t captureCapacity) {
  __builtin_memcpy(w.WindowBuffer, dictionary, static_cast<uint32_t>(dictionaryLength));
  w.WindowPosition = static_cast<uint32_t>(dictionaryLength);
  w.WindowBase = 0;
  w.WriteStart = dictionaryLength;
  w.CaptureSlot = captureSlot;
  w.CaptureOffset = captureOffset;
  w.CaptureCapacity = captureCapacity;
  w.CapturedUpTo = w.WindowPosition;
}

void CaptureHistory(OutputWindow& w) {
  // Once the slot is full nothing more is kept.
  int32_t room = w.CaptureCapacity - w.CaptureOffset;
  int32_t count = static_cast<int32_t>(w.WindowPosition - w.CapturedUpTo);
  if (count > room) count = room;
  if (count <= 0) return;
  __builtin_memcpy(w.CaptureSlot + w.CaptureOffset,
                   w.WindowBuffer + (w.CapturedUpTo - w.WindowBase), static_cast<uint32_t>(count));
  w.CaptureOffset += count;
  w.CapturedUpTo += static_cast<uint32_t>(count);
}

void FlushWindow(OutputWindow& w) {
  CaptureHistory(w);
  if (w.Sink != nullptr)
    w.Sink(w.SinkContext, w.WindowBuffer + w.WriteStart, kFlushSize - w.WriteStart);
  w.WriteStart = 0;
  __builtin_memmove(w.WindowBuffer, w.WindowBuffer + kFlushSize, kKeepSize);
  w.WindowBase += kFlushSize;
  // Bytes the slot no longer wants may have slid out; it never asks for them.
  if (w.CapturedUpTo < w.WindowBase) w.CapturedUpTo = w.WindowBase;
}

void CopyMatch(OutputWindow& w, uint32_t distance, int32_t length) {
  while (length > 0) {
    if (w.WindowPosition - w.WindowBase >= static_cast<uint32_t>(kWindowSize)) FlushWindow(w);
    int32_t at = static_cast<int32_t>(w.WindowPosition - w.WindowBase);
    int32_t count = kWindowSize - at;
    if (count > length) count = length;
    uint8_t* to = w.WindowBuffer + at;
    const uint8_t* from = to - distance;
    if (distance >= 8) {
      // Each 8-byte piece reads only bytes written before it; the last piece
      // may write up to 7 bytes past the count, into bytes not yet appended.
      for (int32_t k = 0; k < count; k += 8) __builtin_memcpy(to + k, from + k, 8);
    } else {
      for (int32_t k = 0; k < count; ++k) to[k] = from[k];
    }
    w.WindowPosition += static_cast<uint32_t>(count);
    length -= count;
  }
}

void FinalFlush(OutputWindow& w) {
  int32_t held = static_cast<int32_t>(w.WindowPosition - w.WindowBase);
  if (held > 0 && w.Sink != nullptr)
    w.Sink(w.SinkContext, w.WindowBuffer + w.WriteStart, held - w.WriteStart);
}
