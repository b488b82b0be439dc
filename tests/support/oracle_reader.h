// The oracle decoder as a reader for the writer's tests: one entry's coded
// data, or a whole distributable read the way the expander reads it (its own
// header reads, password gate, block stream, entry records and history, on
// the fake platform), with the oracle's bit-by-bit decoder in place of the
// fast one. What the writer makes is held to these.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "decoder_pair.h"

struct OracleOutcome {
  bool Ok = false;
  std::string Error;                   // why not, when not Ok
  std::vector<DecodedSymbol> Symbols;  // every symbol, in order
  size_t End = 0;                      // coded bytes read
  std::vector<uint8_t> Bytes;          // the decoded bytes
};

// Decodes target bytes from coded with the window preset to dictionary (at
// most 16384 bytes). Ok when all target bytes came out, the last symbol ends
// at the target and no byte after the coded ones was read.
OracleOutcome OracleDecodeData(const std::vector<uint8_t>& coded,
                               const std::vector<uint8_t>& dictionary, int32_t target);

struct OracleEntry {
  std::string Name;  // the whole name, as the front compression gives it back
  bool IsFolder = false;
  uint64_t Times[3] = {0, 0, 0};  // creation, last access, last write
  int32_t RefBack = 0;            // as stored
  int32_t PrefixLength = 0;
  std::vector<uint8_t> Data;
};

struct OracleArchive {
  bool Ok = false;
  std::string Error;  // the expander's message or the reason, when not Ok
  std::string Comment, RunAfter;
  bool IsProtected = false;
  std::vector<OracleEntry> Entries;
};

// Reads the whole distributable, answering the password prompt with password.
OracleArchive OracleReadArchive(const std::vector<uint8_t>& file, const std::string& password = {});
