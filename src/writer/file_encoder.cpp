// The parsers behind EncoderContext::Encode. All work on one buffer holding
// the preset dictionary and then the data, so a match may reach back into the
// dictionary; all take their prices from the SymbolCoder, which always holds
// the code lengths that the decoder will use for the next symbol.
//   Greedy and lazy parser (hash chains): the longest match along a chain is
//   taken only when it costs fewer bits than its bytes as literals; the lazy
//   one defers it by one byte when the next position offers a bigger saving.
//   Optimal parser (binary trees): a shortest-path search, in bits, over a
//   segment of positions, using every match length that the tree finder
//   offers; the segment is re-parsed from the first symbol after a rebuild,
//   so each decision is priced with the trees actually in force.
// The buffer is a window that moves along the data (CodingWindow): positions
// are window offsets, and when the window moves, the parser and its finder
// shift theirs by the same multiple of 32768 bytes, which keeps every ring
// and cache slot where it was; what can still be reached (16384 bytes back,
// a segment and two matches ahead) is always held, so the moving window
// finds exactly what one buffer of the whole data would. The fences (window
// positions of dictionary bytes no match copies) move with the finder's
// positions; a move drops at least 32768 positions, so the first takes the
// whole dictionary and its fences with it.
#include "writer/file_encoder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/code_tree.h"
#include "format/format.h"
#include "writer/match_finder.h"
#include "writer/symbol_coder.h"

namespace {

constexpr int64_t kProgressStep = 1 << 18;
// The finders' link rings hold 32768 positions and the optimal parser's
// match cache 8192: a window moves by multiples of this, so that position p
// keeps its slot in both.
constexpr int32_t kSlideStep = 32768;
// Bytes the parsers may read ahead of the position being parsed: the optimal
// parser's segment (4096), a forced match after it, and the finder's match
// at the last position it inserts, each up to 4352 bytes.
constexpr int32_t kLookahead = 16384;
// Bytes kept behind the position being parsed: every distance a match may have.
constexpr int32_t kKeepBehind = kMaxDistance;
// Coded bytes gathered before they go to the writer.
constexpr size_t kCodedChunk = size_t{1} << 18;
// A window position's size when the data's end is further than this: the
// finders and parsers only compare it with nearby positions.
constexpr int32_t kFarEnd = 1 << 30;

// Progress in data bytes, from logical positions (dictionary included).
class ProgressTicker {
 public:
  ProgressTicker(const EncodeProgress& progress, int32_t dictionaryLength)
      : progress_(progress), base_(dictionaryLength) {}
  void At(int64_t position) {
    if (progress_ && position - base_ >= next_) {
      progress_(position - base_);
      next_ = position - base_ + kProgressStep;
    }
  }

 private:
  const EncodeProgress& progress_;
  int64_t base_;
  int64_t next_ = kProgressStep;
};

// The dictionary followed by the data, held a window at a time in one
// buffer. Window position w is logical position Origin() + w (logical 0 is
// the dictionary's first byte). Positions from 0 to Held() - 1 are in
// memory; End() is where the data ends, or kFarEnd when that is beyond reach.
class CodingWindow {
 public:
  CodingWindow(std::vector<uint8_t>& buffer, int32_t capacity, const DataReader& read)
      : buffer_(buffer), capacity_(capacity), read_(read) {}

  // Holds the dictionary and the data's first bytes; false when reading failed.
  bool Start(std::span<const uint8_t> dictionary, int64_t dataSize) {
    total_ = static_cast<int64_t>(dictionary.size()) + dataSize;
    const int64_t room = std::min<int64_t>(total_, int64_t(dictionary.size()) + capacity_);
    buffer_.resize(size_t(room));
    if (!dictionary.empty()) std::memcpy(buffer_.data(), dictionary.data(), dictionary.size());
    held_ = static_cast<int32_t>(dictionary.size());
    origin_ = 0;
    return Fill();
  }
  const uint8_t* Bytes() const { return buffer_.data(); }
  int64_t Origin() const { return origin_; }
  int32_t Held() const { return held_; }
  int32_t End() const { return static_cast<int32_t>(std::min<int64_t>(total_ - origin_, kFarEnd)); }
  // True when parsing at p may need bytes that are not held yet.
  bool NeedsMove(int32_t p) const { return p + kLookahead > held_ && origin_ + held_ < total_; }
  // Drops the bytes too far behind p that a multiple of kSlideStep allows
  // and reads on; the positions dropped (to subtract from every window
  // position), or -1 when reading failed.
  int32_t Move(int32_t p) {
    const int32_t dropped = std::max(0, (p - kKeepBehind) / kSlideStep * kSlideStep);
    if (dropped > 0) {
      std::memmove(buffer_.data(), buffer_.data() + dropped, size_t(held_ - dropped));
      held_ -= dropped;
      origin_ += dropped;
    }
    return Fill() ? dropped : -1;
  }

