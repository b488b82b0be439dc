#include "stream_digest.h"

#include <string.h>

namespace {

constexpr uint64_t kDigestPrime = 0x9E3779B97F4A7C15ull;

uint64_t Rotate(uint64_t x, int bits) { return x << bits | x >> (64 - bits); }

}  // namespace

void StreamDigest::Mix(uint64_t word) { state_ = Rotate((state_ ^ word) * kDigestPrime, 29); }

void StreamDigest::Add(std::span<const uint8_t> bytes) {
  count_ += bytes.size();
  while (tailLength_ > 0 && tailLength_ < 8 && !bytes.empty()) {
    tail_[tailLength_++] = bytes[0];
    bytes = bytes.subspan(1);
  }
  if (tailLength_ == 8) {
    uint64_t w;
    memcpy(&w, tail_, 8);
    Mix(w);
    tailLength_ = 0;
  }
  while (bytes.size() >= 8) {
    uint64_t w;
    memcpy(&w, bytes.data(), 8);
    Mix(w);
    bytes = bytes.subspan(8);
  }
  for (uint8_t b : bytes) tail_[tailLength_++] = b;
}

uint64_t StreamDigest::Value() const {
  uint64_t h = state_;
  for (size_t i = 0; i < tailLength_; ++i) h = Rotate((h ^ tail_[i]) * kDigestPrime, 29);
  h ^= count_;
  h = (h ^ (h >> 31)) * kDigestPrime;
  return h ^ (h >> 29);
}
