// The encoder's side of the symbol stream. The decoder builds the main tree
// lazily, before main symbol n when MainRebuildDue(n); the coder builds it
// right after symbol n - 1 instead. No count changes in between, so the tree
// is the same, and the code lengths for the next symbol are known in advance.
#include "writer/symbol_coder.h"

#include <algorithm>
#include <iterator>

// Internal nodes are stored in the order they were made, each after both its
// children, and the root last: one pass from the root down gives every code.
void ReadCodes(const CodeTree& tree, CodeTable& table) {
  uint64_t bits[kNodeCount];
  uint8_t depth[kNodeCount];
  const int32_t root = static_cast<int32_t>(TreeRoot(tree) - tree.NodeStore);
  bits[root] = 0;
  depth[root] = 0;
  for (int32_t i = root; i >= kSymbolCount; --i) {
    const CodeNode& node = tree.NodeStore[i];
    const auto c0 = node.Child0 - tree.NodeStore;
    const auto c1 = node.Child1 - tree.NodeStore;
    depth[c0] = depth[c1] = static_cast<uint8_t>(depth[i] + 1);
    bits[c0] = bits[i];
    bits[c1] = bits[i] | uint64_t{1} << depth[i];
  }
  for (int32_t s = 0; s < kSymbolCount; ++s) {
    table.Bits[s] = bits[s];
    table.Length[s] = depth[s];
  }
}

namespace {

// Both trees as they stand before an entry's first symbol.
struct StartState {
  CodeTree Main;
  CodeTree Distance;
  CodeTable MainCodes;
  CodeTable DistanceCodes;
  StartState() {
    StartMainCounts(Main);
    StartDistanceCounts(Distance);
    BuildCodeTree(Distance);
    ReadCodes(Distance, DistanceCodes);
    BuildCodeTree(Main);  // MainRebuildDue(0)
    ReadCodes(Main, MainCodes);
  }
};

const StartState& Start() {
  static const StartState state;
  return state;
}

}  // namespace

SymbolCoder::SymbolCoder(BitWriter& bits) : bits_(&bits) { Restart(bits); }

void SymbolCoder::Restart(BitWriter& bits) {
  // The trees are started and built by the codec, which alone knows what a
  // build reads of the last one; only the codes read from them are copied.
  const StartState& start = Start();
  bits_ = &bits;
  StartMainCounts(mainTree_);
  StartDistanceCounts(distanceTree_);
  BuildCodeTree(distanceTree_);
  BuildCodeTree(mainTree_);  // MainRebuildDue(0)
  mainCodes_ = start.MainCodes;
  distanceCodes_ = start.DistanceCodes;
  symbolsDone_ = 0;
  matchesDone_ = 0;
  ++treeVersion_;
}

void SymbolCoder::EndMainSymbol() {
  ++symbolsDone_;
  if (MainRebuildDue(symbolsDone_)) {
    BuildCodeTree(mainTree_);
    ReadCodes(mainTree_, mainCodes_);
    ++treeVersion_;
  }
}

void SymbolCoder::PutMainSymbol(int32_t symbol) {
  bits_->PutBits(mainCodes_.Bits[symbol], mainCodes_.Length[symbol]);
  ++mainTree_.SymbolCounts[symbol];
  if (symbol < kFirstMatchSymbol) EndMainSymbol();
}

void SymbolCoder::PutLongLengthBits(int32_t extra) {
  bits_->PutBits(static_cast<uint32_t>(extra), kLongMatchExtraBits);
}

void SymbolCoder::PutDistance(int32_t distance) {
  int32_t symbol = DistanceSymbol(distance);
  bits_->PutBits(distanceCodes_.Bits[symbol], distanceCodes_.Length[symbol]);
  ++distanceTree_.SymbolCounts[symbol];
  bits_->PutBits(static_cast<uint32_t>((distance - 1) % kDistanceSpan), kDistanceExtraBits);
  ++matchesDone_;
  if (DistanceRebuildDue(matchesDone_)) {
    BuildCodeTree(distanceTree_);
    ReadCodes(distanceTree_, distanceCodes_);
    ++treeVersion_;
  }
  EndMainSymbol();
}

void SymbolCoder::PutLiteral(uint8_t byte) { PutMainSymbol(byte); }

void SymbolCoder::PutMatch(int32_t length, int32_t distance) {
  PutMainSymbol(LengthSymbol(length));
  if (length >= kLongMatchBase) PutLongLengthBits(length - kLongMatchBase);
  PutDistance(distance);
}
