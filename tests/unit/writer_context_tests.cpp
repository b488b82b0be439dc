// What the speed work must not change: a reused encoder context codes every
// file exactly as a fresh one does, whatever came before it; the archive is
// the same byte for byte for any number of threads; the codes read from a
// tree in node order equal those of a walk from the root; and every level
// round-trips the encoder's tricky spots through the oracle decoder.
#include <gtest/gtest.h>

#include <random>

#include "oracle_reader.h"
#include "test_bytes.h"
#include "writer/archive_writer.h"
#include "writer/file_encoder.h"
#include "writer/match_finder.h"
#include "writer/symbol_coder.h"

namespace {

using Bytes = std::vector<uint8_t>;

using test_bytes::Random;
using test_bytes::Text;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes v;
  for (const Bytes& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

struct Job {
  const char* What;
  Bytes Dictionary;
  Bytes Data;
};

std::vector<Job> Jobs() {
  Bytes r = Random(70000, 5);
  Bytes t = Text(120000, 6);
  return {
      {"text, no dictionary", {}, Bytes(t.begin(), t.begin() + 30000)},
      {"a large file, then small ones", {}, Cat({t, t})},
      {"text after its own beginning", Bytes(t.begin(), t.begin() + 16384),
       Bytes(t.begin() + 100, t.begin() + 9000)},
      {"one byte", {}, {'x'}},
      {"random with a repeat", Bytes(r.begin(), r.begin() + 500),
       Cat({Bytes(r.begin(), r.begin() + 3000), Bytes(r.begin(), r.begin() + 3000)})},
      {"a run of zeros", {}, Bytes(50000, 0)},
      {"two bytes", {'a', 'b'}, {'a', 'b'}},
  };
}

TEST(WriterContext, AReusedContextCodesLikeAFreshOne) {
  const std::vector<Job> jobs = Jobs();
  for (int level = kMinLevel; level <= kMaxLevel; ++level) {
    EncoderContext shared;
    // Every job twice, in an order that puts each after a different one.
    for (int round = 0; round < 2; ++round) {
      for (size_t k = 0; k < jobs.size(); ++k) {
        const Job& j = jobs[round == 0 ? k : jobs.size() - 1 - k];
        SCOPED_TRACE(std::string(j.What) + ", level " + std::to_string(level) + ", round " +
                     std::to_string(round));
        Bytes reused = shared.Encode(j.Dictionary, j.Data, level);
        EXPECT_EQ(reused, EncodeFileData(j.Dictionary, j.Data, level));
      }
    }
  }
}

TEST(WriterContext, ContextsMixLevelsWithoutTrace) {
  // One context switching between the chain and the tree finder each call.
  const std::vector<Job> jobs = Jobs();
  EncoderContext shared;
  for (int i = 0; i < 12; ++i) {
    const Job& j = jobs[size_t(i) % jobs.size()];
    int level = i % 2 == 0 ? 9 : 1 + i % 6;
    SCOPED_TRACE(std::string(j.What) + ", level " + std::to_string(level));
    EXPECT_EQ(shared.Encode(j.Dictionary, j.Data, level),
              EncodeFileData(j.Dictionary, j.Data, level));
  }
}

TEST(WriterContext, FindersClearTheirTablesWhenStampsRunOut) {
  // With a low stamp limit the tables are cleared every few runs; each run
  // must still find exactly what a new finder finds.
  constexpr uint32_t kLimit = 70000;
  HashChainFinder chains(kLimit);
  TreeFinder tree(kLimit);
  uint64_t positions = 0;
  for (int run = 0; run < 12; ++run) {
    Bytes buffer = Text(9000 + size_t(run) * 2500, uint32_t(run % 4));
    const int32_t size = int32_t(buffer.size());
    positions += uint64_t(size);
    HashChainFinder freshChains;
    TreeFinder freshTree;
    chains.Reset(buffer.data(), size, 16, 64);
    freshChains.Reset(buffer.data(), size, 16, 64);
    tree.Reset(buffer.data(), size, 24, 96);
    freshTree.Reset(buffer.data(), size, 24, 96);
    Match a[TreeFinder::kMaxMatches], b[TreeFinder::kMaxMatches];
    for (int32_t p = 0; p < size; ++p) {
      Match x = chains.FindAndInsert(p), y = freshChains.FindAndInsert(p);
      ASSERT_EQ(x.Length, y.Length) << "run " << run << ", position " << p;
      ASSERT_EQ(x.Distance, y.Distance) << "run " << run << ", position " << p;
      int32_t n = tree.FindAndInsert(p, a);
      ASSERT_EQ(n, freshTree.FindAndInsert(p, b)) << "run " << run << ", position " << p;
      for (int32_t k = 0; k < n; ++k) {
        ASSERT_EQ(a[k].Length, b[k].Length);
        ASSERT_EQ(a[k].Distance, b[k].Distance);
      }
    }
  }
  EXPECT_GT(positions, 3 * uint64_t{kLimit}) << "the limit was passed several times";
}

ArchiveEntry File(const std::string& name, const Bytes& data) {
  ArchiveEntry e;
  e.Name = name;
  e.Creation = {1, 2};
  e.LastAccess = {3, 4};
  e.LastWrite = {5, 6};
  e.Data = data;
  return e;
}

TEST(WriterContext, TheArchiveIsTheSameForAnyNumberOfThreads) {
  // Files of every size class, some sharing beginnings and content, more
  // than the ring holds, so plans depend on earlier files' bytes.
  std::vector<Bytes> data;
  Bytes shared = Text(30000, 1);
  for (int i = 0; i < 300; ++i) {
    switch (i % 6) {
      case 0:
        data.push_back(Text(100 + size_t(i) * 13, uint32_t(i)));
        break;
      case 1:
        data.push_back(Bytes(shared.begin(), shared.begin() + 2000 + i * 50));
        break;
      case 2:
        data.push_back(Random(size_t(i) * 7, uint32_t(i)));
        break;
      case 3:
        data.push_back({});
        break;
      case 4:
        data.push_back(Cat({Bytes(shared.begin(), shared.begin() + 500), Text(4000, 9)}));
        break;
      default:
        data.push_back(Text(i == 5 ? 200000 : 20000, uint32_t(i % 3)));
        break;
    }
  }
  std::vector<ArchiveEntry> entries;
  for (size_t i = 0; i < data.size(); ++i)
    entries.push_back(File("d\\f" + std::to_string(i) + (i % 4 ? ".c" : ".txt"), data[i]));
  const Bytes core = Random(20480, 77);
  for (int level : {1, 4, kDefaultLevel, 7, 9}) {
    Bytes first;
    for (int threads : {1, 2, 3, 8}) {
      SCOPED_TRACE("level " + std::to_string(level) + ", threads " + std::to_string(threads));
      PackOptions options;
      options.Level = level;
      options.Threads = threads;
      Bytes out;
      PackResult r = WriteArchiveToVector(core, entries, options, out);
      ASSERT_TRUE(r.Ok) << r.Error;
      if (threads == 1) {
        first = out;
        OracleArchive read = OracleReadArchive(out, "");
        ASSERT_TRUE(read.Ok) << read.Error;
        ASSERT_EQ(read.Entries.size(), entries.size());
      } else {
        EXPECT_TRUE(out == first) << "differs from the single thread's archive";
      }
    }
  }
}

TEST(WriterContext, CodesInNodeOrderEqualAWalkFromTheRoot) {
  std::mt19937 rng(3);
  CodeTree tree;
  StartMainCounts(tree);
  for (int build = 0; build < 40; ++build) {
    // Skewed counts, as real data gives, and now and then ties.
    for (int32_t s = 0; s < kSymbolCount; ++s)
      tree.SymbolCounts[s] += int32_t(rng() % (build % 3 == 0 ? 2 : 1 + (s % 7) * 40));
    BuildCodeTree(tree);
    CodeTable table;
    ReadCodes(tree, table);
    for (int32_t s = 0; s < kSymbolCount; ++s) {
      // Walk the code's bits from the root; it must end on the leaf of s.
      const CodeNode* node = TreeRoot(tree);
      for (int32_t b = 0; b < table.Length[s]; ++b) {
        ASSERT_NE(node->Child0, nullptr) << "code of " << s << " too long";
        node = (table.Bits[s] >> b) & 1 ? node->Child1 : node->Child0;
      }
      ASSERT_EQ(node->Child0, nullptr) << "code of " << s << " ends inside the tree";
      ASSERT_EQ(node->Symbol, s);
    }
  }
}

// Spots where the parsers decide at an edge: a match that the finder's nice
// length cuts and extends, one that ends exactly at the data's end, a match
// wholly inside the dictionary's first bytes at distance 16384, the optimal
// parser's segment ends and forced matches, and rebuilds inside long runs.
TEST(WriterContext, EveryLevelRoundTripsTheTrickySpots) {
  Bytes r = Random(40000, 8);
  Bytes t = Text(40000, 9);
  struct Spot {
    const char* What;
    Bytes Dictionary;
    Bytes Data;
  } spots[] = {
      {"a match just past every nice length",
       {},
       Cat({Bytes(r.begin(), r.begin() + 1000), Bytes(r.begin(), r.begin() + 259),
            Bytes(r.begin() + 5000, r.begin() + 5040)})},
      {"the last match ends at the last byte",
       {},
       Cat({Bytes(r.begin(), r.begin() + 700), Bytes(r.begin(), r.begin() + 300)})},
      {"matches into the dictionary's first byte", Bytes(r.begin(), r.begin() + 16384),
       Cat({Bytes(r.begin(), r.begin() + 40), Bytes(t.begin(), t.begin() + 3000)})},
      {"long runs across segment ends",
       {},
       Cat({Bytes(4100, 'a'), Bytes(t.begin(), t.begin() + 5000), Bytes(9000, 'b')})},
      {"text across many rebuilds", {}, Bytes(t.begin(), t.end())},
      {"short data after a full dictionary", Bytes(t.begin(), t.begin() + 16384),
       Bytes(t.begin() + 16384, t.begin() + 16390)},
      {"matches of 2 only", {}, {'a', 'b', 'x', 'a', 'b', 'y', 'a', 'b', 'z', 'a', 'b'}},
  };
  for (const Spot& s : spots) {
    for (int level = kMinLevel; level <= kMaxLevel; ++level) {
      SCOPED_TRACE(std::string(s.What) + ", level " + std::to_string(level));
      Bytes coded = EncodeFileData(s.Dictionary, s.Data, level);
      OracleOutcome d = OracleDecodeData(coded, s.Dictionary, int32_t(s.Data.size()));
      ASSERT_TRUE(d.Ok) << d.Error;
      EXPECT_TRUE(d.Bytes == s.Data);
      EXPECT_EQ(d.End, coded.size());
    }
  }
}

}  // namespace
