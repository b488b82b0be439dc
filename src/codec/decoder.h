// The symbol decoder: a bit stream of literals and matches coded with the two
// adaptive trees, read least significant bit first, rebuilt on the shared
// schedules. Decoded bytes go to the output window.
#pragma once

#include <stdint.h>

#include "codec/code_tree.h"

struct DecoderState {
  CodeTree MainTree;       // literals and match lengths
  CodeTree DistanceTree;   // high part of match distances
  uint8_t BitBuffer;       // current byte, shifted right per bit taken
  uint8_t BitCount;        // bits taken of it; 0 means a fresh byte is due
  int32_t BytesDecoded;    // bytes produced for this entry
  int32_t SymbolsDecoded;  // main symbols decoded in this entry
  int32_t MatchesDecoded;  // matches decoded in this entry
};

uint32_t ReadBit();
uint32_t ReadBits(int32_t count);
int32_t DecodeSymbol(const CodeTree& tree);
void ResetDecoder();
// Decodes until at least target bytes were produced; target <= 0 reads nothing.
void DecodeEntryData(int32_t target);
