// The reference ring. References are checked against what this run has filled,
// so no access ever leaves a slot: a slot that no file entry has filled, or a
// prefix longer than the reference or the file, marks a broken archive.
#include "entries/history.h"

#include "codec/output_window.h"
#include "driver/expander_state.h"
#include "driver/fatal_stop.h"

void PrepareHistory() {
  HistoryState& h = gState.History;
  __builtin_memcpy(h.HistoryRing[0].SlotData, gState.CoreImage, kCoreSize);
  h.HistoryRing[0].SlotLength = kCoreSize;
  for (int32_t i = 0; i < kHistorySlots; ++i) h.SlotFilled[i] = i == 0;
  h.CurrentSlot = 1;
}

void SetCurrentLength(int32_t fileSize) {
  HistoryState& h = gState.History;
  h.HistoryRing[h.CurrentSlot].SlotLength = fileSize <= kSlotCapacity ? fileSize : kSlotCapacity;
}

void SelectReference(int32_t refBack, int32_t prefixLength, int32_t fileSize) {
  HistoryState& h = gState.History;
  h.RefSlot = (h.CurrentSlot + kHistorySlots - refBack) % kHistorySlots;
  if (!h.SlotFilled[h.RefSlot]) BrokenError();
  int32_t slotLength = h.HistoryRing[h.RefSlot].SlotLength;
  if (prefixLength > slotLength || prefixLength > fileSize) BrokenError();
  h.PrefixLength = prefixLength;
  h.Dictionary = ChooseDictionary(slotLength, prefixLength);
}

const uint8_t* PrefixBytes() {
  HistoryState& h = gState.History;
  return h.HistoryRing[h.RefSlot].SlotData;
}

void CopyPrefix() {
  HistoryState& h = gState.History;
  __builtin_memcpy(h.HistoryRing[h.CurrentSlot].SlotData, h.HistoryRing[h.RefSlot].SlotData,
                   static_cast<uint32_t>(h.PrefixLength));
}

void LoadDictionary(OutputWindow& w) {
  HistoryState& h = gState.History;
  StartWindow(w, h.HistoryRing[h.RefSlot].SlotData + h.Dictionary.DictionaryStart,
              h.Dictionary.DictionaryLength, h.HistoryRing[h.CurrentSlot].SlotData, h.PrefixLength);
}

void AdvanceSlot() {
  HistoryState& h = gState.History;
  h.SlotFilled[h.CurrentSlot] = true;
  h.CurrentSlot = (h.CurrentSlot + 1) % kHistorySlots;
}
