// Test-only coder of hand-made entry data: a bit writer (least significant bit
// first) and a symbol coder that codes literals and matches with the trees the
// expander should have in force, built with the project's own BuildCodeTree on
// its rebuild schedules. The schedules can be swapped to show that a decoder
// with a rebuild one step off would read something else.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive_builder.h"
#include "codec/code_tree.h"

// The code of every symbol of a built tree, as '0'/'1' in reading order.
inline std::array<std::string, kSymbolCount> AllCodes(const CodeTree& tree) {
  std::array<std::string, kSymbolCount> codes;
  std::function<void(const CodeNode*, std::string)> walk = [&](const CodeNode* node,
                                                               std::string path) {
    if (node->Child0 == nullptr) {
      codes[node->Symbol] = path;
      return;
    }
    walk(node->Child0, path + '0');
    walk(node->Child1, path + '1');
  };
  walk(TreeRoot(tree), "");
  return codes;
}

class BitWriter {
 public:
  // count bits of value, least significant first.
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) PutBit((value >> i) & 1u);
  }
  // A code written as '0'/'1' text, first character first.
  void PutCode(const std::string& code) {
    for (char c : code) PutBit(c == '1');
  }
  void PutBit(bool bit) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(1u << (bits_ % 8));
    ++bits_;
  }
  const Bytes& Data() const { return bytes_; }  // the last byte padded with zero bits
  size_t BitCount() const { return bits_; }

 private:
  Bytes bytes_;
  size_t bits_ = 0;
};

using RebuildSchedule = std::function<bool(int32_t)>;

class StreamBuilder {
 public:
  // dictionary: the preset bytes the entry starts with, for the expected output.
  explicit StreamBuilder(Bytes dictionary = {}, RebuildSchedule main = MainRebuildDue,
                         RebuildSchedule distance = DistanceRebuildDue)
      : main_(std::make_unique<CodeTree>()),
        distance_(std::make_unique<CodeTree>()),
        mainDue_(std::move(main)),
        distanceDue_(std::move(distance)),
        history_(std::move(dictionary)),
        dictionaryLength_(history_.size()) {
    StartMainCounts(*main_);
    StartDistanceCounts(*distance_);
    BuildCodeTree(*distance_);
    distanceCodes_ = AllCodes(*distance_);
  }

  void Literal(uint8_t byte) {
    MainSymbol(byte);
    history_.push_back(byte);
    ++symbols_;
  }
  void Literals(const Bytes& bytes) {
    for (uint8_t b : bytes) Literal(b);
  }

  // A match of 2 to 4352 bytes at distance 1 to 16384.
  void Match(int32_t length, int32_t distance) {
    if (length <= 256) {
      MainSymbol(length + 254);
    } else {
      MainSymbol(kLongMatchSymbol);
      bits_.Put(static_cast<uint32_t>(length - kLongMatchBase), kLongMatchExtraBits);
    }
    int32_t slot = (distance - 1) / kDistanceSpan;
    bits_.PutCode(distanceCodes_[slot]);
    ++distance_->SymbolCounts[slot];
    bits_.Put(static_cast<uint32_t>((distance - 1) % kDistanceSpan), kDistanceExtraBits);
    for (int32_t k = 0; k < length; ++k) {
      // A distance before the history's start copies a marker byte; such streams are
      // only used to test the refusal.
      size_t size = history_.size();
      history_.push_back(static_cast<size_t>(distance) <= size ? history_[size - distance] : 0);
    }
    ++matches_;
    if (distanceDue_(matches_)) {
      BuildCodeTree(*distance_);
      distanceCodes_ = AllCodes(*distance_);
    }
    ++symbols_;
  }

  const Bytes& Data() const { return bits_.Data(); }
  size_t BitCount() const { return bits_.BitCount(); }
  // The decoded bytes (the dictionary left out).
  Bytes Output() const { return Bytes(history_.begin() + dictionaryLength_, history_.end()); }
  int32_t Symbols() const { return symbols_; }
  int32_t Matches() const { return matches_; }

 private:
  void MainSymbol(int32_t symbol) {
    if (mainDue_(symbols_)) {
      BuildCodeTree(*main_);
      mainCodes_ = AllCodes(*main_);
    }
    bits_.PutCode(mainCodes_[symbol]);
    ++main_->SymbolCounts[symbol];
  }

  std::unique_ptr<CodeTree> main_;
  std::unique_ptr<CodeTree> distance_;
  std::array<std::string, kSymbolCount> mainCodes_;
  std::array<std::string, kSymbolCount> distanceCodes_;
  RebuildSchedule mainDue_;
  RebuildSchedule distanceDue_;
  BitWriter bits_;
  Bytes history_;
  size_t dictionaryLength_;
  int32_t symbols_ = 0;
  int32_t matches_ = 0;
};

// Entry data that codes every byte of data as a literal.
inline Bytes LiteralStream(const Bytes& data) {
  StreamBuilder b;
  b.Literals(data);
  return b.Data();
}
