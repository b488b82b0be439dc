// The tests' made-up data, for every kind of test: random bytes, and text made
// of a few words in random order, now and then with one more character
// between them, where matches abound at every distance. A fixed seed gives
// the same bytes every time; tests compare against what these give, never
// against bytes written down (the stand-in core is TestCore's, in the builders).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <random>
#include <vector>

namespace test_bytes {

inline std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// Words drawn at random until n bytes; after a word, with chance 1 in
// extraEvery (never when 0), one character from extraFirst on, of extraSpan.
inline std::vector<uint8_t> Words(size_t n, uint32_t seed, std::initializer_list<const char*> words,
                                  uint32_t extraEvery = 0, char extraFirst = 0,
                                  uint32_t extraSpan = 1) {
  const std::vector<const char*> list(words);
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    for (const char* w = list[rng() % list.size()]; *w; ++w) v.push_back(uint8_t(*w));
    if (extraEvery != 0 && rng() % extraEvery == 0)
      v.push_back(uint8_t(extraFirst + rng() % extraSpan));
  }
  v.resize(n);
  return v;
}

// C-like words with digits between them.
inline std::vector<uint8_t> Text(size_t n, uint32_t seed) {
  return Words(n, seed,
               {"alpha ", "beta ", "gamma\n", "delta ", "#include <", ">\n", "static ", "int "}, 5,
               '0', 10);
}

}  // namespace test_bytes
