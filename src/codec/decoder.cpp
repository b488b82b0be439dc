// The reference decoder: a bit-by-bit walk from the root for every symbol,
// with the rebuild schedules of both trees. Counts are raised as soon as a
// symbol is known, so a rebuild sees every symbol decoded before it.
#include "codec/decoder.h"

#include "container/block_stream.h"
#include "driver/expander_state.h"
#include "driver/fatal_stop.h"

uint32_t ReadBit() {
  DecoderState& d = gState.Decoder;
  if (d.BitCount == 0) d.BitBuffer = NextArchiveByte();
  uint32_t bit = d.BitBuffer & 1u;
  d.BitBuffer = static_cast<uint8_t>(d.BitBuffer >> 1);
  d.BitCount = static_cast<uint8_t>((d.BitCount + 1) & 7);
  return bit;
}

uint32_t ReadBits(int32_t count) {
  uint32_t value = 0;
  for (int32_t i = 0; i < count; ++i) value |= ReadBit() << i;
  return value;
}

int32_t DecodeSymbol(const CodeTree& tree) {
  const CodeNode* node = TreeRoot(tree);
  do {
    node = ReadBit() ? node->Child1 : node->Child0;
  } while (node->Child0 != nullptr);
  return node->Symbol;
}

void ResetDecoder() {
  DecoderState& d = gState.Decoder;
  StartMainCounts(d.MainTree);
  StartDistanceCounts(d.DistanceTree);
  d.BitCount = 0;
  BuildCodeTree(d.DistanceTree);
  d.BytesDecoded = 0;
  d.SymbolsDecoded = 0;
  d.MatchesDecoded = 0;
}

void DecodeEntryData(int32_t target) {
  DecoderState& d = gState.Decoder;
  OutputWindow& w = gState.Window;
  while (d.BytesDecoded < target) {
    if (MainRebuildDue(d.SymbolsDecoded)) BuildCodeTree(d.MainTree);
    int32_t symbol = DecodeSymbol(d.MainTree);
    ++d.MainTree.SymbolCounts[symbol];
    if (symbol < kFirstMatchSymbol) {
      PutByte(static_cast<uint8_t>(symbol));
      ++d.BytesDecoded;
    } else {
      int32_t length = symbol - (kFirstMatchSymbol - kMinMatchLength);
      if (symbol == kLongMatchSymbol) length += static_cast<int32_t>(ReadBits(kLongMatchExtraBits));
      int32_t slot = DecodeSymbol(d.DistanceTree);
      ++d.DistanceTree.SymbolCounts[slot];
      uint32_t distance =
          static_cast<uint32_t>(slot * kDistanceSpan + 1) + ReadBits(kDistanceExtraBits);
      // A distance before the first dictionary byte is outside well-formed
      // data; after the first flush the window always reaches 16384 back.
      if (distance > WindowReach(w)) BrokenError();
      // A final match may run past the target, but never past what a size can count.
      if (length > 0x7FFFFFFF - d.BytesDecoded) BrokenError();
      for (int32_t k = 0; k < length; ++k) {
        PutByte(ByteAtDistance(w, distance));
      }
      d.BytesDecoded += length;
      ++d.MatchesDecoded;
      if (DistanceRebuildDue(d.MatchesDecoded)) BuildCodeTree(d.DistanceTree);
    }
    ++d.SymbolsDecoded;
  }
}
