// One file entry's compressed data: the bit stream that the expander's symbol
// decoder turns back into the file's bytes after its verbatim prefix, with the
// preset dictionary already in its window. The stream produces exactly
// data.size() bytes (the last match never runs past the end) and is padded to
// a whole byte. The data may come and the stream leave a window at a time, so
// a file of any size is coded in a bounded amount of memory.
#pragma once

#include <stdint.h>

#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "writer/level_params.h"
#include "writer/match_finder.h"

// Called now and then with the number of data bytes coded so far.
using EncodeProgress = std::function<void(int64_t bytesDone)>;
// Fills out with the next out.size() bytes of the data; false when they
// cannot be had (the caller keeps the reason), which ends the coding.
using DataReader = std::function<bool(std::span<uint8_t> out)>;
// Takes the next coded bytes; false ends the coding.
using CodedWriter = std::function<bool(std::span<const uint8_t> bytes)>;

// What a coding thread keeps from one file to the next: the match finders'
// tables, the optimal parser's match cache and the symbol coder. Reusing it
// changes no output: every run starts from the same state as a new context.
class EncoderContext {
 public:
  // Data bytes held at once beyond the dictionary, unless the data is smaller.
  static constexpr int32_t kWindowBytes = 1 << 20;

  // windowBytes: as kWindowBytes; tests pass less (at least 65536) to make
  // the window move often.
  explicit EncoderContext(int32_t windowBytes = kWindowBytes);
  ~EncoderContext();
  EncoderContext(const EncoderContext&) = delete;
  EncoderContext& operator=(const EncoderContext&) = delete;

  // dictionary: at most 16384 bytes (kDictionaryLimit), the window's preset
  // content; data: the bytes to code, fewer than 2^31; level: 1 (fastest) to
  // 9 (smallest), as kLevelTable describes; fences: stretches of the
  // dictionary (its offsets, in increasing order) that no match copies from.
  std::vector<uint8_t> Encode(std::span<const uint8_t> dictionary, std::span<const uint8_t> data,
                              int level, const EncodeProgress& progress = {},
                              std::span<const SourceFence> fences = {});
  // The same for dataSize bytes (fewer than 2^31) taken through read a window
  // at a time, the coded bytes handed to write as they are made; the output
  // is the same as Encode's on the same bytes and fences. False when read or
  // write refused.
  bool Encode(std::span<const uint8_t> dictionary, int64_t dataSize, const DataReader& read,
              int level, const CodedWriter& write, const EncodeProgress& progress = {},
              std::span<const SourceFence> fences = {});

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

// The same with a context of its own, for single calls.
std::vector<uint8_t> EncodeFileData(std::span<const uint8_t> dictionary,
                                    std::span<const uint8_t> data, int level,
                                    const EncodeProgress& progress = {},
                                    std::span<const SourceFence> fences = {});
