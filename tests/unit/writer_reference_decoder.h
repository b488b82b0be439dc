// A small expander written for the writer's tests, straight from the format's
// rules and independent of the writer's code: bit reader, tree walk with the
// shared BuildCodeTree, the rebuild schedules, the history ring, names, the
// header and the block stream. Until the project's own decoder can be driven
// in memory, the writer's output is checked against this one.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/code_tree.h"
#include "entries/history.h"
#include "format/crc16.h"

namespace reference {

struct Symbol {      // one decoded main symbol, for tests that check the parse
  int32_t Length;    // 1 for a literal
  int32_t Distance;  // 0 for a literal
};

class BitReader {
 public:
  BitReader(const std::vector<uint8_t>& bytes, size_t start) : bytes_(bytes), pos_(start) {}
  // False once a bit past the end is wanted.
  bool ok() const { return ok_; }
  int Bit() {
    if (count_ == 0) {
      if (pos_ >= bytes_.size()) {
        ok_ = false;
        return 0;
      }
      buffer_ = bytes_[pos_++];
    }
    int b = buffer_ & 1;
    buffer_ >>= 1;
    count_ = (count_ + 1) % 8;
    return b;
  }
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint32_t(Bit()) << i;
    return v;
  }
  int32_t Walk(const CodeTree& tree) {
    const CodeNode* node = TreeRoot(tree);
    while (node->Child0 != nullptr) node = Bit() ? node->Child1 : node->Child0;
    return node->Symbol;
  }
  size_t Position() const { return pos_; }  // bytes taken so far

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_;
  uint8_t buffer_ = 0;
  int count_ = 0;
  bool ok_ = true;
};

struct DecodeOutcome {
  bool Ok = true;
  std::string Error;
  std::vector<uint8_t> Bytes;
  std::vector<Symbol> Symbols;
  size_t End = 0;  // offset after the last byte used
};

// Decodes target bytes from bytes[start...] with the window preset to
// dictionary.
inline DecodeOutcome DecodeData(const std::vector<uint8_t>& bytes, size_t start,
                                const std::vector<uint8_t>& dictionary, int64_t target) {
  DecodeOutcome r;
  r.End = start;
  if (target <= 0) return r;
  static CodeTree mainTree, distanceTree;
  StartMainCounts(mainTree);
  StartDistanceCounts(distanceTree);
  BuildCodeTree(distanceTree);
  std::vector<uint8_t> window = dictionary;
  BitReader in(bytes, start);
  int32_t symbols = 0, matches = 0;
  while (int64_t(r.Bytes.size()) < target) {
    if (symbols % 256 == 0 && (symbols < 2048 || symbols % 1024 == 0)) BuildCodeTree(mainTree);
    int32_t sym = in.Walk(mainTree);
    ++mainTree.SymbolCounts[sym];
    if (sym < 256) {
      window.push_back(uint8_t(sym));
      r.Bytes.push_back(uint8_t(sym));
      r.Symbols.push_back({1, 0});
    } else {
      int32_t length = sym - 254;
      if (sym == 511) length += int32_t(in.Bits(12));
      int32_t d = in.Walk(distanceTree);
      ++distanceTree.SymbolCounts[d];
      int32_t distance = d * 32 + 1 + int32_t(in.Bits(5));
      if (size_t(distance) > window.size() || distance > 16384) {
        r.Ok = false;
        r.Error = "distance " + std::to_string(distance) + " reaches before the window";
        return r;
      }
      for (int32_t i = 0; i < length; ++i) {
        uint8_t b = window[window.size() - size_t(distance)];
        window.push_back(b);
        r.Bytes.push_back(b);
      }
      r.Symbols.push_back({length, distance});
      ++matches;
      if (matches % 64 == 0 && (matches < 1024 || matches % 512 == 0)) BuildCodeTree(distanceTree);
    }
    ++symbols;
    if (!in.ok()) {
      r.Ok = false;
      r.Error = "data ends inside a symbol";
      return r;
    }
  }
  if (int64_t(r.Bytes.size()) != target) {
    r.Ok = false;
    r.Error = "the last match runs past the end";
  }
  r.End = in.Position();
  return r;
}

struct Entry {
  std::string Name;
  bool IsFolder = false;
  uint64_t Times[3] = {0, 0, 0};
  int32_t RefBack = 0;
  int32_t PrefixLength = 0;
  std::vector<uint8_t> Data;
};

struct Archive {
  bool Ok = false;
  std::string Error;
  std::string Comment, RunAfter;
  bool IsProtected = false;
  uint16_t CheckValue = 0;
  std::vector<Entry> Entries;
};

inline uint64_t Le(const std::vector<uint8_t>& b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = 0; i < n; ++i) v |= uint64_t(b[at + size_t(i)]) << (8 * i);
  return v;
}

