// What each level spends, in one table read by the coder (which parser, how
// deep its match search goes) and by the planner (how many references are
// weighed and how many are measured by coding). Changing a row changes the
// output of that level only; every row must still round-trip.
#pragma once

#include <stdint.h>

inline constexpr int kMinLevel = 1;
inline constexpr int kMaxLevel = 9;
inline constexpr int kDefaultLevel = 6;

enum class ParseKind : uint8_t {
  kGreedy,   // longest match on a short hash chain, taken when it saves bits
  kLazy,     // the same, deferred by one byte when the next match saves more
  kOptimal,  // shortest path in bits over the tree finder's matches
};

struct LevelParams {
  ParseKind Parse;
  int32_t Depth;        // hash chain steps or binary tree depth
  int32_t Nice;         // a match this long ends the search
  int32_t Reach;        // RefBack values weighed by sampled content
  int32_t Trials;       // candidates measured by coding (0 or 1: the best estimate wins)
  int32_t TrialLevel;   // level the trials code at
  int32_t TrialLength;  // data bytes coded per trial at most
};

// Measured on the benchmark corpora (bench/compare.sh): a small file costs
// far more per byte than a large one (tree builds, dictionary insertion), so
// up to the default the coder stays on hash chains, and only levels 7-9 pay
// for the tree finder and the optimal parse; trials always code at a cheap
// level, since their ranking, not their bytes, is what they are for.
inline constexpr LevelParams kLevelTable[kMaxLevel + 1] = {
    // Parse            Depth Nice Reach Trials TrialLevel TrialLength
    {ParseKind::kGreedy, 0, 0, 0, 0, 0, 0},  // no level 0
    {ParseKind::kGreedy, 4, 16, 8, 0, 1, 0},
    {ParseKind::kGreedy, 8, 32, 16, 0, 1, 0},
    {ParseKind::kLazy, 8, 32, 32, 0, 1, 0},
    {ParseKind::kLazy, 16, 64, 64, 0, 1, 0},
    {ParseKind::kLazy, 48, 128, 96, 2, 2, 8192},
    {ParseKind::kLazy, 128, 256, 128, 2, 2, 8192},
    {ParseKind::kOptimal, 16, 64, 255, 3, 3, 12288},
    {ParseKind::kOptimal, 32, 128, 255, 4, 3, 16384},
    {ParseKind::kOptimal, 64, 256, 255, 4, 3, 16384},
};

inline const LevelParams& ParamsOf(int level) {
  return kLevelTable[level < kMinLevel ? kMinLevel : level > kMaxLevel ? kMaxLevel : level];
}
