// The reference history: the first bytes of the last 256 files, slot 0 holding
// the core image at the start. Each file entry copies a verbatim prefix of one
// earlier slot and starts its decoder with up to 16 KiB of that slot as a
// preset dictionary; its own first bytes are captured into the current slot.
#pragma once

#include <stdint.h>

inline constexpr int32_t kHistorySlots = 256;       // slots in the ring
inline constexpr int32_t kSlotCapacity = 24576;     // bytes kept of each file
inline constexpr int32_t kMaxContinuation = 15360;  // dictionary bytes after the prefix
inline constexpr int32_t kDictionaryLimit = 16384;  // dictionary bytes in all

struct DictionaryChoice {
  int32_t ContinuationLength;  // slot bytes after the prefix
  int32_t PrefixTailLength;    // last bytes of the prefix
  int32_t DictionaryLength;    // both together
  int32_t DictionaryStart;     // slot offset of the first dictionary byte
};

// The dictionary stretch of a reference slot of slotLength valid bytes for a
// file whose verbatim prefix is prefixLength bytes (prefixLength <= slotLength).
inline DictionaryChoice ChooseDictionary(int32_t slotLength, int32_t prefixLength) {
  DictionaryChoice c;
  c.ContinuationLength = slotLength - prefixLength;
  if (c.ContinuationLength > kMaxContinuation) c.ContinuationLength = kMaxContinuation;
  c.PrefixTailLength = kDictionaryLimit - c.ContinuationLength;
  if (c.PrefixTailLength > prefixLength) c.PrefixTailLength = prefixLength;
  c.DictionaryLength = c.ContinuationLength + c.PrefixTailLength;
  c.DictionaryStart = prefixLength - c.PrefixTailLength;
  return c;
}

struct HistorySlot {
  int32_t SlotLength;               // valid bytes in SlotData
  uint8_t SlotData[kSlotCapacity];  // the file's first bytes
};

struct HistoryState {
  HistorySlot HistoryRing[kHistorySlots];
  bool SlotFilled[kHistorySlots];  // slot holds the core image or a file of this run
  int32_t CurrentSlot;             // slot of the entry being expanded
  int32_t RefSlot;                 // its reference slot
  int32_t PrefixLength;            // verbatim prefix of the entry
  DictionaryChoice Dictionary;     // preset dictionary of the entry
};

void PrepareHistory();
void SetCurrentLength(int32_t fileSize);
// refBack 1 to 255; refuses references to unfilled slots and prefixes that do
// not fit the reference or the file.
void SelectReference(int32_t refBack, int32_t prefixLength, int32_t fileSize);
const uint8_t* PrefixBytes();
void CopyPrefix();
// Starts the window with the dictionary; it keeps the file's first bytes in
// the current slot after the prefix.
void LoadDictionary(struct OutputWindow& w);
void AdvanceSlot();
