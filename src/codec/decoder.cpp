// The decoder's fast path. It gives exactly what a bit-by-bit walk from the
// root gives: the same symbols from the same trees at the same moments, the
// same bytes, and the same reads of the block stream, since it fetches a byte
// only where the walk would need a bit of it and the buffer has none left.
#include "codec/decoder.h"

#include "driver/fatal_stop.h"

void BuildDecodeTable(const CodeTree& tree, DecodeTable& table) {
  struct Step {
    const CodeNode* Node;
    uint32_t Code;  // bits read so far, the first in bit 0
    int32_t Depth;
  };
  Step stack[kTableBits + 1];
  int32_t top = 0;
  stack[top++] = {TreeRoot(tree), 0, 0};
  while (top > 0) {
    Step s = stack[--top];
    while (s.Node->Child0 != nullptr && s.Depth < kTableBits) {
      stack[top++] = {s.Node->Child1, s.Code | 1u << s.Depth, s.Depth + 1};
      s = {s.Node->Child0, s.Code, s.Depth + 1};
    }
    uint16_t entry = s.Node->Child0 == nullptr
                         ? static_cast<uint16_t>(s.Node->Symbol | s.Depth << 9)
                         : static_cast<uint16_t>(kTableContinue | (s.Node - tree.NodeStore));
    for (uint32_t c = s.Code; c < (1u << kTableBits); c += 1u << s.Depth) table.Entry[c] = entry;
  }
}

static void Rebuild(CodeTree& tree, DecodeTable& table) {
  BuildCodeTree(tree);
  BuildDecodeTable(tree, table);
}

void ResetDecoder(DecoderState& d) {
  if (!d.StartTablesMade) {
    StartMainCounts(d.MainTree);
    Rebuild(d.MainTree, d.StartMainTable);
    StartDistanceCounts(d.DistanceTree);
    Rebuild(d.DistanceTree, d.StartDistanceTable);
    d.StartTablesMade = true;
  }
  // The start counts sort in symbol order, so a build would leave the
  // identity order as it found it. The start codes are 8 to 10 bits long, so
  // their tables hold every leaf and no node of these trees is ever walked.
  StartMainCounts(d.MainTree);
  StartDistanceCounts(d.DistanceTree);
  __builtin_memcpy(&d.DistanceTable, &d.StartDistanceTable, sizeof d.DistanceTable);
  d.UseDistanceTable = true;
  d.BitBuffer = 0;
  d.BitCount = 0;
  d.BytesDecoded = 0;
  d.SymbolsDecoded = 0;
  d.MatchesDecoded = 0;
}

// Tops the buffer up from the current block, never taking its last byte.
static void Refill(DecoderState& d, BlockStream& s) {
  int32_t available = BytesInBlock(s);
  if (available <= 0 || d.BitCount > 56) return;
  const uint8_t* bytes = NextBlockBytes(s);
  int32_t take = (63 - d.BitCount) >> 3;
  if (available >= 8) {
    uint64_t word;
    __builtin_memcpy(&word, bytes, 8);  // little-endian on both targets
    d.BitBuffer |= word << d.BitCount;
    d.BitCount += take * 8;
    d.BitBuffer &= ~uint64_t{0} >> (64 - d.BitCount);
  } else {
    if (take > available) take = available;
    for (int32_t i = 0; i < take; ++i) {
      d.BitBuffer |= static_cast<uint64_t>(bytes[i]) << d.BitCount;
      d.BitCount += 8;
    }
  }
  TakeBlockBytes(s, take);
}

static uint32_t ReadBit(DecoderState& d, BlockStream& s) {
  if (d.BitCount == 0) {
    Refill(d, s);
    if (d.BitCount == 0) {
      d.BitBuffer = NextArchiveByte(s);
      d.BitCount = 8;
    }
  }
  uint32_t bit = static_cast<uint32_t>(d.BitBuffer & 1u);
  d.BitBuffer >>= 1;
  --d.BitCount;
  return bit;
}

// The rest of a code, one bit at a time.
static int32_t WalkFrom(DecoderState& d, BlockStream& s, const CodeNode* node) {
  do {
    node = ReadBit(d, s) ? node->Child1 : node->Child0;
  } while (node->Child0 != nullptr);
  return node->Symbol;
}

