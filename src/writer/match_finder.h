// Match finders over one contiguous buffer: the preset dictionary followed by
// the file's data. Positions are buffer offsets; every position from 0 on is
// inserted in order, so matches may start in the dictionary. A match found at
// position p has distance at most min(16384, p) and never runs past the
// buffer's end or beyond 4352 bytes.
//   HashChainFinder: the longest match along a hash chain (fast levels).
//   TreeFinder: binary trees keyed by a 3-byte hash, giving at each position
//   the matches of every new length with the nearest distance (optimal parse).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

struct Match {
  int32_t Length;    // 2 to 4352
  int32_t Distance;  // 1 to 16384
};

class HashChainFinder {
 public:
  HashChainFinder(const uint8_t* buffer, int32_t size, int32_t maxChain, int32_t niceLength);
  // Inserts position p (positions go in increasing order, none left out).
  void Insert(int32_t p);
  // The longest match at p (nearest of the longest), Length 0 when none; then
  // inserts p.
  Match FindAndInsert(int32_t p);

 private:
  const uint8_t* buffer_;
  int32_t size_;
  int32_t maxChain_;
  int32_t niceLength_;
  std::vector<int32_t> head3_;  // newest position of each 3-byte hash
  std::vector<int32_t> head2_;  // newest position of each 2-byte value
  std::vector<int32_t> chain_;  // previous position of the same hash, by p mod window
};

class TreeFinder {
 public:
  // At most this many matches are reported at one position.
  static constexpr int32_t kMaxMatches = 72;

  TreeFinder(const uint8_t* buffer, int32_t size, int32_t maxDepth, int32_t niceLength);
  // Writes the matches at p to out in increasing length (each with the
  // nearest distance for that length), inserts p and returns their number.
  // The longest is extended past niceLength up to the longest possible.
  int32_t FindAndInsert(int32_t p, Match* out);
  // Inserts p without reporting matches.
  void Insert(int32_t p);

 private:
  int32_t Search(int32_t p, Match* out, bool report);

  const uint8_t* buffer_;
  int32_t size_;
  int32_t maxDepth_;
  int32_t niceLength_;
  std::vector<int32_t> head3_;
  std::vector<int32_t> head2_;
  std::vector<int32_t> sons_;  // two children per position, by p mod window
};
