// BuildCodeTree, bit for bit: the codes of the start trees, the stable sort
// that starts from the previous order, and the rank of a merged node behind
// leaves of equal weight.
#include "codec/code_tree.h"

#include <gtest/gtest.h>

#include <memory>

#include "stream_builder.h"
#include "test_bytes.h"

namespace {

std::unique_ptr<CodeTree> NewTree(int32_t favoured) {
  auto tree = std::make_unique<CodeTree>();
  if (favoured > 0) {
    StartDistanceCounts(*tree);
  } else {
    StartMainCounts(*tree);
  }
  return tree;
}

struct CodeCase {
  const char* What;
  bool DistanceStart;  // start counts of the distance tree, else all 1
  int32_t Symbol;
  std::string Code;
};

class StartTreeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(StartTreeTest, GivesTheCode) {
  const CodeCase& c = GetParam();
  auto tree = NewTree(c.DistanceStart ? kFavouredDistanceSymbols : 0);
  BuildCodeTree(*tree);
  EXPECT_EQ(AllCodes(*tree)[c.Symbol], c.Code) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartTreeTest,
    testing::Values(CodeCase{"all 1: symbol 0", false, 0, "010101010"},
                    CodeCase{"all 1: symbol 1", false, 1, "010101011"},
                    CodeCase{"all 1: symbol 2", false, 2, "010101000"},
                    CodeCase{"all 1: symbol 255", false, 255, "001010101"},
                    CodeCase{"all 1: symbol 256", false, 256, "110101010"},
                    CodeCase{"all 1: symbol 510", false, 510, "101010100"},
                    CodeCase{"all 1: symbol 511", false, 511, "101010101"},
                    CodeCase{"distance start: symbol 0", true, 0, "01101010"},
                    CodeCase{"distance start: symbol 63", true, 63, "01010101"},
                    CodeCase{"distance start: symbol 64", true, 64, "001101010"},
                    CodeCase{"distance start: symbol 128", true, 128, "0000101010"},
                    CodeCase{"distance start: symbol 511", true, 511, "101010101"}),
    [](const testing::TestParamInfo<CodeCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(CodeTree, StartTreeCodeLengths) {
  auto main = NewTree(0);
  BuildCodeTree(*main);
  auto mainCodes = AllCodes(*main);
  for (int s = 0; s < kSymbolCount; ++s) EXPECT_EQ(mainCodes[s].size(), 9u) << s;
  auto distance = NewTree(kFavouredDistanceSymbols);
  BuildCodeTree(*distance);
  auto codes = AllCodes(*distance);
  for (int s = 0; s < kSymbolCount; ++s) {
    size_t expected = s < 64 ? 8 : s < 128 ? 9 : s < 256 ? 10 : 9;
    EXPECT_EQ(codes[s].size(), expected) << s;
  }
  EXPECT_EQ(TreeRoot(*distance), &distance->NodeStore[kNodeCount - 1]);
  EXPECT_EQ(TreeRoot(*distance)->Weight, 576);
  EXPECT_EQ(TreeRoot(*main)->Weight, 512);
}

struct OrderCase {
  const char* What;
  int32_t First4, First9;  // counts of symbols 4 and 9 at a first build (0: no first build)
  int32_t Position4, Position9;
  std::string Code4, Code9;
};

class PreviousOrderTest : public testing::TestWithParam<OrderCase> {};

TEST_P(PreviousOrderTest, EqualWeightsKeepThePreviousOrder) {
  const OrderCase& c = GetParam();
  auto tree = NewTree(0);
  if (c.First4 > 0) {
    tree->SymbolCounts[4] = c.First4;
    tree->SymbolCounts[9] = c.First9;
    BuildCodeTree(*tree);
  }
  tree->SymbolCounts[4] = 5;
  tree->SymbolCounts[9] = 5;
  BuildCodeTree(*tree);
  EXPECT_EQ(tree->SymbolOrder[4], c.Position4) << c.What;
  EXPECT_EQ(tree->SymbolOrder[9], c.Position9) << c.What;
  auto codes = AllCodes(*tree);
  EXPECT_EQ(codes[4], c.Code4) << c.What;
  EXPECT_EQ(codes[9], c.Code9) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PreviousOrderTest,
    testing::Values(OrderCase{"identity order", 0, 0, 0, 1, "0000010", "0000011"},
                    OrderCase{"9 stood in front (6 and 5)", 5, 6, 1, 0, "0000011", "0000010"},
                    OrderCase{"4 stood in front (6 and 5)", 6, 5, 0, 1, "0000010", "0000011"}),
    [](const testing::TestParamInfo<OrderCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(CodeTree, IdentityOrderPlacesEqualWeightsInSymbolOrder) {
  auto tree = NewTree(0);
  tree->SymbolCounts[4] = 5;
  tree->SymbolCounts[9] = 5;
  BuildCodeTree(*tree);
  // The rest keep ascending symbol order behind them.
  EXPECT_EQ(tree->SymbolOrder[0], 2);
  EXPECT_EQ(tree->SymbolOrder[3], 5);
  EXPECT_EQ(tree->SymbolOrder[5], 6);
  EXPECT_EQ(tree->SymbolOrder[511], 511);
}

TEST(CodeTree, RebuildingWithTheSameCountsChangesNothing) {
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    auto tree = NewTree(seed % 2 ? kFavouredDistanceSymbols : 0);
    Bytes noise = test_bytes::Random(kSymbolCount, seed);
    for (int s = 0; s < kSymbolCount; ++s) tree->SymbolCounts[s] += noise[s] % 4;
    BuildCodeTree(*tree);
    auto codes = AllCodes(*tree);
    std::vector<int32_t> order(tree->SymbolOrder, tree->SymbolOrder + kSymbolCount);
    for (int round = 0; round < 2; ++round) {
      BuildCodeTree(*tree);
      EXPECT_EQ(AllCodes(*tree), codes) << "seed " << seed << " round " << round;
      EXPECT_EQ(std::vector<int32_t>(tree->SymbolOrder, tree->SymbolOrder + kSymbolCount), order)
          << "seed " << seed << " round " << round;
    }
    // SymbolOrder stays a permutation, sorted by descending weight.
    std::vector<int32_t> weightAt(kSymbolCount);
    for (int s = 0; s < kSymbolCount; ++s) weightAt[tree->SymbolOrder[s]] = tree->SymbolCounts[s];
    for (int i = 1; i < kSymbolCount; ++i) EXPECT_GE(weightAt[i - 1], weightAt[i]);
  }
}

TEST(CodeTree, MergedNodeRanksBehindALeafOfEqualWeight) {
  // Symbol 0 weighs 2, the other 511 weigh 1. The pairs of ones merge from the
  // back into nodes of weight 2 that line up behind leaf 0; the odd one left,
  // leaf 1, joins the last of them (node 766 of leaves 2 and 3) in node 767 of
  // weight 3. Leaf 0 then waits behind 254 nodes of weight 2 and is merged last
  // among them, with node 767: node 895.
  auto tree = NewTree(0);
  tree->SymbolCounts[0] = 2;
  BuildCodeTree(*tree);
  const CodeNode* nodes = tree->NodeStore;
  EXPECT_EQ(nodes[512].Child0, &nodes[510]);
  EXPECT_EQ(nodes[512].Child1, &nodes[511]);
  EXPECT_EQ(nodes[766].Child0, &nodes[2]);
  EXPECT_EQ(nodes[766].Child1, &nodes[3]);
  EXPECT_EQ(nodes[767].Child0, &nodes[766]);
  EXPECT_EQ(nodes[767].Child1, &nodes[1]);
  EXPECT_EQ(nodes[767].Weight, 3);
  EXPECT_EQ(nodes[895].Child0, &nodes[767]);
  EXPECT_EQ(nodes[895].Child1, &nodes[0]);
  EXPECT_EQ(nodes[895].Weight, 5);
  EXPECT_EQ(TreeRoot(*tree)->Weight, 513);
}

TEST(CodeTree, EveryLeafIsReachedOnce) {
  auto tree = NewTree(0);
  for (int s = 0; s < kSymbolCount; ++s) tree->SymbolCounts[s] = 1 + (s * 37) % 101;
  BuildCodeTree(*tree);
  auto codes = AllCodes(*tree);
  for (int s = 0; s < kSymbolCount; ++s) EXPECT_FALSE(codes[s].empty()) << s;
  // Prefix-free: sorted codes never prefix the next one.
  std::vector<std::string> sorted(codes.begin(), codes.end());
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 1; i < sorted.size(); ++i) {
    EXPECT_NE(sorted[i].compare(0, sorted[i - 1].size(), sorted[i - 1]), 0) << sorted[i];
  }
}

}  // namespace
