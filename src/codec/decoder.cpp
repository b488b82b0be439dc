// The decoder's fast path. It gives exactly what a bit-by-bit walk from the
// root gives: the same symbols from the same trees at the same moments, the
// same bytes, and the same reads of the block stream, since it fetches a byte
// only where the walk would need a bit of it and the buffer has none left.

#include "codec/speed_first.h"
// (first: it applies to all that follows)
#include "codec/decoder.h"
#include "runtime/stop.h"

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
                         ? LeafEntry(s.Node->Symbol, s.Depth)
                         : ContinueEntry(static_cast<int32_t>(s.Node - tree.NodeStore));
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
  d.BytesDecoded = 0;
}

namespace {

// The bit buffer lives in the entry loop's locals, so that it stays in
// registers; the routines that work on it are inlined into the loop.
struct Bits {
  uint64_t Buffer;  // bits not yet taken, the next one in bit 0; above them 0
  int32_t Count;    // how many
};

#define VARNOW_INLINE inline __attribute__((always_inline))

// Tops the buffer up from the current block, never taking its last byte.
VARNOW_INLINE void Refill(Bits& b, BlockStream& s) {
  int32_t available = BytesInBlock(s);
  if (available <= 0) return;
  const uint8_t* bytes = NextBlockBytes(s);
  int32_t take = (63 - b.Count) >> 3;
  if (available >= 8) {
    uint64_t word;
    __builtin_memcpy(&word, bytes, 8);  // little-endian on both targets
    b.Buffer |= word << b.Count;
    b.Count += take * 8;
    b.Buffer &= ~uint64_t{0} >> (64 - b.Count);
  } else {
    if (take > available) take = available;
    for (int32_t i = 0; i < take; ++i) {
      b.Buffer |= static_cast<uint64_t>(bytes[i]) << b.Count;
      b.Count += 8;
    }
  }
  TakeBlockBytes(s, take);
}

VARNOW_INLINE uint32_t ReadBit(Bits& b, BlockStream& s) {
  if (b.Count == 0) {
    Refill(b, s);  // nothing when the next byte is the block's last or a new block's first
    if (b.Count == 0) {
      b.Buffer = NextArchiveByte(s);
      b.Count = 8;
    }
  }
  uint32_t bit = static_cast<uint32_t>(b.Buffer & 1u);
  b.Buffer >>= 1;
  --b.Count;
  return bit;
}

// The slow paths take the bits by value and hand them back, so that the
// entry loop's copy never has to leave its registers.
struct Walked {
  Bits State;
  uint32_t Value;  // symbol or bits read
};

// The rest of a code, one bit at a time.
__attribute__((noinline)) Walked WalkFrom(Bits b, BlockStream& s, const CodeNode* node) {
  do {
    node = ReadBit(b, s) ? node->Child1 : node->Child0;
  } while (node->Child0 != nullptr);
  return {b, static_cast<uint32_t>(node->Symbol)};
}

__attribute__((noinline)) Walked ReadBitsSlowly(Bits b, BlockStream& s, int32_t count) {
  uint32_t value = 0;
  for (int32_t i = 0; i < count; ++i) value |= ReadBit(b, s) << i;
  return {b, value};
}

VARNOW_INLINE uint32_t ReadBits(Bits& b, BlockStream& s, int32_t count) {
  if (b.Count >= count) {
    uint32_t value = static_cast<uint32_t>(b.Buffer & ((1u << count) - 1));
    b.Buffer >>= count;
    b.Count -= count;
    return value;
  }
  Walked w = ReadBitsSlowly(b, s, count);
  b = w.State;
  return w.Value;
}

VARNOW_INLINE int32_t Walk(Bits& b, BlockStream& s, const CodeNode* node) {
  Walked w = WalkFrom(b, s, node);
  b = w.State;
  return static_cast<int32_t>(w.Value);
}

// Bits above Count are 0, so a table entry found with fewer bits than the
// table takes is the right one when its code is no longer than the bits held:
// the code is then decided by them alone. Otherwise the code is longer than
// what the buffer holds, and the walk would fetch the next byte now.
VARNOW_INLINE int32_t DecodeSymbol(Bits& b, BlockStream& s, const CodeTree& tree,
                                   const DecodeTable& table) {
  // Enough for a table step and the extra bits of a long match or a distance.
  if (b.Count < 32) Refill(b, s);
  for (;;) {
    uint16_t entry = table.Entry[b.Buffer & ((1u << kTableBits) - 1)];
    if ((entry & kTableContinue) == 0) {
      int32_t length = EntryCodeLength(entry);
      if (length <= b.Count) {
        b.Buffer >>= length;
        b.Count -= length;
        return EntrySymbol(entry);
      }
    } else if (b.Count >= kTableBits) {
      b.Buffer >>= kTableBits;
      b.Count -= kTableBits;
      return Walk(b, s, &tree.NodeStore[EntryNode(entry)]);
    }
    b.Buffer |= static_cast<uint64_t>(NextArchiveByte(s)) << b.Count;
    b.Count += 8;
  }
}

// Stops the run as broken with the stream where the bit-by-bit walk would
// have it: whole bytes not yet read are given back first.
[[noreturn]] void Refuse(int32_t bitsHeld, BlockStream& s, StopReason reason) {
  GiveBackBytes(s, bitsHeld >> 3);
  BrokenError(reason);
}

}  // namespace

