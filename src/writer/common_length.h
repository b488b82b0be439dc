// How far two byte strings agree: the match finders' extension of a match
// and the planner's shared beginnings, which both run long.
#pragma once

#include <stdint.h>
#include <string.h>

// Index of the first byte from start on where a and b differ, or limit when
// none does. Eight bytes at a time while they fit before limit; never reads
// at or past it.
inline int32_t CommonLength(const uint8_t* a, const uint8_t* b, int32_t start, int32_t limit) {
  int32_t n = start;
  while (n + 8 <= limit) {
    uint64_t x, y;
    memcpy(&x, a + n, 8);
    memcpy(&y, b + n, 8);
    if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);  // little-endian: first byte lowest
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}
