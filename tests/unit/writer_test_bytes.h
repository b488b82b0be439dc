// Test data for the writer's tests: random bytes, and text of a few words
// with digits between them, where matches abound at every distance.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <random>
#include <vector>

namespace test_bytes {

inline std::vector<uint8_t> Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (uint8_t& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

inline std::vector<uint8_t> Text(size_t n, uint32_t seed) {
  static const char* words[] = {"alpha ",     "beta ", "gamma\n", "delta ",
                                "#include <", ">\n",   "static ", "int "};
  std::mt19937 rng(seed);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    for (const char* w = words[rng() % 8]; *w; ++w) v.push_back(uint8_t(*w));
    if (rng() % 5 == 0) v.push_back(uint8_t('0' + rng() % 10));
  }
  v.resize(n);
  return v;
}

}  // namespace test_bytes
