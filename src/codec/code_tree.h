// Adaptive prefix-code trees over 512 symbols, rebuilt from running counts.
// Neither tree is stored in an archive: encoder and decoder rebuild the same
// tree from the same counts at the same moment, so every order and tie-break
// of BuildCodeTree is part of the data format. Shared by the core and the writer.
#pragma once

#include <stdint.h>

#include "format/format.h"

inline constexpr int32_t kNodeCount = 2 * kSymbolCount - 1;  // 512 leaves and 511 internal nodes

struct CodeNode {
  int32_t Symbol;    // leaf: its symbol; internal: unused
  int32_t Weight;    // leaf: the count; internal: sum of the children
  CodeNode* Child0;  // reached by bit 0; none for a leaf
  CodeNode* Child1;  // reached by bit 1
};

struct CodeTree {
  int32_t SymbolCounts[kSymbolCount];  // running counts, read by the build
  int32_t SymbolOrder[kSymbolCount];   // list position of each leaf in the last build
  CodeNode NodeStore[kNodeCount];      // leaves 0-511, internal nodes 512-1022
  CodeNode* NodeList[kSymbolCount];    // the leaves in the order of the last build
};

// Start counts and the identity order, as at the start of every file entry;
// a tree is started by one of these before its first build.
void StartMainCounts(CodeTree& tree);
void StartDistanceCounts(CodeTree& tree);

// Rebuilds the tree from its counts, starting the stable sort from the order
// of the previous build. Cannot fail.
void BuildCodeTree(CodeTree& tree);

// The last merge makes the last node.
inline const CodeNode* TreeRoot(const CodeTree& tree) { return &tree.NodeStore[kNodeCount - 1]; }
