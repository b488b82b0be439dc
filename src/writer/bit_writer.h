// BitWriter: packs bits into bytes least significant bit first, the order in
// which the expander's bit reader takes them. A value of n bits goes out with
// its bit 0 first. Flush pads the partial last byte with zero bits; a writer
// that ends on a byte boundary adds no byte.
#pragma once

#include <stdint.h>

#include <vector>

class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

  // Appends the low n bits of value (0 <= n <= 64), bit 0 first.
  void PutBits(uint64_t value, int n) {
    if (n > 32) {
      PutBits(value & 0xFFFFFFFFu, 32);
      PutBits(value >> 32, n - 32);
      return;
    }
    if (n < 32) value &= (uint64_t{1} << n) - 1;
    pending_ |= value << pendingCount_;
    pendingCount_ += n;
    while (pendingCount_ >= 8) {
      out_.push_back(static_cast<uint8_t>(pending_));
      pending_ >>= 8;
      pendingCount_ -= 8;
    }
  }

  // Writes the partial last byte, if any, padded with zero bits.
  void Flush() {
    if (pendingCount_ > 0) {
      out_.push_back(static_cast<uint8_t>(pending_));
      pending_ = 0;
      pendingCount_ = 0;
    }
  }

 private:
  std::vector<uint8_t>& out_;
  uint64_t pending_ = 0;  // bits not yet in out_, oldest in bit 0
  int pendingCount_ = 0;  // 0 to 7 between calls
};
