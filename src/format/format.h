// The archive format's numbers and rules, defined once for the expander and
// the writer: the file layout, the block stream, entry records, the reference
// history and the symbol alphabet with its rebuild schedules. Nothing here
// depends on how either side is built; a change here changes the format.
#pragma once

#include <stdint.h>

// Every number the format stores is little-endian; this reads a 32-bit one.
inline uint32_t LittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// File layout.
inline constexpr int32_t kCoreSize = 20480;  // bytes of the core program, where the archive starts
inline constexpr int32_t kRunAfterLimit =
    32768;  // longest run-after command the core keeps, with its zero

// Block stream.
inline constexpr int32_t kBlockDataSize = 4096;   // data bytes of a full block
inline constexpr int32_t kBlockSize = 4098;       // a full block with its two check bytes
inline constexpr int32_t kPasswordLimit = 32768;  // longest password the core keeps, with its zero

// Entry records.
inline constexpr int32_t kNameLimit = 32768;     // longest entry name, with its zero
inline constexpr uint8_t kSharedNameMark = '*';  // a name that shares its start with the one before
inline constexpr int32_t kFileFieldsSize = 28;   // three file times and FileSize

// Reference history.
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

// Symbols. Both trees have 512; the main tree's are 0-255 literals, 256-510
// matches of length 2-256, 511 a match of 257 plus a 12-bit extra value.
inline constexpr int32_t kSymbolBits = 9;
inline constexpr int32_t kSymbolCount = 1 << kSymbolBits;
inline constexpr int32_t kFirstMatchSymbol = 256;
inline constexpr int32_t kLongMatchSymbol = 511;
inline constexpr int32_t kMinMatchLength = 2;
inline constexpr int32_t kLongMatchBase = 257;
inline constexpr int32_t kLongMatchExtraBits = 12;
inline constexpr int32_t kMaxMatchLength = 257 + 4095;  // 4352
// Distance tree symbol d covers distances d * 32 + 1 to d * 32 + 32.
inline constexpr int32_t kDistanceExtraBits = 5;
inline constexpr int32_t kDistanceSpan = 32;
inline constexpr int32_t kMaxDistance = 511 * 32 + 32;  // 16384
// Start counts: every main symbol 1; distance symbols below 64 start at 2.
inline constexpr int32_t kFavouredDistanceSymbols = 64;

// Rebuild schedules. The main tree is built before main symbol number n
// (from 0) when MainRebuildDue(n); the distance tree is rebuilt after the
// n-th match (from 1) when DistanceRebuildDue(n). Both start every 256
// symbols or 64 matches and slow down once the counts have settled.
inline constexpr int32_t kMainRebuildStep = 256;
inline constexpr int32_t kMainSettledAt = 2048;  // from here every 1024 symbols
inline constexpr int32_t kMainSettledStep = 1024;
inline constexpr int32_t kDistanceRebuildStep = 64;
inline constexpr int32_t kDistanceSettledAt = 1024;  // from here every 512 matches
inline constexpr int32_t kDistanceSettledStep = 512;

inline bool MainRebuildDue(int32_t symbolsDone) {
  return symbolsDone % kMainRebuildStep == 0 &&
         (symbolsDone < kMainSettledAt || symbolsDone % kMainSettledStep == 0);
}
inline bool DistanceRebuildDue(int32_t matchesDone) {
  return matchesDone % kDistanceRebuildStep == 0 &&
         (matchesDone < kDistanceSettledAt || matchesDone % kDistanceSettledStep == 0);
}
// From here on the distance tree is rebuilt seldom enough to pay for a table.
inline bool DistanceTreeSettled(int32_t matchesDone) { return matchesDone >= kDistanceSettledAt; }