void DecodeEntryData(DecoderState& d, BlockStream& s, OutputWindow& w, int32_t target) {
  Bits b = {0, 0};
  int32_t decoded = 0;
  int32_t symbols = 0;
  int32_t matches = 0;
  while (decoded < target) {
    if (symbols == 0) {
      __builtin_memcpy(&d.MainTable, &d.StartMainTable, sizeof d.MainTable);
    } else if (MainRebuildDue(symbols)) {
      Rebuild(d.MainTree, d.MainTable);
    }
    int32_t symbol = DecodeSymbol(b, s, d.MainTree, d.MainTable);
    ++d.MainTree.SymbolCounts[symbol];
    if (symbol < kFirstMatchSymbol) {
      PutByte(w, static_cast<uint8_t>(symbol));
      ++decoded;
    } else {
      int32_t length = symbol - (kFirstMatchSymbol - kMinMatchLength);
      if (symbol == kLongMatchSymbol) {
        length += static_cast<int32_t>(ReadBits(b, s, kLongMatchExtraBits));
      }
      int32_t slot = d.UseDistanceTable ? DecodeSymbol(b, s, d.DistanceTree, d.DistanceTable)
                                        : Walk(b, s, TreeRoot(d.DistanceTree));
      ++d.DistanceTree.SymbolCounts[slot];
      uint32_t distance =
          static_cast<uint32_t>(slot * kDistanceSpan + 1) + ReadBits(b, s, kDistanceExtraBits);
      // A distance before the first dictionary byte is outside well-formed
      // data; after the first flush the window always reaches 16384 back.
      if (distance > WindowReach(w)) Refuse(b.Count, s, kStopDistanceTooFar);
      // A final match may run past the target, but never past what a size can count.
      if (length > 0x7FFFFFFF - decoded) Refuse(b.Count, s, kStopMatchTooLong);
      CopyMatch(w, distance, length);
      decoded += length;
      ++matches;
      if (DistanceRebuildDue(matches)) {
        BuildCodeTree(d.DistanceTree);
        d.UseDistanceTable = DistanceTreeSettled(matches);
        if (d.UseDistanceTable) BuildDecodeTable(d.DistanceTree, d.DistanceTable);
      }
    }
    ++symbols;
  }
  // The next entry starts on a fresh byte: whole bytes not yet read go back.
  GiveBackBytes(s, b.Count >> 3);
  d.BytesDecoded = decoded;
  CaptureHistory(w);
}