 private:
  bool Fill() {
    const int32_t want =
        static_cast<int32_t>(std::min<int64_t>(int64_t(buffer_.size()), total_ - origin_));
    if (want <= held_) return true;
    if (!read_(std::span<uint8_t>(buffer_.data() + held_, size_t(want - held_)))) return false;
    held_ = want;
    return true;
  }

  std::vector<uint8_t>& buffer_;
  int32_t capacity_;
  const DataReader& read_;
  int64_t total_ = 0;
  int64_t origin_ = 0;
  int32_t held_ = 0;
};

// The coded bytes on their way out: gathered in a chunk and handed to the
// writer (when there is one) whenever the chunk is full.
class CodedOutput {
 public:
  CodedOutput(std::vector<uint8_t>& bytes, const CodedWriter& write)
      : bytes_(bytes), write_(write) {}
  bool Drain(bool last) {
    if (!write_ || bytes_.empty() || (!last && bytes_.size() < kCodedChunk)) return true;
    bool ok = write_(std::span<const uint8_t>(bytes_.data(), bytes_.size()));
    bytes_.clear();
    return ok;
  }

 private:
  std::vector<uint8_t>& bytes_;
  const CodedWriter& write_;
};

// Bits saved by coding the match instead of its bytes as literals.
int32_t MatchGain(const SymbolCoder& coder, const uint8_t* buffer, int32_t p, Match m) {
  if (m.Length < kMinMatchLength) return -1;
  int32_t literals = 0;
  for (int32_t i = 0; i < m.Length; ++i) literals += coder.LiteralPrice(buffer[p + i]);
  return literals - coder.LengthPrice(m.Length) - coder.DistancePrice(m.Distance);
}

bool LazyParse(CodingWindow& window, int32_t dictionaryLength, int64_t runLength,
               std::span<const SourceFence> fences, const LevelParams& params,
               HashChainFinder& finder, SymbolCoder& coder, CodedOutput& out,
               ProgressTicker& ticker) {
  const uint8_t* buffer = window.Bytes();
  int32_t size = window.End();
  finder.Reset(buffer, size, params.Depth, params.Nice, runLength);
  finder.SetFences(fences);
  const bool lazy = params.Parse == ParseKind::kLazy;
  for (int32_t p = 0; p < dictionaryLength; ++p) finder.Insert(p);
  int32_t p = dictionaryLength;
  Match current = p < size ? finder.FindAndInsert(p) : Match{0, 0};
  while (p < size) {
    if (window.NeedsMove(p)) {
      // current was found at p and stays valid: it is relative.
      const int32_t dropped = window.Move(p);
      if (dropped < 0) return false;
      p -= dropped;
      buffer = window.Bytes();
      size = window.End();
      finder.Slide(buffer, dropped, size);
    }
    if (!out.Drain(false)) return false;
    ticker.At(window.Origin() + p);
    int32_t gain = MatchGain(coder, buffer, p, current);
    if (gain <= 0) {
      coder.PutLiteral(buffer[p]);
      ++p;
      if (p < size) current = finder.FindAndInsert(p);
      continue;
    }
    if (lazy && current.Length < params.Nice && p + 1 < size) {
      Match next = finder.FindAndInsert(p + 1);
      if (MatchGain(coder, buffer, p + 1, next) > gain) {
        coder.PutLiteral(buffer[p]);
        ++p;
        current = next;
        continue;
      }
      coder.PutMatch(current.Length, current.Distance);
      for (int32_t q = p + 2; q < p + current.Length; ++q) finder.Insert(q);
    } else {
      coder.PutMatch(current.Length, current.Distance);
      for (int32_t q = p + 1; q < p + current.Length; ++q) finder.Insert(q);
    }
    p += current.Length;
    if (p < size) current = finder.FindAndInsert(p);
  }
  return true;
}

// Prices of the code lengths in force, refreshed after every rebuild.
struct PriceTables {
  int32_t Literal[256];
  int32_t Length[kMaxMatchLength + 1];  // by match length; only 2 to 256 and 257 are filled
  int32_t DistanceSymbol[kSymbolCount];
  uint32_t Version = ~0u;

