// BuildCodeTree: a Huffman merge over a list kept sorted by weight, heaviest
// first. Leaves are sorted stably from the previous build's order, the lighter
// of two merged entries becomes the bit-1 child, and a merged node ranks
// behind every entry of equal weight.
#include "codec/code_tree.h"

static void StartCounts(CodeTree& tree, int32_t favoured) {
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    tree.SymbolCounts[s] = s < favoured ? 2 : 1;
    tree.SymbolOrder[s] = s;
  }
}

void StartMainCounts(CodeTree& tree) { StartCounts(tree, 0); }
void StartDistanceCounts(CodeTree& tree) { StartCounts(tree, kFavouredDistanceSymbols); }

void BuildCodeTree(CodeTree& tree) {
  CodeNode** list = tree.NodeList;
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    CodeNode* leaf = &tree.NodeStore[s];
    leaf->Symbol = s;
    leaf->Weight = tree.SymbolCounts[s];
    leaf->Child0 = nullptr;
    leaf->Child1 = nullptr;
    list[tree.SymbolOrder[s]] = leaf;
  }

  // Bubble passes from the back; the list is nearly sorted, so they stop early.
  // Equal weights are never swapped, which keeps the sort stable.
  int32_t start = 0;
  for (;;) {
    int32_t lowest = -1;
    for (int32_t j = kSymbolCount - 2; j >= start; --j) {
      if (list[j]->Weight < list[j + 1]->Weight) {
        CodeNode* t = list[j];
        list[j] = list[j + 1];
        list[j + 1] = t;
        lowest = j;
      }
    }
    if (lowest < 0) break;
    start = lowest + 1;
  }

  for (int32_t i = 0; i < kSymbolCount; ++i) tree.SymbolOrder[list[i]->Symbol] = i;

  for (int32_t n = kSymbolCount - 1; n >= 1; --n) {
    CodeNode* node = &tree.NodeStore[kNodeCount - n];
    node->Child0 = list[n - 1];
    node->Child1 = list[n];
    node->Weight = list[n - 1]->Weight + list[n]->Weight;
    // The node now stands at n - 1; move it in front of every lighter entry.
    int32_t p = n - 1;
    while (p > 0 && list[p - 1]->Weight < node->Weight) {
      list[p] = list[p - 1];
      --p;
    }
    list[p] = node;
  }
}
