// The symbol decoder: a bit stream of literals and matches coded with the two
// adaptive trees, read least significant bit first, rebuilt on the shared
// schedules. Decoded bytes go to the output window.
//
// Bits are taken through a 64-bit buffer filled from the current block's
// bytes short of its last one; a bit the buffer lacks is fetched a byte at a
// time through NextArchiveByte, so no block is read before a bit of it is
// needed. Whole bytes left in the buffer at the end of an entry go back to the
// block stream. After every tree build a table maps the next kTableBits bits
// to a symbol and its code length, or to the node where a longer code goes on.
// The trees of the start counts are the same for every entry: their tables
// are made once and copied. While the distance tree is young it is rebuilt
// every 64 matches, too often to pay for a table: it is walked instead.
#pragma once

#include <stdint.h>

#include "codec/code_tree.h"
#include "codec/output_window.h"
#include "container/block_stream.h"

inline constexpr int32_t kTableBits = 10;  // bits of look-ahead per table step

// A table entry is a leaf, its symbol in the low kSymbolBits and its code
// length above them, or for a longer code kTableContinue and the index of the
// node where the code goes on.
inline constexpr uint16_t kTableContinue = 0x8000;
inline uint16_t LeafEntry(int32_t symbol, int32_t codeLength) {
  return static_cast<uint16_t>(symbol | codeLength << kSymbolBits);
}
inline int32_t EntrySymbol(uint16_t entry) { return entry & (kSymbolCount - 1); }
inline int32_t EntryCodeLength(uint16_t entry) { return entry >> kSymbolBits; }
inline uint16_t ContinueEntry(int32_t node) { return static_cast<uint16_t>(kTableContinue | node); }
inline int32_t EntryNode(uint16_t entry) { return entry & ~kTableContinue; }

struct DecodeTable {
  uint16_t Entry[1 << kTableBits];
};

struct DecoderState {
  CodeTree MainTree;           // literals and match lengths
  CodeTree DistanceTree;       // high part of match distances
  DecodeTable MainTable;       // look-up for MainTree as last built
  DecodeTable DistanceTable;   // look-up for DistanceTree as last built, while UseDistanceTable
  bool UseDistanceTable;       // off while the distance tree is rebuilt every 64 matches
  bool StartTablesMade;        // the two start tables below are filled
  DecodeTable StartMainTable;  // the tables of the start counts, the same for every entry
  DecodeTable StartDistanceTable;
  int32_t BytesDecoded;  // bytes produced for this entry
};

void BuildDecodeTable(const CodeTree& tree, DecodeTable& table);
void ResetDecoder(DecoderState& d);
// Decodes until at least target bytes were produced; target <= 0 reads nothing.
// A distance before the window's first byte is refused before its copy.
void DecodeEntryData(DecoderState& d, BlockStream& s, OutputWindow& w, int32_t target);
