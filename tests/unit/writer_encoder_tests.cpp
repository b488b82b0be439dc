// EncodeFileData at every level: the oracle decoder must give back the
// data exactly, stop exactly at its end, and the parse must use the format's
// edges (long matches, far distances, matches into the preset dictionary).
#include <gtest/gtest.h>

#include <random>

#include "oracle_reader.h"
#include "test_bytes.h"
#include "writer/file_encoder.h"

namespace {

using test_bytes::Random;

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> v;
  for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t n) {
  return std::vector<uint8_t>(v.begin() + std::ptrdiff_t(from),
                              v.begin() + std::ptrdiff_t(from + n));
}

// Text with words repeating at all distances, so that matches abound.
std::vector<uint8_t> Wordy(size_t n, uint32_t seed) {
  return test_bytes::Words(
      n, seed,
      {"int ", "return ", "struct ", "{\n", "}\n", "const ", "value", "_t ", "(", ")", "; ",
       "template<", ">", "namespace ", "std::", "vector", "size", " = ", "\n\n"},
      7, 'a', 26);
}

OracleOutcome RoundTrip(const std::vector<uint8_t>& dictionary, const std::vector<uint8_t>& data,
                        int level) {
  std::vector<uint8_t> coded = EncodeFileData(dictionary, data, level);
  OracleOutcome d = OracleDecodeData(coded, dictionary, int32_t(data.size()));
  EXPECT_TRUE(d.Ok) << d.Error;
  EXPECT_TRUE(d.Bytes == data) << "decoded bytes differ";
  EXPECT_EQ(d.End, coded.size()) << "the stream must end in its last byte";
  return d;
}

bool HasMatch(const OracleOutcome& d, int32_t length, int32_t distance) {
  for (const auto& s : d.Symbols)
    if ((length == 0 || s.Length == length) && (distance == 0 || s.Distance == distance))
      return true;
  return false;
}

struct Case {
  const char* What;
  std::vector<uint8_t> Dictionary;
  std::vector<uint8_t> Data;
  int32_t WantLength;    // a match of this length must appear (0: any)
  int32_t WantDistance;  // ... at this distance (0: any); both 0: no check
};

std::vector<Case> Cases() {
  const std::vector<uint8_t> r = Random(40000, 1);
  const std::vector<uint8_t> s = Random(40000, 2);
  std::vector<Case> cases;
  cases.push_back({"empty data", {}, {}, 0, 0});
  cases.push_back({"one byte", {}, {'Q'}, 0, 0});
  cases.push_back({"ABABABAB", {}, {'A', 'B', 'A', 'B', 'A', 'B', 'A', 'B'}, 6, 2});
  cases.push_back({"incompressible", {}, Slice(r, 0, 5000), 0, 0});
  cases.push_back({"a match of 256 bytes",
                   {},
                   Cat({Slice(r, 0, 2000), Slice(r, 0, 256), Slice(s, 0, 500)}),
                   256,
                   2000});
  cases.push_back({"a match of 257 bytes",
                   {},
                   Cat({Slice(r, 0, 2000), Slice(r, 0, 257), Slice(s, 0, 500)}),
                   257,
                   2000});
  cases.push_back({"a match of 300 bytes",
                   {},
                   Cat({Slice(r, 0, 3000), Slice(r, 0, 300), Slice(s, 0, 500)}),
                   300,
                   3000});
  cases.push_back({"runs capped at 4352", {}, std::vector<uint8_t>(20000, 0), 4352, 1});
  cases.push_back({"a match of exactly 4352",
                   {},
                   Cat({Slice(r, 0, 6000), Slice(r, 0, 4352), Slice(s, 0, 100)}),
                   4352,
                   6000});
  cases.push_back({"distance 16384",
                   {},
                   Cat({Slice(r, 0, 16384), Slice(r, 0, 100), Slice(s, 0, 100)}),
                   100,
                   16384});
  cases.push_back(
      {"distance 16385 is out of reach", {}, Cat({Slice(r, 0, 16385), Slice(r, 0, 40)}), 0, 0});
  cases.push_back({"match into the dictionary's first byte", Slice(r, 0, 16384),
                   Cat({Slice(r, 0, 64), Slice(s, 0, 64)}), 64, 16384});
  cases.push_back({"match into a short dictionary", Slice(r, 0, 100),
                   Cat({Slice(s, 0, 50), Slice(r, 10, 80)}), 80, 140});
  cases.push_back(
      {"dictionary repeated at distance 1", {'z'}, std::vector<uint8_t>(50, 'z'), 50, 1});
  cases.push_back({"text crossing all rebuilds", {}, Wordy(300000, 3), 0, 0});
  cases.push_back({"text with a dictionary", Wordy(16384, 4), Wordy(60000, 5), 0, 0});
  cases.push_back(
      {"match ending at the last byte", {}, Cat({Slice(r, 0, 1000), Slice(r, 0, 33)}), 33, 1000});
  return cases;
}

TEST(WriterEncoder, RoundTripsAtEveryLevel) {
  for (const Case& c : Cases()) {
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
      SCOPED_TRACE(std::string(c.What) + ", level " + std::to_string(level));
      OracleOutcome d = RoundTrip(c.Dictionary, c.Data, level);
      if (c.WantLength != 0 || c.WantDistance != 0)
        EXPECT_TRUE(HasMatch(d, c.WantLength, c.WantDistance)) << "expected match not used";
    }
  }
}

TEST(WriterEncoder, EnoughMatchesAndSymbolsToCrossRebuilds) {
  std::vector<uint8_t> data = Wordy(300000, 3);
  OracleOutcome d = RoundTrip({}, data, kDefaultLevel);
  size_t matches = 0;
  for (const auto& s : d.Symbols) matches += s.Length > 1;
  EXPECT_GT(d.Symbols.size(), 4096u);
  EXPECT_GT(matches, 2048u);
}

TEST(WriterEncoder, HigherLevelsDoNotLoseAndAllCompressText) {
  std::vector<uint8_t> data = Wordy(200000, 9);
  size_t level1 = EncodeFileData({}, data, 1).size();
  size_t level9 = EncodeFileData({}, data, 9).size();
  EXPECT_LT(level1, data.size() / 2);
  EXPECT_LE(level9, level1);
}

TEST(WriterEncoder, ADictionaryHelps) {
  std::vector<uint8_t> text = Wordy(30000, 11);
  std::vector<uint8_t> dictionary = Slice(text, 0, 16384);
  std::vector<uint8_t> data = Slice(text, 1000, 8000);
  EXPECT_LT(EncodeFileData(dictionary, data, 6).size() * 4, EncodeFileData({}, data, 6).size());
}

TEST(WriterEncoder, ReportsProgress) {
  std::vector<uint8_t> data = Wordy(1 << 20, 12);
  std::vector<int64_t> seen;
  EncodeFileData({}, data, 6, [&](int64_t done) { seen.push_back(done); });
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.back(), int64_t(data.size()));
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
}

}  // namespace