  void Refresh(const SymbolCoder& coder) {
    if (Version == coder.TreeVersion()) return;
    Version = coder.TreeVersion();
    for (int32_t b = 0; b < 256; ++b) Literal[b] = coder.LiteralPrice(static_cast<uint8_t>(b));
    for (int32_t l = kMinMatchLength; l <= kLongMatchBase; ++l) Length[l] = coder.LengthPrice(l);
    for (int32_t s = 0; s < kSymbolCount; ++s) DistanceSymbol[s] = coder.DistanceSymbolPrice(s);
  }
  int32_t LengthOf(int32_t l) const { return Length[l < kLongMatchBase ? l : kLongMatchBase]; }
  int32_t DistanceOf(int32_t d) const { return DistanceSymbol[(d - 1) / kDistanceSpan]; }
};

class OptimalParser {
 public:
  OptimalParser()
      : cacheMatches_(size_t{kCache} * TreeFinder::kMaxMatches), cacheCount_(kCache, 0) {}

  bool Run(CodingWindow& window, int32_t dictionaryLength, int64_t runLength,
           std::span<const SourceFence> fences, const LevelParams& params, SymbolCoder& coder,
           CodedOutput& out, ProgressTicker& ticker) {
    buffer_ = window.Bytes();
    dictionaryLength_ = dictionaryLength;
    size_ = window.End();
    nice_ = params.Nice;
    coder_ = &coder;
    prices_.Version = ~0u;
    finder_.Reset(buffer_, size_, std::min(params.Depth, kDictionaryInsertDepth), params.Nice,
                  runLength);
    finder_.SetFences(fences);
    for (int32_t p = 0; p < dictionaryLength_; ++p) finder_.Insert(p);
    finder_.SetMaxDepth(params.Depth);
    found_ = dictionaryLength_;
    int32_t p = dictionaryLength_;
    while (p < size_) {
      if (window.NeedsMove(p)) {
        // Segments start afresh at p, and found_ is at most a segment and a
        // match ahead of it; the cache keeps its slots (dropped is a
        // multiple of kCache). dictionaryLength_ stays the logical data
        // start, in window positions, and may go below 0.
        const int32_t dropped = window.Move(p);
        if (dropped < 0) return false;
        p -= dropped;
        found_ -= dropped;
        dictionaryLength_ -= dropped;
        buffer_ = window.Bytes();
        size_ = window.End();
        finder_.Slide(buffer_, dropped, size_);
      }
      if (!out.Drain(false)) return false;
      ticker.At(window.Origin() + p);
      p = ParseSegment(p);
    }
    return true;
  }

 private:
  static constexpr int32_t kCache = 8192;  // positions whose matches are kept
  // A segment is parsed again from its start, so all of it must stay cached.
  static_assert(kCache > kMaxSegment);
  static_assert(kSlideStep % kCache == 0);
  static_assert(kLookahead >= kMaxSegment + 2 * kMaxMatchLength);
  static constexpr int32_t kInfinity = 0x3FFFFFFF;

  // Matches of p, found once and kept while p may be parsed again.
  int32_t MatchesAt(int32_t p, const Match** matches) {
    while (found_ <= p) {
      int32_t slot = found_ % kCache;
      cacheCount_[slot] =
          finder_.FindAndInsert(found_, &cacheMatches_[size_t(slot) * TreeFinder::kMaxMatches]);
      ++found_;
    }
    int32_t slot = p % kCache;
    *matches = &cacheMatches_[size_t(slot) * TreeFinder::kMaxMatches];
    return cacheCount_[slot];
  }
  void SkipThrough(int32_t end) {
    while (found_ < end) {
      finder_.Insert(found_);
      cacheCount_[found_ % kCache] = 0;
      ++found_;
    }
  }

