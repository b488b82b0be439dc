// Both finders keep positions as stamps (see FinderTables), 0 for none. Their rings hold
// 32768 positions, twice the longest distance, so a position that is still
// within reach has not been overwritten by a newer one.
#include "writer/match_finder.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "codec/code_tree.h"
#include "writer/common_length.h"

namespace {

constexpr int32_t kRing = 32768;
constexpr int32_t kRingMask = kRing - 1;
constexpr int32_t kHash3Bits = 16;

inline uint32_t Hash3(const uint8_t* p) {
  uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  return (v * 2654435761u) >> (32 - kHash3Bits);
}
inline uint32_t Hash2(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }

inline int32_t MaxLengthAt(int32_t p, int32_t size) {
  int32_t left = size - p;
  return left < kMaxMatchLength ? left : kMaxMatchLength;
}
inline int32_t MaxDistanceAt(int32_t p) { return p < kMaxDistance ? p : kMaxDistance; }

}  // namespace

FinderTables::FinderTables(size_t linksPerPosition, uint32_t stampLimit)
    : stampLimit_(stampLimit),
      head3_(size_t{1} << kHash3Bits, 0),
      head2_(65536, 0),
      links_(linksPerPosition * kRing, 0) {}

void FinderTables::StartRun(const uint8_t* buffer, int32_t size, int64_t runLength) {
  // The new run's stamps start above every stamp of the last one, and all of
  // its own (runLength of them, however the buffer slides) stay below the limit.
  uint64_t next = runEnd_;
  if (next + static_cast<uint64_t>(runLength) >= stampLimit_) {
    std::fill(head3_.begin(), head3_.end(), 0);
    std::fill(head2_.begin(), head2_.end(), 0);
    std::fill(links_.begin(), links_.end(), 0);
    next = 1;
  }
  base_ = static_cast<uint32_t>(next);
  runEnd_ = next + static_cast<uint64_t>(runLength);
  buffer_ = buffer;
  size_ = size;
  fences_.clear();
  fenceEnd_ = 0;
}

void FinderTables::SlideRun(const uint8_t* buffer, int32_t dropped, int32_t size) {
  // Stamp(p) of a kept position is unchanged: base + (p - dropped) + dropped.
  base_ += static_cast<uint32_t>(dropped);
  buffer_ = buffer;
  size_ = size;
  // Fences are buffer positions too: they move with the rest, and those
  // wholly dropped no longer matter.
  std::vector<SourceFence> kept;
  for (const SourceFence& f : fences_)
    if (f.End > dropped) kept.push_back({std::max(f.Start - dropped, 0), f.End - dropped});
  fences_ = std::move(kept);
  fenceEnd_ = fences_.empty() ? 0 : fences_.back().End;
}

void FinderTables::SetFences(std::span<const SourceFence> fences) {
  fences_.assign(fences.begin(), fences.end());
  fenceEnd_ = fences_.empty() ? 0 : fences_.back().End;
}

int32_t FinderTables::FencedRoom(int32_t c, int32_t limit) const {
  for (const SourceFence& f : fences_) {
    if (c >= f.End) continue;
    const int32_t room = c >= f.Start ? 0 : f.Start - c;
    return room < limit ? room : limit;
  }
  return limit;
}

HashChainFinder::HashChainFinder(uint32_t stampLimit) : FinderTables(1, stampLimit) {}

void HashChainFinder::Reset(const uint8_t* buffer, int32_t size, int32_t maxChain,
                            int32_t niceLength, int64_t runLength) {
  StartRun(buffer, size, runLength < 0 ? size : runLength);
  maxChain_ = maxChain;
  niceLength_ = niceLength;
}

void HashChainFinder::Insert(int32_t p) {
  if (size_ - p >= 2) head2_[Hash2(buffer_ + p)] = Stamp(p);
  if (size_ - p >= 3) {
    uint32_t h = Hash3(buffer_ + p);
    links_[p & kRingMask] = head3_[h];
    head3_[h] = Stamp(p);
  }
}

