// The oracle codec, that the fast path is held to: everything here is
// done the plain way, in the order the format describes.
#include "codec/oracle_codec.h"

#include "runtime/stop.h"

void BuildCodeTreeOracle(CodeTree& tree) {
  CodeNode** list = tree.NodeList;
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    CodeNode* leaf = &tree.NodeStore[s];
    leaf->Symbol = s;
    leaf->Weight = tree.SymbolCounts[s];
    leaf->Child0 = nullptr;
    leaf->Child1 = nullptr;
    list[tree.SymbolOrder[s]] = leaf;
  }

  // Bubble passes from the back; the list is nearly sorted, so they stop early.
  // Equal weights are never swapped, which keeps the sort stable.
  int32_t start = 0;
  for (;;) {
    int32_t lowest = -1;
    for (int32_t j = kSymbolCount - 2; j >= start; --j) {
      if (list[j]->Weight < list[j + 1]->Weight) {
        CodeNode* t = list[j];
        list[j] = list[j + 1];
        list[j + 1] = t;
        lowest = j;
      }
    }
    if (lowest < 0) break;
    start = lowest + 1;
  }

  for (int32_t i = 0; i < kSymbolCount; ++i) tree.SymbolOrder[list[i]->Symbol] = i;

  for (int32_t n = kSymbolCount - 1; n >= 1; --n) {
    CodeNode* node = &tree.NodeStore[kNodeCount - n];
    node->Child0 = list[n - 1];
    node->Child1 = list[n];
    node->Weight = list[n - 1]->Weight + list[n]->Weight;
    // The node now stands at n - 1; move it in front of every lighter entry.
    int32_t p = n - 1;
    while (p > 0 && list[p - 1]->Weight < node->Weight) {
      list[p] = list[p - 1];
      --p;
    }
    list[p] = node;
  }
  // The list is left as the fast build leaves it: the leaves in sorted order.
  for (int32_t s = 0; s < kSymbolCount; ++s) list[tree.SymbolOrder[s]] = &tree.NodeStore[s];
}

static uint32_t ReadBit(OracleDecoder& d, BlockStream& s) {
  if (d.BitCount == 0) d.BitBuffer = NextArchiveByte(s);
  uint32_t bit = d.BitBuffer & 1u;
  d.BitBuffer = static_cast<uint8_t>(d.BitBuffer >> 1);
  d.BitCount = static_cast<uint8_t>((d.BitCount + 1) & 7);
  return bit;
}

static uint32_t ReadBits(OracleDecoder& d, BlockStream& s, int32_t count) {
  uint32_t value = 0;
  for (int32_t i = 0; i < count; ++i) value |= ReadBit(d, s) << i;
  return value;
}

static int32_t DecodeSymbol(OracleDecoder& d, BlockStream& s, const CodeTree& tree) {
  const CodeNode* node = TreeRoot(tree);
  do {
    node = ReadBit(d, s) ? node->Child1 : node->Child0;
  } while (node->Child0 != nullptr);
  return node->Symbol;
}

void ResetOracleDecoder(OracleDecoder& d) {
  StartMainCounts(d.MainTree);
  StartDistanceCounts(d.DistanceTree);
  d.BitCount = 0;
  BuildCodeTreeOracle(d.DistanceTree);
  d.BytesDecoded = 0;
  d.SymbolsDecoded = 0;
  d.MatchesDecoded = 0;
  d.SymbolSeen = nullptr;
  d.SymbolContext = nullptr;
}

void OracleDecodeEntryData(OracleDecoder& d, BlockStream& s, OutputWindow& w, int32_t target) {
  while (d.BytesDecoded < target) {
    if (MainRebuildDue(d.SymbolsDecoded)) BuildCodeTreeOracle(d.MainTree);
    int32_t symbol = DecodeSymbol(d, s, d.MainTree);
    ++d.MainTree.SymbolCounts[symbol];
    if (symbol < kFirstMatchSymbol) {
      PutByte(w, static_cast<uint8_t>(symbol));
      ++d.BytesDecoded;
      if (d.SymbolSeen != nullptr) d.SymbolSeen(d.SymbolContext, 1, 0);
    } else {
      int32_t length = symbol - (kFirstMatchSymbol - kMinMatchLength);
      if (symbol == kLongMatchSymbol)
        length += static_cast<int32_t>(ReadBits(d, s, kLongMatchExtraBits));
      int32_t slot = DecodeSymbol(d, s, d.DistanceTree);
      ++d.DistanceTree.SymbolCounts[slot];
      uint32_t distance =
          static_cast<uint32_t>(slot * kDistanceSpan + 1) + ReadBits(d, s, kDistanceExtraBits);
      if (distance > WindowReach(w)) BrokenError(kStopDistanceTooFar);
      if (length > 0x7FFFFFFF - d.BytesDecoded) BrokenError(kStopMatchTooLong);
      if (d.SymbolSeen != nullptr) d.SymbolSeen(d.SymbolContext, length, distance);
      for (int32_t k = 0; k < length; ++k) PutByte(w, ByteAtDistance(w, distance));
      d.BytesDecoded += length;
      ++d.MatchesDecoded;
      if (DistanceRebuildDue(d.MatchesDecoded)) BuildCodeTreeOracle(d.DistanceTree);
    }
    ++d.SymbolsDecoded;
  }
  d.BitCount = 0;
  CaptureHistory(w);
}
