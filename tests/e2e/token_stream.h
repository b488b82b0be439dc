// A small test encoder for the compressed data of one file entry: it codes a
// given list of literals and matches with the adaptive trees of the format,
// rebuilding them on the decoder's schedule. It chooses nothing itself, so a
// test states exactly which symbols the core must decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Token {
  int32_t Literal = -1;  // 0-255 for a literal, -1 for a match
  int32_t Length = 0;    // match length, 2 to 4352
  int32_t Distance = 0;  // match distance, 1 to 16384
};

inline Token LiteralToken(uint8_t byte) { return Token{byte, 0, 0}; }
inline Token MatchToken(int32_t length, int32_t distance) { return Token{-1, length, distance}; }

// The stored bytes of an entry's data for these tokens: bits least significant
// first in each byte, the last byte padded with zero bits.
std::vector<uint8_t> EncodeTokens(const std::vector<Token>& tokens);
// Every byte of the text as a literal.
std::vector<uint8_t> EncodeLiterals(const std::string& text);
