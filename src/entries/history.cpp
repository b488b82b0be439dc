// The reference ring. References are checked against what this run has filled,
// so no access ever leaves a slot: a slot that no file entry has filled, or a
// prefix longer than the reference or the file, marks a broken archive.
#include "entries/history.h"

#include "runtime/stop.h"

void PrepareHistory(HistoryState& h, const uint8_t* coreImage) {
  __builtin_memcpy(h.HistoryRing[0].SlotData, coreImage, kCoreSize);
  h.HistoryRing[0].SlotLength = kCoreSize;
  for (int32_t i = 0; i < kHistorySlots; ++i) h.SlotFilled[i] = i == 0;
  h.CurrentSlot = 1;
}

void SetCurrentLength(HistoryState& h, int32_t fileSize) {
  h.HistoryRing[h.CurrentSlot].SlotLength = fileSize <= kSlotCapacity ? fileSize : kSlotCapacity;
}

void SelectReference(HistoryState& h, int32_t refBack, int32_t prefixLength, int32_t fileSize) {
  h.RefSlot = (h.CurrentSlot + kHistorySlots - refBack) % kHistorySlots;
  if (!h.SlotFilled[h.RefSlot]) BrokenError(kStopUnfilledSlot);
  int32_t slotLength = h.HistoryRing[h.RefSlot].SlotLength;
  if (prefixLength > slotLength || prefixLength > fileSize) BrokenError(kStopPrefixTooLong);
  h.PrefixLength = prefixLength;
  h.Dictionary = ChooseDictionary(slotLength, prefixLength);
}

const uint8_t* PrefixBytes(const HistoryState& h) { return h.HistoryRing[h.RefSlot].SlotData; }

void CopyPrefix(HistoryState& h) {
  __builtin_memcpy(h.HistoryRing[h.CurrentSlot].SlotData, h.HistoryRing[h.RefSlot].SlotData,
                   static_cast<uint32_t>(h.PrefixLength));
}

void LoadDictionary(HistoryState& h, OutputWindow& w) {
  StartWindow(w, h.HistoryRing[h.RefSlot].SlotData + h.Dictionary.DictionaryStart,
              h.Dictionary.DictionaryLength, h.HistoryRing[h.CurrentSlot].SlotData, h.PrefixLength,
              kSlotCapacity);
}

void AdvanceSlot(HistoryState& h) {
  h.SlotFilled[h.CurrentSlot] = true;
  h.CurrentSlot = (h.CurrentSlot + 1) % kHistorySlots;
}
