// Codes tokens with the project's own tree builder: the code of a symbol is
// the path from the root to its leaf, and the trees are rebuilt at the same
// moments as the decoder rebuilds them (main before symbol n when due,
// distance after the n-th match when due).
#include "token_stream.h"

#include <memory>

#include "codec/code_tree.h"

namespace {

class BitSink {
 public:
  void Put(uint32_t bit) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<uint8_t>(1u << (count_ % 8));
    ++count_;
  }
  // An extra value, least significant bit first, as ReadBits takes it.
  void PutValue(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) Put((value >> i) & 1u);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t count_ = 0;
};

// One tree with the code of every symbol, refreshed at each rebuild.
struct Coder {
  CodeTree Tree;
  std::vector<uint32_t> Codes[kSymbolCount];  // bits in reading order

  void Rebuild() {
    BuildCodeTree(Tree);
    Walk(TreeRoot(Tree), {});
  }
  void Walk(const CodeNode* node, std::vector<uint32_t> path) {
    if (node->Child0 == nullptr) {
      Codes[node->Symbol] = path;
      return;
    }
    path.push_back(0);
    Walk(node->Child0, path);
    path.back() = 1;
    Walk(node->Child1, path);
  }
  void Put(BitSink& sink, int32_t symbol) {
    for (uint32_t bit : Codes[symbol]) sink.Put(bit);
    Tree.SymbolCounts[symbol] += 1;
  }
};

}  // namespace

std::vector<uint8_t> EncodeTokens(const std::vector<Token>& tokens) {
  // The trees are large; keep them off the stack.
  auto main = std::make_unique<Coder>();
  auto distance = std::make_unique<Coder>();
  StartMainCounts(main->Tree);
  StartDistanceCounts(distance->Tree);
  distance->Rebuild();
  BitSink sink;
  int32_t symbols = 0, matches = 0;
  for (const Token& t : tokens) {
    if (MainRebuildDue(symbols)) main->Rebuild();
    if (t.Literal >= 0) {
      main->Put(sink, t.Literal);
    } else if (t.Length >= kLongMatchBase) {
      main->Put(sink, kLongMatchSymbol);
      sink.PutValue(static_cast<uint32_t>(t.Length - kLongMatchBase), kLongMatchExtraBits);
    } else {
      main->Put(sink, kFirstMatchSymbol + t.Length - kMinMatchLength);
    }
    if (t.Literal < 0) {
      int32_t d = t.Distance - 1;
      distance->Put(sink, d / kDistanceSpan);
      sink.PutValue(static_cast<uint32_t>(d % kDistanceSpan), kDistanceExtraBits);
      ++matches;
      if (DistanceRebuildDue(matches)) distance->Rebuild();
    }
    ++symbols;
  }
  return sink.Take();
}

std::vector<uint8_t> EncodeLiterals(const std::string& text) {
  std::vector<Token> tokens;
  for (unsigned char c : text) tokens.push_back(LiteralToken(c));
  return EncodeTokens(tokens);
}
