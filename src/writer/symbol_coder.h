// SymbolCoder: writes one file entry's symbols the way the expander reads
// them. It keeps the same two adaptive code trees, counts every symbol at the
// same moment and rebuilds on the same schedule (codec/code_tree.h), so the
// code in force for each symbol is exactly the one the decoder will walk.
// It also exposes the code lengths in force, which the parsers use as prices.
#pragma once

#include <stdint.h>

#include "codec/code_tree.h"
#include "writer/bit_writer.h"

// Main tree symbol of a match length (2 to 4352).
inline int32_t LengthSymbol(int32_t length) {
  return length < kLongMatchBase ? length - kMinMatchLength + kFirstMatchSymbol : kLongMatchSymbol;
}
// Distance tree symbol of a distance (1 to 16384).
inline int32_t DistanceSymbol(int32_t distance) { return (distance - 1) / kDistanceSpan; }

// The code of each symbol of one tree, as last built: Bits holds the path from
// the root with the root's choice in bit 0, so BitWriter::PutBits sends it in
// reading order. A tree of 512 leaves whose weights sum to less than 2^31 is
// at most 45 levels deep (a deeper Huffman tree needs Fibonacci weights), so
// 64 bits always hold a code.
struct CodeTable {
  uint64_t Bits[kSymbolCount];
  uint8_t Length[kSymbolCount];
};

// Fills the table by walking the tree from its root.
void ReadCodes(const CodeTree& tree, CodeTable& table);

class SymbolCoder {
 public:
  // Start of a file entry: start counts, identity orders, both trees built
  // (the main tree as the decoder builds it before symbol 0).
  explicit SymbolCoder(BitWriter& bits);
  // The same start again, for the next entry, writing to bits. The start
  // codes are always the same, so they are read once per process and copied.
  void Restart(BitWriter& bits);

  void PutLiteral(uint8_t byte);
  // length 2 to 4352, distance 1 to 16384.
  void PutMatch(int32_t length, int32_t distance);
  // Writes a main tree symbol directly; for a match symbol the caller must
  // follow with PutLongLengthBits (symbol 511 only) and PutDistance.
  void PutMainSymbol(int32_t symbol);
  void PutLongLengthBits(int32_t extra);
  void PutDistance(int32_t distance);

  // Code lengths in force for the next symbol.
  const CodeTable& MainCodes() const { return mainCodes_; }
  const CodeTable& DistanceCodes() const { return distanceCodes_; }
  int32_t LiteralPrice(uint8_t byte) const { return mainCodes_.Length[byte]; }
  int32_t LengthPrice(int32_t length) const {
    return mainCodes_.Length[LengthSymbol(length)] +
           (length >= kLongMatchBase ? kLongMatchExtraBits : 0);
  }
  int32_t DistanceSymbolPrice(int32_t symbol) const {
    return distanceCodes_.Length[symbol] + kDistanceExtraBits;
  }
  int32_t DistancePrice(int32_t distance) const {
    return DistanceSymbolPrice(DistanceSymbol(distance));
  }
  // Grows by one whenever either tree is rebuilt: prices are stale after it.
  uint32_t TreeVersion() const { return treeVersion_; }
  int32_t SymbolsDone() const { return symbolsDone_; }

 private:
  void EndMainSymbol();

  BitWriter* bits_;
  CodeTree mainTree_;
  CodeTree distanceTree_;
  CodeTable mainCodes_;
  CodeTable distanceCodes_;
  int32_t symbolsDone_ = 0;  // main symbols written in this entry
  int32_t matchesDone_ = 0;  // matches written in this entry
  uint32_t treeVersion_ = 0;
};
