// Both decoders run inside the fake's exit, so that a read error or a broken
// stream ends the run as it ends the expander, and the trace records it.
#include "decoder_pair.h"

#include "codec/decoder.h"
#include "codec/oracle_codec.h"
#include "container/archive_header.h"
#include "entries/history.h"
#include "expander/expander_state.h"
#include "expander/program.h"
#include "fake_platform.h"

namespace {

const DecoderInput* gInput = nullptr;
DecoderTrace* gTrace = nullptr;
bool gOracle = false;
OracleDecoder gOracleDecoder;
uint8_t gSlot[kSlotCapacity];

// Points the links of a tree copied from `from` at the copy's own nodes.
void Relocate(CodeTree& to, const CodeTree& from) {
  auto moved = [&](CodeNode* node) {
    return node == nullptr ? nullptr : to.NodeStore + (node - from.NodeStore);
  };
  for (CodeNode& node : to.NodeStore) {
    node.Child0 = moved(node.Child0);
    node.Child1 = moved(node.Child1);
  }
  for (CodeNode*& leaf : to.NodeList) leaf = moved(leaf);
}

// The oracle decoder as ResetOracleDecoder leaves it. Its start
// distance tree is a list-walk build that costs as much as a short entry's
// whole decoding, the same every time: it is made once and copied.
void StartOracleDecoder(OracleDecoder& d) {
  static const OracleDecoder* start = [] {
    static OracleDecoder fresh;
    ResetOracleDecoder(fresh);
    return &fresh;
  }();
  d = *start;
  Relocate(d.MainTree, start->MainTree);
  Relocate(d.DistanceTree, start->DistanceTree);
}

void ListSymbol(void*, int32_t length, uint32_t distance) {
  gTrace->Symbols.push_back({length, static_cast<int32_t>(distance)});
}

void Collect(void*, const uint8_t* data, int32_t count) {
  gTrace->Output.insert(gTrace->Output.end(), data, data + count);
  gTrace->Deliveries.push_back({count, Fake().Calls[kOpRead], Fake().Calls[kOpPosition]});
}

int DecodeBody() {
  ResetExpanderState();
  OpenArchive();
  BlockStream& s = gState.Loop.Stream;
  for (int32_t i = 0; i < gInput->Skip; ++i) NextArchiveByte(s);
  OutputWindow& w = gState.Loop.Window;
  w.Sink = gInput->Skipping ? nullptr : Collect;
  static const uint8_t kEmpty[1] = {};
  StartWindow(w, gInput->Dictionary.empty() ? kEmpty : gInput->Dictionary.data(),
              static_cast<int32_t>(gInput->Dictionary.size()), gSlot, 0, kSlotCapacity);
  if (gOracle) {
    StartOracleDecoder(gOracleDecoder);
    if (gInput->ListSymbols) gOracleDecoder.SymbolSeen = ListSymbol;
    OracleDecodeEntryData(gOracleDecoder, s, w, gInput->Target);
    gTrace->Decoded = gOracleDecoder.BytesDecoded;
  } else {
    ResetDecoder(gState.Loop.Decoder);
    DecodeEntryData(gState.Loop.Decoder, s, w, gInput->Target);
    gTrace->Decoded = gState.Loop.Decoder.BytesDecoded;
  }
  FinalFlush(w);
  gTrace->Consumed = s.ConsumedCount;
  gTrace->EndOfArchive = s.EndOfArchive;
  gTrace->Captured.assign(gSlot, gSlot + w.CaptureOffset);
  for (int i = 0; i < 3 && !s.EndOfArchive; ++i) gTrace->Following.push_back(NextArchiveByte(s));
  return 0;
}

}  // namespace

DecoderTrace RunDecoder(bool oracle, const DecoderInput& input) {
  DecoderTrace trace;
  ResetFake();
  Fake().OwnFile = input.File;
  gInput = &input;
  gTrace = &trace;
  gOracle = oracle;
  trace.ExitCode = RunInsideExit(DecodeBody);
  trace.Console = Fake().Output;
  trace.LastPosition = gState.Loop.Stream.ConsumedCount;
  gInput = nullptr;
  gTrace = nullptr;
  return trace;
}

Bytes EntryDataArchive(const Bytes& payload) {
  // The core and the header are the same for every payload: made once.
  static const Bytes kFront = BuildDistributable(ArchiveParts{});
  Bytes file = kFront;
  Bytes blocks = BuildBlocks(payload, "");
  file.insert(file.end(), blocks.begin(), blocks.end());
  auto size = static_cast<uint32_t>(file.size());
  for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
  return file;
}

std::string TraceDifference(const DecoderTrace& a, const DecoderTrace& b) {
  std::string d;
  auto note = [&](bool differs, const std::string& what) {
    if (differs) d += what + "; ";
  };
  note(a.ExitCode != b.ExitCode,
       "exit " + std::to_string(a.ExitCode) + " vs " + std::to_string(b.ExitCode));
  note(a.Console != b.Console, "console '" + a.Console + "' vs '" + b.Console + "'");
  note(a.Output != b.Output, "output of " + std::to_string(a.Output.size()) + " vs " +
                                 std::to_string(b.Output.size()) + " bytes");
  note(a.Deliveries != b.Deliveries, "deliveries or the reads before them");
  note(a.Decoded != b.Decoded,
       "decoded " + std::to_string(a.Decoded) + " vs " + std::to_string(b.Decoded));
  note(a.Consumed != b.Consumed,
       "consumed " + std::to_string(a.Consumed) + " vs " + std::to_string(b.Consumed));
  note(a.EndOfArchive != b.EndOfArchive, "end of archive");
  note(a.Captured != b.Captured, "captured history");
  note(a.Following != b.Following, "bytes after the entry");
  note(a.LastPosition != b.LastPosition, "stream position at the end " +
                                             std::to_string(a.LastPosition) + " vs " +
                                             std::to_string(b.LastPosition));
  return d;
}