  // How far to parse: about the bytes until the next rebuild of the main
  // tree, whose schedule the codec gives.
  int32_t SegmentLength(int32_t p) const {
    int32_t symbols = coder_->SymbolsDone();
    int32_t next = symbols + 1;
    while (!MainRebuildDue(next)) ++next;
    int32_t done = p - dictionaryLength_;
    int64_t estimate =
        symbols > 0 ? int64_t(next - symbols) * done / symbols * kSegmentStretch / 2 : kMinSegment;
    int32_t s = static_cast<int32_t>(std::clamp<int64_t>(estimate, kMinSegment, kMaxSegment));
    return std::min(s, size_ - p);
  }

  // Parses from p, writes the chosen symbols up to the end of the segment or
  // to the first rebuild, and returns the next position to parse.
  int32_t ParseSegment(int32_t start) {
    prices_.Refresh(*coder_);
    const int32_t length = SegmentLength(start);
    price_[0] = 0;
    for (int32_t i = 1; i <= length; ++i) price_[i] = kInfinity;
    int32_t end = length;
    Match forced{0, 0};
    for (int32_t i = 0; i < length; ++i) {
      const int32_t p = start + i;
      const Match* matches;
      int32_t count = MatchesAt(p, &matches);
      if (count > 0 && matches[count - 1].Length >= nice_) {
        end = i;
        forced = matches[count - 1];
        break;
      }
      const int32_t base = price_[i];
      int32_t literal = base + prices_.Literal[buffer_[p]];
      if (literal < price_[i + 1]) {
        price_[i + 1] = literal;
        step_[i + 1] = {1, 0};
      }
      int32_t covered = 1;
      const int32_t room = length - i;
      for (int32_t k = 0; k < count && covered < room; ++k) {
        const int32_t top = std::min(matches[k].Length, room);
        const int32_t distancePrice = base + prices_.DistanceOf(matches[k].Distance);
        for (int32_t l = covered + 1; l <= top; ++l) {
          int32_t t = distancePrice + prices_.LengthOf(l);
          if (t < price_[i + l]) {
            price_[i + l] = t;
            step_[i + l] = {l, matches[k].Distance};
          }
        }
        covered = top;
      }
    }

    int32_t steps = 0;
    for (int32_t i = end; i > 0; i -= step_[i].Length) path_[steps++] = step_[i];
    std::reverse(path_, path_ + steps);
    if (forced.Length > 0) {
      path_[steps++] = forced;
      SkipThrough(start + end + forced.Length);
    }

    // The path's last steps were forced to end at the segment's end; unless
    // that is the end of the data or a forced match, they are left to the
    // next segment, which sees further.
    const int32_t keepUntil =
        forced.Length > 0 || start + length == size_ ? size_ : start + length - kSegmentTail;
    const uint32_t version = coder_->TreeVersion();
    int32_t p = start;
    for (int32_t k = 0; k < steps; ++k) {
      const Match& m = path_[k];
      if (k > 0 && p >= keepUntil) break;
      if (m.Length == 1) {
        coder_->PutLiteral(buffer_[p]);
      } else {
        coder_->PutMatch(m.Length, m.Distance);
      }
      p += m.Length;
      // New trees: the rest of the segment is parsed again with their prices.
      if (coder_->TreeVersion() != version && k + 1 < steps) break;
    }
    return p;
  }

  const uint8_t* buffer_ = nullptr;
  int32_t dictionaryLength_ = 0;
  int32_t size_ = 0;
  int32_t nice_ = 0;
  SymbolCoder* coder_ = nullptr;
  TreeFinder finder_;
  std::vector<Match> cacheMatches_;
  std::vector<int32_t> cacheCount_;
  int32_t found_ = 0;  // the finder has seen every position before this one
  PriceTables prices_;
  int32_t price_[kMaxSegment + 1];
  Match step_[kMaxSegment + 1];  // last step of the cheapest way to each position
  Match path_[kMaxSegment + 1];
};

}  // namespace

