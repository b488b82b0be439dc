// Adaptive prefix-code trees over 512 symbols, rebuilt from running counts.
// Neither tree is stored in an archive: encoder and decoder rebuild the same
// tree from the same counts at the same moment, so every order and tie-break
// of BuildCodeTree is part of the data format. Shared by the core and the writer.
#pragma once

#include <stdint.h>

inline constexpr int32_t kSymbolCount = 512;  // symbols of either tree
inline constexpr int32_t kNodeCount = 1023;   // 512 leaves and 511 internal nodes

// Main tree symbols: 0-255 literals, 256-510 matches of length 2-256,
// 511 a match of 257 plus a 12-bit extra value.
inline constexpr int32_t kFirstMatchSymbol = 256;
inline constexpr int32_t kLongMatchSymbol = 511;
inline constexpr int32_t kMinMatchLength = 2;
inline constexpr int32_t kLongMatchBase = 257;
inline constexpr int32_t kLongMatchExtraBits = 12;
inline constexpr int32_t kMaxMatchLength = 257 + 4095;  // 4352
// Distance tree symbol d covers distances d * 32 + 1 to d * 32 + 32.
inline constexpr int32_t kDistanceExtraBits = 5;
inline constexpr int32_t kDistanceSpan = 32;
inline constexpr int32_t kMaxDistance = 511 * 32 + 32;  // 16384
// Start counts: every main symbol 1; distance symbols below 64 start at 2.
inline constexpr int32_t kFavouredDistanceSymbols = 64;

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

// Rebuild schedules, shared by decoder and encoder. The main tree is built
// before main symbol number n (from 0) when this holds; the distance tree is
// rebuilt after the n-th match (from 1) when the second holds.
inline bool MainRebuildDue(int32_t symbolsDone) {
  return symbolsDone % 256 == 0 && (symbolsDone < 2048 || symbolsDone % 1024 == 0);
}
inline bool DistanceRebuildDue(int32_t matchesDone) {
  return matchesDone % 64 == 0 && (matchesDone < 1024 || matchesDone % 512 == 0);
}
