// BuildCodeTree: a Huffman merge over a list kept sorted by weight, heaviest
// first. Leaves are sorted stably from the previous build's order, the lighter
// of two merged entries becomes the bit-1 child, and a merged node ranks
// behind every entry of equal weight.
//
// Done here in near-linear time with the same result as the list walk:
// - the sort key of a leaf is its weight and then its previous position, so
//   keys are unique and an insertion sort on them is stable by construction;
// - merged nodes are made in non-decreasing weight, so the list's tail is two
//   queues: the sorted leaves, and the pending merged nodes grouped in runs of
//   equal weight. A merged node ranks behind equal leaves and behind earlier
//   merged nodes of its weight, so the lightest entry is the newest node of
//   the lightest run when that run is no heavier than the lightest leaf.
//   Each run occupies a stack segment of Pending: it grows and shrinks at its
//   top only, and a new run starts where the last one ends.
#include "codec/code_tree.h"

static void StartCounts(CodeTree& tree, int32_t favoured) {
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    tree.SymbolCounts[s] = s < favoured ? 2 : 1;
    tree.SymbolOrder[s] = s;
  }
}

void StartMainCounts(CodeTree& tree) { StartCounts(tree, 0); }
void StartDistanceCounts(CodeTree& tree) { StartCounts(tree, kFavouredDistanceSymbols); }

namespace {

struct Run {
  int32_t Weight;
  int32_t Start;  // first slot of the run in Pending
  int32_t Top;    // one past its newest node
};

}  // namespace

void BuildCodeTree(CodeTree& tree) {
  // Key: the weight in bits 18 and up, 511 - previous position in bits 9-17,
  // the symbol in bits 0-8: heavier first and, on equal weights, the earlier
  // position first. Weights are positive, so keys compare as unsigned numbers.
  uint64_t keys[kSymbolCount];
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    CodeNode* leaf = &tree.NodeStore[s];
    leaf->Symbol = s;
    leaf->Weight = tree.SymbolCounts[s];
    leaf->Child0 = nullptr;
    leaf->Child1 = nullptr;
    keys[tree.SymbolOrder[s]] =
        static_cast<uint64_t>(static_cast<uint32_t>(leaf->Weight)) << 18 |
        static_cast<uint32_t>((kSymbolCount - 1 - tree.SymbolOrder[s]) << 9 | s);
  }
  // Insertion sort, descending: between two builds few leaves change place.
  for (int32_t i = 1; i < kSymbolCount; ++i) {
    uint64_t key = keys[i];
    int32_t j = i;
    while (j > 0 && keys[j - 1] < key) {
      keys[j] = keys[j - 1];
      --j;
    }
    keys[j] = key;
  }
  CodeNode** list = tree.NodeList;
  for (int32_t i = 0; i < kSymbolCount; ++i) {
    int32_t s = static_cast<int32_t>(keys[i] & (kSymbolCount - 1));
    list[i] = &tree.NodeStore[s];
    tree.SymbolOrder[s] = i;
  }

  CodeNode* pending[kSymbolCount];
  Run runs[kSymbolCount];
  int32_t firstRun = 0;  // lightest run with nodes left
  int32_t runCount = 0;
  int32_t nextLeaf = kSymbolCount - 1;  // lightest leaf not yet merged
  for (int32_t made = kSymbolCount; made < kNodeCount; ++made) {
    CodeNode* taken[2];
    for (int32_t k = 0; k < 2; ++k) {
      // On equal weights the merged node stands behind the leaf: it goes first.
      if (firstRun < runCount &&
          (nextLeaf < 0 || runs[firstRun].Weight <= list[nextLeaf]->Weight)) {
        Run& r = runs[firstRun];
        taken[k] = pending[--r.Top];
        if (r.Top == r.Start) ++firstRun;
      } else {
        taken[k] = list[nextLeaf--];
      }
    }
    CodeNode* node = &tree.NodeStore[made];
    node->Child0 = taken[1];  // the heavier, or the one that stood in front
    node->Child1 = taken[0];
    node->Weight = taken[0]->Weight + taken[1]->Weight;
    if (firstRun < runCount && runs[runCount - 1].Weight == node->Weight) {
      pending[runs[runCount - 1].Top++] = node;
    } else {
      int32_t start = firstRun < runCount ? runs[runCount - 1].Top : 0;
      runs[runCount++] = {node->Weight, start, start + 1};
      pending[start] = node;
    }
  }
  list[0] = &tree.NodeStore[kNodeCount - 1];
}