// Reads a whole distributable the way the expander does.
inline Archive ReadArchive(const std::vector<uint8_t>& file, const std::string& password = {}) {
  Archive a;
  auto fail = [&](std::string why) {
    a.Ok = false;
    a.Error = std::move(why);
    return a;
  };
  if (file.size() < 20487) return fail("too short");
  if (Le(file, 20480, 4) != file.size()) return fail("OriginalSize differs from the file size");
  size_t at = 20484;
  while (at < file.size() && file[at] != 0) a.Comment.push_back(char(file[at++]));
  ++at;
  while (at < file.size() && file[at] != 0) a.RunAfter.push_back(char(file[at++]));
  ++at;
  uint8_t flag = file[at++];
  if (flag != 0) {
    a.IsProtected = true;
    a.CheckValue = uint16_t((flag * 257u) ^ Le(file, at, 2));
    at += 2;
    uint16_t crc =
        Crc16Update(Crc16Update(Crc16Feed(0, reinterpret_cast<const uint8_t*>(password.data()),
                                          int32_t(password.size())),
                                0),
                    0);
    if (crc != a.CheckValue) return fail("wrong password");
  }
  // Blocks: 4096 data bytes and two check bytes, the last one shorter.
  std::vector<uint8_t> payload;
  size_t key = 0;
  while (at < file.size()) {
    size_t n = std::min<size_t>(4098, file.size() - at);
    if (n < 3) return fail("block too short");
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
      uint8_t b = file[at + i];
      if (a.IsProtected && i < n - 2) {
        b ^= uint8_t(password[key]);
        key = (key + 1) % password.size();
        payload.push_back(b);
      }
      if (!a.IsProtected && i < n - 2) payload.push_back(b);
      crc = Crc16Update(crc, b);
    }
    if (crc != 0) return fail("block check fails");
    if (n < 4098 && at + n != file.size()) return fail("short block before the end");
    at += n;
  }
  // Entries.
  std::vector<std::vector<uint8_t>> ring(256);
  std::vector<bool> filled(256, false);
  ring[0].assign(file.begin(), file.begin() + 20480);
  filled[0] = true;
  int32_t current = 1;
  std::string previous;
  size_t p = 0;
  do {
    Entry e;
    if (p >= payload.size()) return fail("payload ends before an entry");
    if (payload[p] == '*') {
      size_t n = size_t(payload[p + 1]) + 2;
      e.Name = previous.substr(0, std::min(n, previous.size()));
      p += 2;
    }
    while (p < payload.size() && payload[p] != 0) e.Name.push_back(char(payload[p++]));
    if (p >= payload.size()) return fail("name without its zero byte");
    ++p;
    previous = e.Name;
    if (e.Name.size() >= 2 && e.Name.substr(e.Name.size() - 2) == "\\.") {
      e.IsFolder = true;
      a.Entries.push_back(std::move(e));
      continue;
    }
    if (p + 29 > payload.size()) return fail("record ends early");
    for (int t = 0; t < 3; ++t) e.Times[t] = Le(payload, p + size_t(8 * t), 8);
    int32_t fileSize = int32_t(Le(payload, p + 24, 4));
    e.RefBack = payload[p + 28];
    p += 29;
    if (e.RefBack != 0) {
      e.PrefixLength = int32_t(Le(payload, p, 2));
      p += 2;
    }
    int32_t back = e.RefBack == 0 ? 1 : e.RefBack;
    int32_t prefix = e.RefBack == 0 ? 0 : e.PrefixLength;
    int32_t refSlot = (current + 256 - back) % 256;
    if (!filled[size_t(refSlot)]) return fail("reference to an empty slot");
    const std::vector<uint8_t>& ref = ring[size_t(refSlot)];
    if (prefix > int32_t(ref.size()) || prefix > fileSize) return fail("prefix too long");
    DictionaryChoice d = ChooseDictionary(int32_t(ref.size()), prefix);
    std::vector<uint8_t> dictionary(ref.begin() + d.DictionaryStart,
                                    ref.begin() + d.DictionaryStart + d.DictionaryLength);
    e.Data.assign(ref.begin(), ref.begin() + prefix);
    DecodeOutcome out = DecodeData(payload, p, dictionary, int64_t(fileSize) - prefix);
    if (!out.Ok) return fail(e.Name + ": " + out.Error);
    p = out.End;
    e.Data.insert(e.Data.end(), out.Bytes.begin(), out.Bytes.end());
    ring[size_t(current)].assign(e.Data.begin(),
                                 e.Data.begin() + std::min<size_t>(e.Data.size(), 24576));
    filled[size_t(current)] = true;
    current = (current + 1) % 256;
    a.Entries.push_back(std::move(e));
  } while (p < payload.size());
  a.Ok = true;
  return a;
}

}  // namespace reference
