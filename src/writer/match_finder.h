// Match finders over one contiguous buffer: the preset dictionary followed by
// the file's data. Positions are buffer offsets; every position from 0 on is
// inserted in order, so matches may start in the dictionary. A match found at
// position p has distance at most min(16384, p) and never runs past the
// buffer's end or beyond 4352 bytes.
//   HashChainFinder: the longest match along a hash chain (fast levels).
//   TreeFinder: binary trees keyed by a 3-byte hash, giving at each position
//   the matches of every new length with the nearest distance (optimal parse).
// A finder is made once per thread and Reset for every buffer: its tables
// hold stamps (a per-run base plus the position), so the entries of earlier
// runs read as empty without clearing the tables each time. A run may also
// cover more data than the buffer holds: Slide drops positions from the
// buffer's front by raising the base, so the dropped ones read as empty too.
// Fences, set after the Reset, keep matches from copying certain dictionary
// bytes; they move with the buffer when it slides.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <span>
#include <vector>

struct Match {
  int32_t Length;    // 2 to 4352
  int32_t Distance;  // 1 to 16384
};

inline constexpr uint32_t kStampLimit = 0xFFFFFFFF;

// Buffer positions Start to End - 1 that no match may copy from: dictionary
// bytes that may differ when the data is expanded (a signed core's header
// fields). A match from before a fence is cut short at it.
struct SourceFence {
  int32_t Start;
  int32_t End;
};

// The tables both finders share: heads by 3-byte hash and by 2-byte value,
// and a ring of links by position. Stamp 0 is never a position of any run.
class FinderTables {
 protected:
  // stampLimit: stamps stay below it; past it the tables are cleared and
  // stamps start again at 1. Tests lower it to reach that moment.
  FinderTables(size_t linksPerPosition, uint32_t stampLimit);
  // Starts a run over a new buffer: every stamp stored so far becomes stale,
  // and there are no fences.
  // runLength: positions the whole run will have (the buffer's size, or
  // more when the buffer will slide).
  void StartRun(const uint8_t* buffer, int32_t size, int64_t runLength);
  // The buffer now starts `dropped` positions later (a multiple of the
  // ring's 32768, so each kept position keeps its link slot) and holds size
  // positions; dropped positions read as empty from now on, and the fences
  // move back by `dropped` (those wholly dropped are gone).
  void SlideRun(const uint8_t* buffer, int32_t dropped, int32_t size);
  // The longest match that may copy from position c, at most limit: up to
  // the first fenced byte from c on. Nothing to check past the last fence.
  int32_t SourceRoom(int32_t c, int32_t limit) const {
    return c >= fenceEnd_ ? limit : FencedRoom(c, limit);
  }
  int32_t FencedRoom(int32_t c, int32_t limit) const;
  uint32_t Stamp(int32_t p) const { return base_ + static_cast<uint32_t>(p); }
  // The position of a stamp, or -1 when it is empty or from an earlier run.
  int32_t PositionOf(uint32_t stamp) const {
    return stamp >= base_ ? static_cast<int32_t>(stamp - base_) : -1;
  }

  const uint8_t* buffer_ = nullptr;
  int32_t size_ = 0;
  uint32_t stampLimit_;
  uint32_t base_ = 1;
  uint64_t runEnd_ = 1;              // above every stamp of the current run
  std::vector<uint32_t> head3_;      // newest position of each 3-byte hash
  std::vector<uint32_t> head2_;      // newest position of each 2-byte value
  std::vector<uint32_t> links_;      // by p mod ring: previous on the chain, or two children
  std::vector<SourceFence> fences_;  // in increasing order, not overlapping
  int32_t fenceEnd_ = 0;             // end of the last fence, 0 without any

 public:
  // Fences for this run: in increasing order, not overlapping.
  void SetFences(std::span<const SourceFence> fences);
};

class HashChainFinder : private FinderTables {
 public:
  using FinderTables::SetFences;
  explicit HashChainFinder(uint32_t stampLimit = kStampLimit);
  // Starts over on a new buffer with the given search limits (runLength as
  // in StartRun; -1: size).
  void Reset(const uint8_t* buffer, int32_t size, int32_t maxChain, int32_t niceLength,
             int64_t runLength = -1);
  void Slide(const uint8_t* buffer, int32_t dropped, int32_t size) {
    SlideRun(buffer, dropped, size);
  }
  // Inserts position p (positions go in increasing order, none left out).
  void Insert(int32_t p);
  // The longest match at p (nearest of the longest), Length 0 when none; then
  // inserts p.
  Match FindAndInsert(int32_t p);

 private:
  int32_t maxChain_ = 0;
  int32_t niceLength_ = 0;
};

class TreeFinder : private FinderTables {
 public:
  using FinderTables::SetFences;
  // At most this many matches are reported at one position.
  static constexpr int32_t kMaxMatches = 72;

  explicit TreeFinder(uint32_t stampLimit = kStampLimit);
  void Reset(const uint8_t* buffer, int32_t size, int32_t maxDepth, int32_t niceLength,
             int64_t runLength = -1);
  void Slide(const uint8_t* buffer, int32_t dropped, int32_t size) {
    SlideRun(buffer, dropped, size);
  }
  // Writes the matches at p to out in increasing length (each with the
  // nearest distance for that length), inserts p and returns their number.
  // The longest is extended past niceLength up to the longest possible.
  int32_t FindAndInsert(int32_t p, Match* out);
  // Inserts p without reporting matches.
  void Insert(int32_t p);
  // Changes the search depth from the next position on.
  void SetMaxDepth(int32_t maxDepth) { maxDepth_ = maxDepth; }

 private:
  int32_t Search(int32_t p, Match* out, bool report);

  int32_t maxDepth_ = 0;
  int32_t niceLength_ = 0;
};
