// The fast decoder against the oracle, on the same inputs: tree builds
// from many count histories, writer-made streams at every level laid across
// block boundaries at every offset, arbitrary bytes, cut and damaged
// archives. The traces (output, the reads before each write, the bytes kept
// for the history, the stream's position and end, failures) must be equal.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "codec/code_tree.h"
#include "codec/oracle_codec.h"
#include "decoder_pair.h"
#include "entries/history.h"
#include "test_bytes.h"
#include "writer/file_encoder.h"

namespace {

// Text-like bytes: words from a small vocabulary, so that matches abound.
Bytes WordText(size_t n, uint32_t seed) {
  return test_bytes::Words(n, seed,
                           {"the ", "expander ", "block ", "of ", "data\n", "tree ", "window ",
                            "a ", "history ", "code ", "and ", "\t"});
}

Bytes CoreSlice(size_t offset, size_t n) {
  Bytes core = TestCore();
  return Bytes(core.begin() + offset, core.begin() + offset + n);
}

void ExpectSameTrace(const DecoderInput& input, const std::string& what) {
  DecoderTrace fast = RunDecoder(false, input);
  DecoderTrace oracle = RunDecoder(true, input);
  EXPECT_EQ(fast, oracle) << what << ": " << TraceDifference(fast, oracle);
}

// ---------------------------------------------------------------- tree builds

struct CountHistory {
  const char* What;
  bool DistanceStart;
  int Builds;
  int Increments;  // counts added between builds
  int Skew;        // 0: uniform over all symbols; k: symbol = random^k, so low symbols dominate
  int Jump;        // occasional big additions to one symbol (0: none)
};

class TreeBuildTest : public testing::TestWithParam<CountHistory> {};

TEST_P(TreeBuildTest, FastBuildEqualsTheListWalk) {
  const CountHistory& c = GetParam();
  auto fast = std::make_unique<CodeTree>();
  auto oracle = std::make_unique<CodeTree>();
  for (CodeTree* t : {fast.get(), oracle.get()}) {
    if (c.DistanceStart) {
      StartDistanceCounts(*t);
    } else {
      StartMainCounts(*t);
    }
  }
  std::mt19937 rng(c.Builds * 7 + c.Increments);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int build = 0; build < c.Builds; ++build) {
    BuildCodeTree(*fast);
    BuildCodeTreeOracle(*oracle);
    for (int s = 0; s < kSymbolCount; ++s) {
      ASSERT_EQ(fast->SymbolOrder[s], oracle->SymbolOrder[s]) << c.What << " build " << build;
    }
    for (int n = kSymbolCount; n < kNodeCount; ++n) {
      const CodeNode& f = fast->NodeStore[n];
      const CodeNode& r = oracle->NodeStore[n];
      ASSERT_EQ(f.Weight, r.Weight) << c.What << " build " << build << " node " << n;
      ASSERT_EQ(f.Child0 - fast->NodeStore, r.Child0 - oracle->NodeStore)
          << c.What << " node " << n;
      ASSERT_EQ(f.Child1 - fast->NodeStore, r.Child1 - oracle->NodeStore)
          << c.What << " node " << n;
    }
    for (int i = 0; i < c.Increments; ++i) {
      double u = unit(rng);
      int s = static_cast<int>(kSymbolCount * (c.Skew == 0 ? u : std::pow(u, c.Skew)));
      ++fast->SymbolCounts[s];
      ++oracle->SymbolCounts[s];
    }
    if (c.Jump > 0 && build % 3 == 1) {
      int s = static_cast<int>(rng() % kSymbolCount);
      fast->SymbolCounts[s] += c.Jump;
      oracle->SymbolCounts[s] += c.Jump;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Histories, TreeBuildTest,
    testing::Values(CountHistory{"young main tree, uniform", false, 12, 256, 0, 0},
                    CountHistory{"young main tree, text-like skew", false, 12, 256, 3, 0},
                    CountHistory{"distance tree every 64 matches", true, 20, 64, 2, 0},
                    CountHistory{"old tree, 1024 per build", false, 30, 1024, 4, 0},
                    CountHistory{"one symbol dominates", false, 10, 512, 40, 0},
                    CountHistory{"big jumps reorder far", false, 15, 100, 1, 100000},
                    CountHistory{"few additions: many equal weights", true, 40, 3, 0, 0}),
    [](const testing::TestParamInfo<CountHistory>& info) {
      return "Case" + std::to_string(info.index);
    });

// ---------------------------------------------------------------- writer-made streams

struct StreamCase {
  const char* What;
  int Level;
  bool Text;  // word text, else binary bytes of the test core
  size_t Size;
  size_t Dictionary;  // bytes of preset dictionary taken from the core
};

class WriterStreamTest : public testing::TestWithParam<StreamCase> {};

TEST_P(WriterStreamTest, SameTraceAtEveryBlockOffset) {
  const StreamCase& c = GetParam();
  Bytes data = c.Text ? WordText(c.Size, c.Level) : CoreSlice(1000, c.Size);
  Bytes dictionary = CoreSlice(20480 - c.Dictionary, c.Dictionary);
  std::vector<uint8_t> coded = EncodeFileData(dictionary, data, c.Level);
  // Entry data starting at each offset near a block's end, then a few bytes
  // of the next entry, so the give-back of unread bytes is seen.
  for (int32_t skip : {0, 1, 7, 4088, 4089, 4090, 4091, 4092, 4093, 4094, 4095, 4096}) {
    Bytes payload(static_cast<size_t>(skip), 0x5A);
    payload.insert(payload.end(), coded.begin(), coded.end());
    payload.insert(payload.end(), {'n', 'e', 'x', 't'});
    for (bool skipping : {false, true}) {
      DecoderInput input{EntryDataArchive(payload), skip, dictionary,
                         static_cast<int32_t>(data.size()), skipping};
      DecoderTrace fast = RunDecoder(false, input);
      EXPECT_EQ(fast.Output, skipping ? Bytes{} : data) << c.What << " skip " << skip;
      DecoderTrace oracle = RunDecoder(true, input);
      ASSERT_EQ(fast, oracle) << c.What << " skip " << skip << ": "
                              << TraceDifference(fast, oracle);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, WriterStreamTest,
    testing::Values(StreamCase{"text, level 1", 1, true, 70000, 0},
                    StreamCase{"text, level 6, full dictionary", 6, true, 120000, 16384},
                    StreamCase{"text, level 9, short dictionary", 9, true, 50000, 300},
                    StreamCase{"binary, level 1", 1, false, 19000, 0},
                    StreamCase{"binary, level 9, dictionary", 9, false, 15000, 5000},
                    StreamCase{"tiny text, level 9", 9, true, 37, 0},
                    StreamCase{"long runs (level 6)", 6, true, 3, 0}),
    [](const testing::TestParamInfo<StreamCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(DecoderDifferential, LongMatchesAndManyRebuilds) {
  // Runs of one byte give long matches (symbol 511 with its 12 extra bits)
  // and, with noise between them, many rebuilds of both trees past 1024 matches.
  Bytes data;
  std::mt19937 rng(5);
  while (data.size() < 400000) {
    data.insert(data.end(), 1 + rng() % 5000, static_cast<uint8_t>(rng()));
    Bytes noise = WordText(1 + rng() % 40, rng());
    data.insert(data.end(), noise.begin(), noise.end());
  }
  std::vector<uint8_t> coded = EncodeFileData({}, data, 9);
  DecoderInput input{EntryDataArchive(coded), 0, {}, static_cast<int32_t>(data.size()), false};
  DecoderTrace fast = RunDecoder(false, input);
  EXPECT_EQ(fast.Output, data);
  ExpectSameTrace(input, "long matches");
}

// ---------------------------------------------------------------- hostile input

TEST(DecoderDifferential, ArbitraryBytesEndAlike) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes payload(1 + rng() % 9000);
    for (auto& b : payload) b = static_cast<uint8_t>(rng());
    // Low bytes often make short codes of the start trees: matches early.
    if (trial % 3 == 0) {
      for (auto& b : payload) b &= 0x0F;
    }
    size_t dictionary = trial % 4 == 0 ? 0 : rng() % 16385;
    DecoderInput input{EntryDataArchive(payload), static_cast<int32_t>(rng() % 5),
                       CoreSlice(20480 - dictionary, dictionary),
                       static_cast<int32_t>(rng() % 60000), trial % 5 == 0};
    ExpectSameTrace(input, "trial " + std::to_string(trial));
    if (HasFailure()) return;
  }
}

TEST(DecoderDifferential, CutAndDamagedArchivesFailAtTheSameMoment) {
  Bytes data = WordText(30000, 3);
  std::vector<uint8_t> coded = EncodeFileData({}, data, 6);
  std::mt19937 rng(2);
  for (int trial = 0; trial < 60; ++trial) {
    Bytes payload(static_cast<size_t>(trial * 37 % 4096), 0x11);
    payload.insert(payload.end(), coded.begin(), coded.end());
    Bytes file = EntryDataArchive(payload);
    size_t streamStart = file.size() - BuildBlocks(payload, "").size();
    if (trial % 2 == 0) {
      // Cut: the size field is made to agree, so the run gets to the data.
      file.resize(streamStart + rng() % (file.size() - streamStart));
      AppendLittle(file, 0, 0);
      uint32_t size = static_cast<uint32_t>(file.size());
      for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
    } else {
      file[streamStart + rng() % (file.size() - streamStart)] ^= 0x40;
    }
    DecoderInput input{file, trial * 37 % 4096, {}, static_cast<int32_t>(data.size()), false};
    ExpectSameTrace(input, "trial " + std::to_string(trial));
    if (HasFailure()) return;
  }
}

}  // namespace
