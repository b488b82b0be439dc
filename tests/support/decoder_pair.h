// Runs one file entry's data through the fast decoder or the oracle
// decoder over the real block stream on the fake platform, and records all
// that can be seen of the run: the exit code and console text, every range
// handed to the output with the archive reads done by then, the bytes kept
// for the history, and where the block stream stands afterwards. The two
// decoders must leave identical traces for any input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive_builder.h"

struct DecoderInput {
  Bytes File;                // a distributable of the test core; its payload holds the entry data
  int32_t Skip = 0;          // payload bytes read before the entry data starts
  Bytes Dictionary;          // preset dictionary, at most 16384 bytes
  int32_t Target = 0;        // bytes to decode
  bool Skipping = false;     // decode without handing anything on
  bool ListSymbols = false;  // the oracle lists every symbol it decodes in the trace
};

// One decoded symbol: a literal is length 1 at distance 0.
struct DecodedSymbol {
  int32_t Length;
  int32_t Distance;
  bool operator==(const DecodedSymbol&) const = default;
};

struct Delivery {
  int32_t Count;    // bytes handed on
  int32_t Reads;    // archive reads done by then
  int32_t Queries;  // file position queries done by then
  bool operator==(const Delivery&) const = default;
};

struct DecoderTrace {
  int ExitCode = 0;
  std::string Console;
  Bytes Output;
  std::vector<Delivery> Deliveries;
  int32_t Decoded = 0;   // bytes produced, when the run got to its end
  int32_t Consumed = 0;  // payload bytes handed out after the entry
  bool EndOfArchive = false;
  Bytes Captured;                      // the history slot's bytes
  Bytes Following;                     // up to 3 payload bytes read after the entry
  int32_t LastPosition = 0;            // payload bytes handed out when the run ended, either way
  std::vector<DecodedSymbol> Symbols;  // with ListSymbols, from the oracle
  bool operator==(const DecoderTrace&) const = default;
};

DecoderTrace RunDecoder(bool oracle, const DecoderInput& input);

// The test core, a header without texts or protection, and payload in blocks
// whose checks pass.
Bytes EntryDataArchive(const Bytes& payload);
// Readable account of where two traces part, for a failure message.
std::string TraceDifference(const DecoderTrace& a, const DecoderTrace& b);
