// The reference history: the first bytes of the last 256 files, slot 0 holding
// the core image at the start. Each file entry copies a verbatim prefix of one
// earlier slot and starts its decoder with up to 16 KiB of that slot as a
// preset dictionary; its own first bytes are captured into the current slot.
#pragma once

#include <stdint.h>

#include "codec/output_window.h"
#include "format/format.h"

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

// Slot 0 holds the core image, and no other slot is filled yet.
void PrepareHistory(HistoryState& h, const uint8_t* coreImage);
void SetCurrentLength(HistoryState& h, int32_t fileSize);
// refBack 1 to 255; refuses references to unfilled slots and prefixes that do
// not fit the reference or the file.
void SelectReference(HistoryState& h, int32_t refBack, int32_t prefixLength, int32_t fileSize);
const uint8_t* PrefixBytes(const HistoryState& h);
void CopyPrefix(HistoryState& h);
// Starts the window with the dictionary; it keeps the file's first bytes in
// the current slot after the prefix.
void LoadDictionary(HistoryState& h, OutputWindow& w);
void AdvanceSlot(HistoryState& h);
