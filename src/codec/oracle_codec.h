// The oracle codec: the tree build as a list walk (bubble sort, each merged
// node moved forward past lighter entries) and the decoder as a bit-by-bit
// walk from the root, one archive byte and one output byte at a time. Not in
// the cores: the tests and fuzzers hold the fast path against it.
#pragma once

#include <stdint.h>

#include "codec/code_tree.h"
#include "codec/output_window.h"
#include "container/block_stream.h"

void BuildCodeTreeOracle(CodeTree& tree);

struct OracleDecoder {
  CodeTree MainTree;
  CodeTree DistanceTree;
  uint8_t BitBuffer;  // current byte, shifted right per bit taken
  uint8_t BitCount;   // bits taken of it; 0 means a fresh byte is due
  int32_t BytesDecoded;
  int32_t SymbolsDecoded;
  int32_t MatchesDecoded;
  // When set (after ResetOracleDecoder, which clears it): told of every
  // symbol as it is decoded, a literal as length 1 at distance 0.
  void (*SymbolSeen)(void* context, int32_t length, uint32_t distance);
  void* SymbolContext;
};

void ResetOracleDecoder(OracleDecoder& d);
void OracleDecodeEntryData(OracleDecoder& d, BlockStream& s, OutputWindow& w, int32_t target);
