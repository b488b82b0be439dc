// The output window: a 48 KiB buffer that is both the write buffer of the
// file being expanded and the history that matches copy from. It starts with
// the preset dictionary, hands on 32 KiB at a time and slides the newest
// 16 KiB to its front, so every distance up to 16384 is a direct index.
// What it hands on goes to a sink (none for a skipped file); the first bytes
// of the file are also copied into a history slot, in bulk, before each slide
// and when the entry ends.
#pragma once

#include <stdint.h>

inline constexpr int32_t kWindowSize = 49152;  // bytes the buffer holds
inline constexpr int32_t kFlushSize = 32768;   // bytes handed on per flush
inline constexpr int32_t kKeepSize = 16384;    // bytes kept as history after a flush
inline constexpr int32_t kCopySlack = 8;       // room for the last 8-byte piece of a copy

// Receives a range of the output; the core writes it to the file being expanded.
typedef void (*OutputSink)(void* context, const uint8_t* data, int32_t count);

struct OutputWindow {
  uint8_t WindowBuffer[kWindowSize + kCopySlack];
  // Stream positions count from the first dictionary byte of the entry; they
  // are unsigned so that a file near 2 GiB cannot overflow them, and only
  // their differences are used.
  uint32_t WindowPosition;  // stream position of the next byte
  uint32_t WindowBase;      // stream position held by buffer offset 0
  int32_t WriteStart;       // buffer offset of the first byte not yet written
  OutputSink Sink;          // none while the file is skipped
  void* SinkContext;
  uint8_t* CaptureSlot;     // history slot that keeps the file's first bytes
  int32_t CaptureOffset;    // file position of the next byte it keeps
  int32_t CaptureCapacity;  // bytes the slot keeps of the file
  uint32_t CapturedUpTo;    // stream position of the next byte to offer it
};

// The byte distance bytes before the next output position (1 <= distance <= reach).
inline uint8_t ByteAtDistance(const OutputWindow& w, uint32_t distance) {
  return w.WindowBuffer[w.WindowPosition - distance - w.WindowBase];
}
// Bytes of the entry's stream the window can still reach back to.
inline uint32_t WindowReach(const OutputWindow& w) { return w.WindowPosition - w.WindowBase; }

// dictionary points into a history slot, never null, even when the length is 0.
// The file's bytes from file position captureOffset up to captureCapacity go
// to captureSlot.
void StartWindow(OutputWindow& w, const uint8_t* dictionary, int32_t dictionaryLength,
                 uint8_t* captureSlot, int32_t captureOffset, int32_t captureCapacity);
// Hands on the oldest 32 KiB (less the dictionary at the first flush) and
// slides; called when a byte arrives for a full buffer.
void FlushWindow(OutputWindow& w);
inline void PutByte(OutputWindow& w, uint8_t byte) {
  if (w.WindowPosition - w.WindowBase >= static_cast<uint32_t>(kWindowSize)) FlushWindow(w);
  w.WindowBuffer[w.WindowPosition - w.WindowBase] = byte;
  ++w.WindowPosition;
}
// Appends length bytes copied from distance back (distance <= WindowReach),
// flushing where the buffer fills, exactly as length PutByte calls would.
void CopyMatch(OutputWindow& w, uint32_t distance, int32_t length);
// Copies what the history slot still wants of the bytes appended so far.
void CaptureHistory(OutputWindow& w);
// Hands on what is left, unless the file is skipped. The decoder has
// already captured the entry's history.
void FinalFlush(OutputWindow& w);
