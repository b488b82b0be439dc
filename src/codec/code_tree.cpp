// BuildCodeTree: a Huffman merge over a list kept sorted by weight, heaviest
// first. Leaves are sorted stably from the previous build's order, the lighter
// of two merged entries becomes the bit-1 child, and a merged node ranks
// behind every entry of equal weight.
//
// Done here in near-linear time with the same result as the list walk:
// - the sort key of a leaf is its weight and then its previous position, so
//   keys are unique and any sort on them is stable by construction; leaves
//   whose count did not change since the last build are still in order, so
//   only the others need sorting, and the two sorted lists are merged;
// - merged nodes are made in non-decreasing weight, so the list's tail is two
//   queues: the sorted leaves, and the pending merged nodes grouped in runs of
//   equal weight. A merged node ranks behind equal leaves and behind earlier
//   merged nodes of its weight, so the lightest entry is the newest node of
//   the lightest run when that run is no heavier than the lightest leaf.
//   Each run occupies a stack segment of pending: it grows and shrinks at its
//   top only, and a new run starts where the last one ends.
#include "codec/code_tree.h"

static void StartCounts(CodeTree& tree, int32_t favoured) {
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    tree.SymbolCounts[s] = s < favoured ? 2 : 1;
    tree.SymbolOrder[s] = s;
    // A build rewrites only a leaf's weight: this is where its weight was
    // last sorted, and the order it was sorted in.
    tree.NodeStore[s] = {s, tree.SymbolCounts[s], nullptr, nullptr};
    tree.NodeList[s] = &tree.NodeStore[s];
  }
}

void StartMainCounts(CodeTree& tree) { StartCounts(tree, 0); }
void StartDistanceCounts(CodeTree& tree) { StartCounts(tree, kFavouredDistanceSymbols); }

void BuildCodeTree(CodeTree& tree) {
  CodeNode** list = tree.NodeList;
  // Leaves still at the weight they were last sorted by keep their order and
  // stay sorted among themselves; the others are sorted apart and merged in.
  uint64_t clean[kSymbolCount];
  uint64_t dirty[kSymbolCount];
  int32_t cleanCount = 0;
  int32_t dirtyCount = 0;
  int32_t lastCleanWeight = 0x7FFFFFFF;
  for (int32_t i = 0; i < kSymbolCount; ++i) {
    CodeNode* leaf = list[i];
    int32_t s = leaf->Symbol;
    int32_t weight = tree.SymbolCounts[s];
    uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(weight)) << 18 |
                   static_cast<uint32_t>((kSymbolCount - 1 - i) << 9 | s);
    if (leaf->Weight == weight && weight <= lastCleanWeight) {
      clean[cleanCount++] = key;
      lastCleanWeight = weight;
    } else {
      int32_t j = dirtyCount++;
      while (j > 0 && dirty[j - 1] < key) {
        dirty[j] = dirty[j - 1];
        --j;
      }
      dirty[j] = key;
    }
    leaf->Weight = weight;
  }
  int32_t leafWeight[kSymbolCount];
  for (int32_t i = 0, c = 0, d = 0; i < kSymbolCount; ++i) {
    uint64_t key =
        d == dirtyCount || (c < cleanCount && clean[c] > dirty[d]) ? clean[c++] : dirty[d++];
    int32_t s = static_cast<int32_t>(key & (kSymbolCount - 1));
    list[i] = &tree.NodeStore[s];
    leafWeight[i] = static_cast<int32_t>(key >> 18);
    tree.SymbolOrder[s] = i;
  }

  // Pending merged nodes, one stack segment per run of equal weight.
  CodeNode* pending[kSymbolCount];
  int32_t runWeight[kSymbolCount];
  int32_t runStart[kSymbolCount];  // first slot of the run in pending
  int32_t runTop[kSymbolCount];    // one past its newest node
  int32_t firstRun = 0;            // lightest run with nodes left
  int32_t runCount = 0;
  int32_t nextLeaf = kSymbolCount - 1;  // lightest leaf not yet merged
  // Takes the lightest entry left. On equal weights the merged node stands
  // behind the leaf, so it goes first.
  auto takeLightest = [&](int32_t& weight) -> CodeNode* {
    if (firstRun < runCount && (nextLeaf < 0 || runWeight[firstRun] <= leafWeight[nextLeaf])) {
      weight = runWeight[firstRun];
      CodeNode* node = pending[--runTop[firstRun]];
      if (runTop[firstRun] == runStart[firstRun]) ++firstRun;
      return node;
    }
    weight = leafWeight[nextLeaf];
    return list[nextLeaf--];
  };
  auto push = [&](CodeNode* node, int32_t weight) {
    if (firstRun < runCount && runWeight[runCount - 1] == weight) {
      pending[runTop[runCount - 1]++] = node;
    } else {
      int32_t start = firstRun < runCount ? runTop[runCount - 1] : 0;
      runWeight[runCount] = weight;
      runStart[runCount] = start;
      runTop[runCount] = start + 1;
      ++runCount;
      pending[start] = node;
    }
  };
  for (int32_t made = kSymbolCount; made < kNodeCount; ++made) {
    int32_t lighterWeight, heavierWeight;
    CodeNode* lighter = takeLightest(lighterWeight);
    CodeNode* heavier = takeLightest(heavierWeight);  // or the one that stood in front
    CodeNode* node = &tree.NodeStore[made];
    node->Child0 = heavier;
    node->Child1 = lighter;
    node->Weight = lighterWeight + heavierWeight;
    push(node, node->Weight);
  }
}
