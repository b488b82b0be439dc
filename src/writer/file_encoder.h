// One file entry's compressed data: the bit stream that the expander's symbol
// decoder turns back into the file's bytes after its verbatim prefix, with the
// preset dictionary already in its window. The stream produces exactly
// data.size() bytes (the last match never runs past the end) and is padded to
// a whole byte.
#pragma once

#include <stdint.h>

#include <functional>
#include <span>
#include <vector>

inline constexpr int kMinLevel = 1;
inline constexpr int kMaxLevel = 9;
inline constexpr int kDefaultLevel = 6;

// Called now and then with the number of data bytes coded so far.
using EncodeProgress = std::function<void(int64_t bytesDone)>;

// dictionary: at most 16384 bytes (kDictionaryLimit), the window's preset
// content; data: the bytes to code, fewer than 2^31; level: 1 (fastest) to 9
// (smallest). Levels 1-4 use hash chains with greedy or lazy choices weighed
// by the code lengths in force; levels 5-9 use binary trees and a price-driven
// optimal parse that is re-run whenever a tree is rebuilt.
std::vector<uint8_t> EncodeFileData(std::span<const uint8_t> dictionary,
                                    std::span<const uint8_t> data, int level,
                                    const EncodeProgress& progress = {});