Match HashChainFinder::FindAndInsert(int32_t p) {
  Match best{0, 0};
  const int32_t maxLength = MaxLengthAt(p, size_);
  const int32_t maxDistance = MaxDistanceAt(p);
  const uint8_t* cur = buffer_ + p;
  if (maxLength >= 3) {
    const int32_t nice = niceLength_ < maxLength ? niceLength_ : maxLength;
    int32_t candidate = PositionOf(head3_[Hash3(cur)]);
    for (int32_t steps = maxChain_; candidate >= 0 && steps > 0; --steps) {
      int32_t distance = p - candidate;
      if (distance > maxDistance) break;
      const uint8_t* old = buffer_ + candidate;
      const int32_t room = SourceRoom(candidate, nice);
      if (room > best.Length && (old[best.Length] == cur[best.Length] || best.Length == 0)) {
        int32_t n = CommonLength(old, cur, 0, room);
        if (n > best.Length) {
          best = {n, distance};
          if (n >= nice) break;
        }
      }
      candidate = PositionOf(links_[candidate & kRingMask]);
    }
    if (best.Length >= nice && nice < maxLength)
      best.Length = CommonLength(buffer_ + p - best.Distance, cur, best.Length,
                                 SourceRoom(p - best.Distance, maxLength));
  }
  if (best.Length < 3 && maxLength >= 2) {
    int32_t candidate = PositionOf(head2_[Hash2(cur)]);
    if (candidate >= 0 && p - candidate <= maxDistance && SourceRoom(candidate, 2) == 2)
      best = {2, p - candidate};
  }
  if (best.Length < 2) best = {0, 0};
  Insert(p);
  return best;
}

TreeFinder::TreeFinder(uint32_t stampLimit) : FinderTables(2, stampLimit) {}

void TreeFinder::Reset(const uint8_t* buffer, int32_t size, int32_t maxDepth, int32_t niceLength,
                       int64_t runLength) {
  StartRun(buffer, size, runLength < 0 ? size : runLength);
  maxDepth_ = maxDepth;
  niceLength_ = niceLength;
}

int32_t TreeFinder::FindAndInsert(int32_t p, Match* out) { return Search(p, out, true); }

void TreeFinder::Insert(int32_t p) { Search(p, nullptr, false); }

// One descent of the binary tree of p's hash: the nodes met are sorted by the
// bytes that follow them, and p becomes the new root, its two subtrees built
// from the nodes smaller and greater than p (the usual binary-tree finder).
int32_t TreeFinder::Search(int32_t p, Match* out, bool report) {
  const int32_t maxLength = MaxLengthAt(p, size_);
  const int32_t maxDistance = MaxDistanceAt(p);
  const uint8_t* cur = buffer_ + p;
  int32_t found = 0;
  int32_t bestLength = 1;
  if (maxLength < 2) return 0;
  uint32_t h2 = Hash2(cur);
  if (report) {
    int32_t candidate = PositionOf(head2_[h2]);
    if (candidate >= 0 && p - candidate <= maxDistance && SourceRoom(candidate, 2) == 2) {
      out[found++] = {2, p - candidate};
      bestLength = 2;
    }
  }
  head2_[h2] = Stamp(p);
  if (maxLength < 3) return found;

  const int32_t limit = niceLength_ < maxLength ? niceLength_ : maxLength;
  uint32_t h3 = Hash3(cur);
  int32_t candidate = PositionOf(head3_[h3]);
  head3_[h3] = Stamp(p);
  uint32_t* less = &links_[2 * (p & kRingMask)];         // where the next smaller node goes
  uint32_t* greater = &links_[2 * (p & kRingMask) + 1];  // where the next greater node goes
  int32_t lessLength = 0;
  int32_t greaterLength = 0;
  for (int32_t depth = maxDepth_;; --depth) {
    if (candidate < 0 || depth == 0 || p - candidate > maxDistance) {
      *less = 0;
      *greater = 0;
      break;
    }
    uint32_t* pair = &links_[2 * (candidate & kRingMask)];
    const uint8_t* old = buffer_ + candidate;
    int32_t n = lessLength < greaterLength ? lessLength : greaterLength;
    n = CommonLength(old, cur, n, limit);
    if (n > bestLength) {
      // The tree is walked on the whole length; a fence only cuts the report.
      const int32_t usable = SourceRoom(candidate, n);
      if (usable > bestLength) {
        bestLength = usable;
        if (report) {
          if (found == kMaxMatches) --found;
          out[found++] = {usable, p - candidate};
        }
      }
      if (n == limit) {
        *less = pair[0];
        *greater = pair[1];
        break;
      }
    }
    if (n < limit && old[n] < cur[n]) {
      *less = Stamp(candidate);
      less = &pair[1];
      candidate = PositionOf(*less);
      lessLength = n;
    } else {
      *greater = Stamp(candidate);
      greater = &pair[0];
      candidate = PositionOf(*greater);
      greaterLength = n;
    }
  }
  if (report && found > 0 && out[found - 1].Length == limit && limit < maxLength) {
    Match& last = out[found - 1];
    last.Length = CommonLength(cur - last.Distance, cur, last.Length,
                               SourceRoom(p - last.Distance, maxLength));
  }
  return found;
}
