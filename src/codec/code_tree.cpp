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

#include "codec/speed_first.h"
// (first: it applies to all that follows)
#include "codec/code_tree.h"

static constexpr int32_t kNoWeight = 0x7FFFFFFF;  // heavier than any entry

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
      // Insertion: the changed leaves come mostly in their new order already.
      int32_t j = dirtyCount++;
      while (j > 0 && dirty[j - 1] < key) {
        dirty[j] = dirty[j - 1];
        --j;
      }
      dirty[j] = key;
    }
    leaf->Weight = weight;
  }
  // Leaf weights from index 1, with a sentinel at 0: no leaf left looks
  // heavier than any entry (weights sum to less than kNoWeight).
  int32_t leafWeight[kSymbolCount + 1];
  leafWeight[0] = kNoWeight;
  for (int32_t i = 0, c = 0, d = 0; i < kSymbolCount; ++i) {
    uint64_t key =
        d == dirtyCount || (c < cleanCount && clean[c] > dirty[d]) ? clean[c++] : dirty[d++];
    int32_t s = static_cast<int32_t>(key & (kSymbolCount - 1));
    list[i] = &tree.NodeStore[s];
    leafWeight[i + 1] = static_cast<int32_t>(key >> 18);
    tree.SymbolOrder[s] = i;
  }

  // Pending merged nodes, one stack segment per run of equal weight; the run
  // after the last is a sentinel that looks heavier than any entry.
  CodeNode* pending[kSymbolCount];
  int32_t runWeight[kSymbolCount + 1];
  int32_t runStart[kSymbolCount];  // first slot of the run in pending
  int32_t runTop[kSymbolCount];    // one past its newest node
  int32_t firstRun = 0;            // lightest run with nodes left
  int32_t runCount = 0;
  runWeight[0] = kNoWeight;
  int32_t leaf = kSymbolCount;  // the lightest leaf left is list[leaf - 1]
  CodeNode* next = &tree.NodeStore[kSymbolCount];
  auto merge = [&](CodeNode* heavier, CodeNode* lighter, int32_t weight) {
    CodeNode* node = next++;
    node->Child0 = heavier;
    node->Child1 = lighter;
    node->Weight = weight;
    if (firstRun < runCount && runWeight[runCount - 1] == weight) {
      pending[runTop[runCount - 1]++] = node;
    } else {
      int32_t start = firstRun < runCount ? runTop[runCount - 1] : 0;
      runWeight[runCount] = weight;
      runStart[runCount] = start;
      runTop[runCount] = start + 1;
      runWeight[++runCount] = kNoWeight;
      pending[start] = node;
    }
  };
  auto takeNode = [&]() {
    CodeNode* node = pending[--runTop[firstRun]];
    if (runTop[firstRun] == runStart[firstRun]) ++firstRun;
    return node;
  };
  // On equal weights a merged node stands behind the leaf, so it goes first.
  while (next < &tree.NodeStore[kNodeCount]) {
    int32_t nodeWeight = runWeight[firstRun];
    if (nodeWeight <= leafWeight[leaf]) {
      // The two newest nodes of the lightest run, as long as it has two.
      int32_t r = firstRun;
      while (runTop[r] - runStart[r] >= 2) {
        CodeNode* lighter = pending[--runTop[r]];
        CodeNode* heavier = pending[--runTop[r]];
        merge(heavier, lighter, 2 * nodeWeight);
      }
      if (runTop[r] == runStart[r]) {
        ++firstRun;
        continue;
      }
      // One node left: it pairs with the next lightest entry.
      CodeNode* lighter = takeNode();
      if (runWeight[firstRun] <= leafWeight[leaf]) {
        int32_t weight = runWeight[firstRun];
        merge(takeNode(), lighter, nodeWeight + weight);
      } else {
        merge(list[leaf - 1], lighter, nodeWeight + leafWeight[leaf]);
        --leaf;
      }
      continue;
    }
    // Leaves while the two lightest are leaves.
    while (leaf >= 2 && leafWeight[leaf - 1] < runWeight[firstRun]) {
      merge(list[leaf - 2], list[leaf - 1], leafWeight[leaf - 1] + leafWeight[leaf]);
      leaf -= 2;
    }
    if (leaf >= 1 && leafWeight[leaf] < runWeight[firstRun]) {
      // One leaf, then the lightest node.
      int32_t weight = runWeight[firstRun];
      merge(takeNode(), list[leaf - 1], leafWeight[leaf] + weight);
      --leaf;
    }
  }
}
