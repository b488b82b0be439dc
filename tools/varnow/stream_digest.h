// A 64-bit digest of a byte stream, the same however the stream is cut into
// pieces: enough to tell whether two streams of bytes agree (the bytes read
// and those decoded, or two decodes of one archive). Not cryptographic.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <span>

class StreamDigest {
 public:
  void Add(std::span<const uint8_t> bytes);
  uint64_t Value() const;

 private:
  void Mix(uint64_t word);
  uint64_t state_ = 0x6A09E667F3BCC909ull;
  uint64_t count_ = 0;
  uint8_t tail_[8] = {};
  size_t tailLength_ = 0;
};
