// Every choice of the writer that shapes its output: what each level spends,
// in one table read by the coder (which parser, how deep its match search
// goes) and by the planner (how many references are weighed and how many are
// measured by coding), and the few settings that are the same at every level.
// Changing a row changes the output of that level only; every setting must
// still round-trip.
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

// The one place a level out of range is brought into it (the writer refuses
// such a level before any work; the coder's own callers may pass any).
inline int ClampLevel(int level) {
  return level < kMinLevel ? kMinLevel : level > kMaxLevel ? kMaxLevel : level;
}
inline const LevelParams& ParamsOf(int level) { return kLevelTable[ClampLevel(level)]; }

// The optimal parser. The dictionary is only inserted into the tree finder:
// a shallow descent keeps the trees good enough for the data's searches.
inline constexpr int32_t kDictionaryInsertDepth = 8;
// It parses a segment at a time, about the bytes until the main tree's next
// rebuild: the bytes per symbol so far times the symbols to go, taken half
// again (kSegmentStretch / 2), within these bounds.
inline constexpr int32_t kMinSegment = 512;
inline constexpr int32_t kMaxSegment = 4096;
inline constexpr int32_t kSegmentStretch = 3;
// The last bytes of a segment, forced to end at its end, are left to the next.
inline constexpr int32_t kSegmentTail = 64;

// The reference planner ranks slots by sampled content hashes in common: the
// first kSignatureSpan bytes are hashed at every offset, and one hash in
// kSignatureSampling kept; a hash in common counts kSignatureWeight bytes of
// shared beginning.
inline constexpr int32_t kSignatureSpan = 16384;
inline constexpr uint32_t kSignatureSampling = 16;
inline constexpr int64_t kSignatureWeight = 16;
