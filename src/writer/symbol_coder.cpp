// The encoder's side of the symbol stream. The decoder builds the main tree
// lazily, before main symbol n when MainRebuildDue(n); the coder builds it
// right after symbol n - 1 instead. No count changes in between, so the tree
// is the same, and the code lengths for the next symbol are known in advance.
#include "writer/symbol_coder.h"

void ReadCodes(const CodeTree& tree, CodeTable& table) {
  struct Step {
    const CodeNode* Node;
    uint64_t Bits;
    int Depth;
  };
  Step stack[kNodeCount];
  int top = 0;
  stack[top++] = {TreeRoot(tree), 0, 0};
  while (top > 0) {
    Step s = stack[--top];
    if (s.Node->Child0 == nullptr) {
      table.Bits[s.Node->Symbol] = s.Bits;
      table.Length[s.Node->Symbol] = static_cast<uint8_t>(s.Depth);
      continue;
    }
    stack[top++] = {s.Node->Child0, s.Bits, s.Depth + 1};
    stack[top++] = {s.Node->Child1, s.Bits | (uint64_t{1} << s.Depth), s.Depth + 1};
  }
}

SymbolCoder::SymbolCoder(BitWriter& bits) : bits_(bits) {
  StartMainCounts(mainTree_);
  StartDistanceCounts(distanceTree_);
  BuildCodeTree(distanceTree_);
  ReadCodes(distanceTree_, distanceCodes_);
  BuildCodeTree(mainTree_);  // MainRebuildDue(0)
  ReadCodes(mainTree_, mainCodes_);
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
  bits_.PutBits(mainCodes_.Bits[symbol], mainCodes_.Length[symbol]);
  ++mainTree_.SymbolCounts[symbol];
  if (symbol < kFirstMatchSymbol) EndMainSymbol();
}

void SymbolCoder::PutLongLengthBits(int32_t extra) {
  bits_.PutBits(static_cast<uint32_t>(extra), kLongMatchExtraBits);
}

void SymbolCoder::PutDistance(int32_t distance) {
  int32_t symbol = DistanceSymbol(distance);
  bits_.PutBits(distanceCodes_.Bits[symbol], distanceCodes_.Length[symbol]);
  ++distanceTree_.SymbolCounts[symbol];
  bits_.PutBits(static_cast<uint32_t>((distance - 1) % kDistanceSpan), kDistanceExtraBits);
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
