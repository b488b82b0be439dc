// The writer's bit and symbol layer against the oracle decoder: bit order,
// the known five-byte stream, the symbol map at its edges, and long symbol
// sequences that cross the rebuild schedules of both trees.
#include <gtest/gtest.h>

#include <random>

#include "oracle_reader.h"
#include "writer/bit_writer.h"
#include "writer/symbol_coder.h"

namespace {

struct Sym {
  int32_t Length;  // 1: literal
  int32_t Value;   // literal byte, or match distance
};

std::vector<uint8_t> EncodeSymbols(const std::vector<Sym>& symbols) {
  std::vector<uint8_t> out;
  BitWriter bits(out);
  SymbolCoder coder(bits);
  for (const Sym& s : symbols) {
    if (s.Length == 1) {
      coder.PutLiteral(static_cast<uint8_t>(s.Value));
    } else {
      coder.PutMatch(s.Length, s.Value);
    }
  }
  bits.Flush();
  return out;
}

int32_t OutputLength(const std::vector<Sym>& symbols) {
  int32_t n = 0;
  for (const Sym& s : symbols) n += s.Length;
  return n;
}

void ExpectSameSymbols(const std::vector<Sym>& symbols, const std::vector<uint8_t>& dictionary) {
  std::vector<uint8_t> coded = EncodeSymbols(symbols);
  OracleOutcome d = OracleDecodeData(coded, dictionary, OutputLength(symbols));
  ASSERT_TRUE(d.Ok) << d.Error;
  ASSERT_EQ(d.Symbols.size(), symbols.size());
  for (size_t i = 0; i < symbols.size(); ++i) {
    ASSERT_EQ(d.Symbols[i].Length, symbols[i].Length) << "symbol " << i;
    if (symbols[i].Length > 1) ASSERT_EQ(d.Symbols[i].Distance, symbols[i].Value) << "symbol " << i;
  }
  EXPECT_EQ(d.End, coded.size()) << "no byte may follow the last symbol's byte";
}

TEST(WriterBitWriter, PacksLeastSignificantBitFirst) {
  struct Row {
    std::vector<std::pair<uint64_t, int>> Puts;
    std::vector<uint8_t> Expected;
    const char* What;
  } rows[] = {
      {{{1, 1}}, {0x01}, "one bit lands in bit 0, the byte is padded with zeros"},
      {{{1, 1}, {0, 1}, {1, 1}}, {0x05}, "bits fill a byte from bit 0 upward"},
      {{{0xABC, 12}}, {0xBC, 0x0A}, "a 12-bit value goes out low bits first"},
      {{{0xFF, 8}}, {0xFF}, "a whole byte adds no padding byte"},
      {{{0x1F, 5}, {0x7, 3}, {0x1, 2}}, {0xFF, 0x01}, "values run across byte boundaries"},
      {{{0x123456789ABCDEFull, 60}},
       {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01},
       "codes over 32 bits"},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> out;
    BitWriter bits(out);
    for (auto [v, n] : row.Puts) bits.PutBits(v, n);
    bits.Flush();
    EXPECT_EQ(out, row.Expected) << row.What;
  }
}

// Literal 'A', literal 'B', a match of length 6 at distance 2: the bytes
// that the expander turns into ABABABAB with no dictionary.
TEST(WriterSymbolCoder, KnownStreamForAbababab) {
  std::vector<uint8_t> coded = EncodeSymbols({{1, 'A'}, {1, 'B'}, {6, 2}});
  EXPECT_EQ(coded, (std::vector<uint8_t>{0xAE, 0x5D, 0xAC, 0xB3, 0x0A}));
}

TEST(WriterSymbolCoder, StartCodesMatchTheDecodersTrees) {
  // Symbol 0 of the start main tree is 010101010 in reading order; symbol 511
  // is 101010101. Reading order is bit 0 first in the table.
  std::vector<uint8_t> out;
  BitWriter bits(out);
  SymbolCoder coder(bits);
  const CodeTable& main = coder.MainCodes();
  auto reading = [](const CodeTable& t, int s) {
    std::string r;
    for (int i = 0; i < t.Length[s]; ++i) r += ((t.Bits[s] >> i) & 1) ? '1' : '0';
    return r;
  };
  EXPECT_EQ(reading(main, 0), "010101010");
  EXPECT_EQ(reading(main, 255), "001010101");
  EXPECT_EQ(reading(main, 256), "110101010");
  EXPECT_EQ(reading(main, 511), "101010101");
  const CodeTable& distance = coder.DistanceCodes();
  EXPECT_EQ(reading(distance, 0), "01101010");
  EXPECT_EQ(reading(distance, 63), "01010101");
  EXPECT_EQ(reading(distance, 128), "0000101010");
  EXPECT_EQ(reading(distance, 511), "101010101");
  EXPECT_EQ(coder.LengthPrice(300), 9 + 12);
  EXPECT_EQ(coder.DistancePrice(1), 8 + 5);
}

TEST(WriterSymbolCoder, SymbolMapAtItsEdges) {
  // A run of 'x' long enough for any length at distance 1, then the edges.
  struct Row {
    int32_t Length;
    int32_t Distance;
    const char* What;
  } rows[] = {
      {2, 1, "shortest match, symbol 256"},      {256, 1, "longest short match, symbol 510"},
      {257, 1, "symbol 511 with extra 0"},       {258, 1, "symbol 511 with extra 1"},
      {4352, 1, "symbol 511 with extra 4095"},   {3, 32, "distance 32, symbol 0, extra 31"},
      {3, 33, "distance 33, symbol 1, extra 0"}, {3, 16384, "distance 16384, symbol 511, extra 31"},
  };
  std::vector<uint8_t> dictionary(16384, 'x');
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    ExpectSameSymbols({{1, 'y'}, {row.Length, row.Distance}, {1, 'z'}}, dictionary);
  }
}

// Enough symbols to pass the main rebuilds (every 256 up to 2048, then every
// 1024) and the distance rebuilds (every 64 up to 1024, then every 512): a
// wrong schedule or a wrong count order desynchronises the trees.
TEST(WriterSymbolCoder, LongSequencesCrossEveryRebuild) {
  struct Row {
    int32_t Symbols;
    int MatchPercent;
    const char* What;
  } rows[] = {
      {300, 10, "past the first main rebuild"},
      {2100, 20, "past symbol 2048"},
      {6000, 40, "past match 1024 and 2048, several late main rebuilds"},
      {20000, 70, "mostly matches, skewed distances"},
  };
  std::vector<uint8_t> dictionary(16384);
  std::mt19937 rng(7);
  for (uint8_t& b : dictionary) b = static_cast<uint8_t>(rng());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    std::vector<Sym> symbols;
    std::geometric_distribution<int> small(0.05);
    for (int32_t i = 0; i < row.Symbols; ++i) {
      if (int(rng() % 100) < row.MatchPercent) {
        int32_t length = 2 + std::min(small(rng), 300);
        if (rng() % 50 == 0) length = 257 + int32_t(rng() % 4096);
        int32_t distance = 1 + std::min(small(rng) * 40 + int32_t(rng() % 40), 16383);
        symbols.push_back({length, distance});
      } else {
        symbols.push_back({1, int32_t(rng() % 64 + 32)});
      }
    }
    ExpectSameSymbols(symbols, dictionary);
  }
}

}  // namespace
