// The output window: a 48 KiB buffer that is both the write buffer of the
// file being expanded and the history that matches copy from. It starts with
// the preset dictionary, writes 32 KiB at a time and slides the newest 16 KiB
// to its front, so every distance up to 16384 is a direct index.
#pragma once

#include <stdint.h>

inline constexpr int32_t kWindowSize = 49152;  // bytes the buffer holds
inline constexpr int32_t kFlushSize = 32768;   // bytes handed on per flush
inline constexpr int32_t kKeepSize = 16384;    // bytes kept as history after a flush

struct OutputWindow {
  uint8_t WindowBuffer[kWindowSize];
  // Stream positions count from the first dictionary byte of the entry; they
  // are unsigned so that a file near 2 GiB cannot overflow them, and only
  // their differences are used.
  uint32_t WindowPosition;  // stream position of the next byte
  uint32_t WindowBase;      // stream position held by buffer offset 0
  int32_t WriteStart;       // buffer offset of the first byte not yet written
};

// The byte distance bytes before the next output position (1 <= distance <= reach).
inline uint8_t ByteAtDistance(const OutputWindow& w, uint32_t distance) {
  return w.WindowBuffer[w.WindowPosition - distance - w.WindowBase];
}

// dictionary points into a history slot, never null, even when the length is 0.
void StartWindow(const uint8_t* dictionary, int32_t dictionaryLength);
void PutByte(uint8_t byte);
// Bytes of the entry's stream the window can still reach back to.
inline uint32_t WindowReach(const OutputWindow& w) { return w.WindowPosition - w.WindowBase; }
void FinalFlush();

// Receives every byte range the window writes, unless the entry is skipped.
// The core writes it to the output file; the writer's reader checks it.
void DeliverOutput(const uint8_t* data, int32_t count);