static uint32_t ReadBits(DecoderState& d, BlockStream& s, int32_t count) {
  if (d.BitCount >= count) {
    uint32_t value = static_cast<uint32_t>(d.BitBuffer & ((1u << count) - 1));
    d.BitBuffer >>= count;
    d.BitCount -= count;
    return value;
  }
  uint32_t value = 0;
  for (int32_t i = 0; i < count; ++i) value |= ReadBit(d, s) << i;
  return value;
}

// Bits above BitCount are 0, so a table entry found with fewer bits than the
// table takes is the right one when its code is no longer than the bits held:
// the code is then decided by them alone. Otherwise the code is longer than
// what the buffer holds, and the walk would fetch the next byte now.
static int32_t DecodeSymbol(DecoderState& d, BlockStream& s, const CodeTree& tree,
                            const DecodeTable& table) {
  Refill(d, s);
  for (;;) {
    uint16_t entry = table.Entry[d.BitBuffer & ((1u << kTableBits) - 1)];
    if ((entry & kTableContinue) == 0) {
      int32_t length = entry >> 9;
      if (length <= d.BitCount) {
        d.BitBuffer >>= length;
        d.BitCount -= length;
        return entry & (kSymbolCount - 1);
      }
    } else if (d.BitCount >= kTableBits) {
      d.BitBuffer >>= kTableBits;
      d.BitCount -= kTableBits;
      return WalkFrom(d, s, &tree.NodeStore[entry & ~kTableContinue]);
    }
    d.BitBuffer |= static_cast<uint64_t>(NextArchiveByte(s)) << d.BitCount;
    d.BitCount += 8;
  }
}

// Stops the run as broken with the stream where the bit-by-bit walk would
// have it: whole bytes not yet read are given back first.
[[noreturn]] static void Refuse(DecoderState& d, BlockStream& s) {
  GiveBackBytes(s, d.BitCount >> 3);
  BrokenError();
}

void DecodeEntryData(DecoderState& d, BlockStream& s, OutputWindow& w, int32_t target) {
  while (d.BytesDecoded < target) {
    if (d.SymbolsDecoded == 0) {
      __builtin_memcpy(&d.MainTable, &d.StartMainTable, sizeof d.MainTable);
    } else if (MainRebuildDue(d.SymbolsDecoded)) {
      Rebuild(d.MainTree, d.MainTable);
    }
    int32_t symbol = DecodeSymbol(d, s, d.MainTree, d.MainTable);
    ++d.MainTree.SymbolCounts[symbol];
    if (symbol < kFirstMatchSymbol) {
      PutByte(w, static_cast<uint8_t>(symbol));
      ++d.BytesDecoded;
    } else {
      int32_t length = symbol - (kFirstMatchSymbol - kMinMatchLength);
      if (symbol == kLongMatchSymbol) {
        length += static_cast<int32_t>(ReadBits(d, s, kLongMatchExtraBits));
      }
      int32_t slot = d.UseDistanceTable ? DecodeSymbol(d, s, d.DistanceTree, d.DistanceTable)
                                        : WalkFrom(d, s, TreeRoot(d.DistanceTree));
      ++d.DistanceTree.SymbolCounts[slot];
      uint32_t distance =
          static_cast<uint32_t>(slot * kDistanceSpan + 1) + ReadBits(d, s, kDistanceExtraBits);
      // A distance before the first dictionary byte is outside well-formed
      // data; after the first flush the window always reaches 16384 back.
      if (distance > WindowReach(w)) Refuse(d, s);
      // A final match may run past the target, but never past what a size can count.
      if (length > 0x7FFFFFFF - d.BytesDecoded) Refuse(d, s);
      CopyMatch(w, distance, length);
      d.BytesDecoded += length;
      ++d.MatchesDecoded;
      if (DistanceRebuildDue(d.MatchesDecoded)) {
        BuildCodeTree(d.DistanceTree);
        d.UseDistanceTable = d.MatchesDecoded >= 1024;
        if (d.UseDistanceTable) BuildDecodeTable(d.DistanceTree, d.DistanceTable);
      }
    }
    ++d.SymbolsDecoded;
  }
  // The next entry starts on a fresh byte: whole bytes not yet read go back.
  GiveBackBytes(s, d.BitCount >> 3);
  d.BitBuffer = 0;
  d.BitCount = 0;
  CaptureHistory(w);
}
