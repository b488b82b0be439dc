// Codes bytes held in memory through a context's moving window, handing
// them to the coder a window at a time as a file being read would be.
#pragma once

#include <stdint.h>

#include <cstring>
#include <span>
#include <vector>

#include "writer/file_encoder.h"

struct WindowedCoding {
  bool Ok = false;
  std::vector<uint8_t> Coded;
  size_t Taken = 0;  // bytes handed to the coder
  int Reads = 0;     // the coder's reads: more than one once the window moved
};

inline WindowedCoding EncodeInWindows(EncoderContext& context,
                                      const std::vector<uint8_t>& dictionary,
                                      const std::vector<uint8_t>& data, int level,
                                      std::span<const SourceFence> fences = {}) {
  WindowedCoding c;
  c.Ok = context.Encode(
      dictionary, int64_t(data.size()),
      [&](std::span<uint8_t> out) {
        if (!out.empty()) std::memcpy(out.data(), data.data() + c.Taken, out.size());
        c.Taken += out.size();
        ++c.Reads;
        return true;
      },
      level,
      [&](std::span<const uint8_t> bytes) {
        c.Coded.insert(c.Coded.end(), bytes.begin(), bytes.end());
        return true;
      },
      {}, fences);
  return c;
}