struct EncoderContext::Parts {
  int32_t WindowBytes = EncoderContext::kWindowBytes;
  std::vector<uint8_t> Buffer;  // the window: dictionary, then data
  std::vector<uint8_t> Scratch{};
  BitWriter Bits{Scratch};
  SymbolCoder Coder{Bits};
  HashChainFinder Chains;
  std::unique_ptr<OptimalParser> Optimal;  // made at the first optimal parse
};

EncoderContext::EncoderContext(int32_t windowBytes) : parts_(std::make_unique<Parts>()) {
  parts_->WindowBytes = std::max(windowBytes, 2 * kSlideStep);
}
EncoderContext::~EncoderContext() = default;

std::vector<uint8_t> EncoderContext::Encode(std::span<const uint8_t> dictionary,
                                            std::span<const uint8_t> data, int level,
                                            const EncodeProgress& progress,
                                            std::span<const SourceFence> fences) {
  std::vector<uint8_t> out;
  size_t taken = 0;
  DataReader read = [&](std::span<uint8_t> next) {
    if (!next.empty()) std::memcpy(next.data(), data.data() + taken, next.size());
    taken += next.size();
    return true;
  };
  CodedWriter write = [&](std::span<const uint8_t> coded) {
    out.insert(out.end(), coded.begin(), coded.end());
    return true;
  };
  Encode(dictionary, static_cast<int64_t>(data.size()), read, level, write, progress, fences);
  return out;
}

bool EncoderContext::Encode(std::span<const uint8_t> dictionary, int64_t dataSize,
                            const DataReader& read, int level, const CodedWriter& write,
                            const EncodeProgress& progress, std::span<const SourceFence> fences) {
  if (dataSize <= 0) return true;
  const LevelParams& params = ParamsOf(level);
  // Only the dictionary's last kDictionaryLimit bytes reach the window; the
  // fences move with them.
  const int32_t dropped = static_cast<int32_t>(
      dictionary.size() - std::min<size_t>(dictionary.size(), kDictionaryLimit));
  dictionary = dictionary.last(dictionary.size() - size_t(dropped));
  std::vector<SourceFence> kept;
  for (const SourceFence& f : fences)
    if (f.End > dropped) kept.push_back({std::max(f.Start - dropped, 0), f.End - dropped});
  std::vector<uint8_t>& buffer = parts_->Buffer;
  CodingWindow window(buffer, parts_->WindowBytes, read);
  if (!window.Start(dictionary, dataSize)) return false;
  const int32_t start = static_cast<int32_t>(dictionary.size());
  const int64_t runLength = start + dataSize;

  std::vector<uint8_t> coded;
  coded.reserve(size_t(std::min<int64_t>(dataSize / 2, int64_t(kCodedChunk))) + 16);
  BitWriter bits(coded);
  CodedOutput out(coded, write);
  SymbolCoder& coder = parts_->Coder;
  coder.Restart(bits);
  ProgressTicker ticker(progress, start);
  bool ok;
  if (params.Parse == ParseKind::kOptimal) {
    if (!parts_->Optimal) parts_->Optimal = std::make_unique<OptimalParser>();
    ok = parts_->Optimal->Run(window, start, runLength, kept, params, coder, out, ticker);
  } else {
    ok = LazyParse(window, start, runLength, kept, params, parts_->Chains, coder, out, ticker);
  }
  if (ok) {
    bits.Flush();
    ok = out.Drain(true);
  }
  // A big file's buffer is not kept for the next, usually small, one.
  constexpr size_t kKeptBuffer = size_t{1} << 22;
  if (buffer.capacity() > kKeptBuffer) std::vector<uint8_t>().swap(buffer);
  if (ok && progress) progress(dataSize);
  return ok;
}

std::vector<uint8_t> EncodeFileData(std::span<const uint8_t> dictionary,
                                    std::span<const uint8_t> data, int level,
                                    const EncodeProgress& progress,
                                    std::span<const SourceFence> fences) {
  EncoderContext context;
  return context.Encode(dictionary, data, level, progress, fences);
}
