// Fuzz target: the decoder alone, on arbitrary entry data (wrapped in passing
// blocks) with an arbitrary preset dictionary and target size. Each input runs
// twice, once skipping and once writing to a fake output file, and the two
// runs must agree: the same end, the same bytes captured into the history
// slot, and a written file that holds exactly the decoded bytes, whose first
// 24576 are the captured ones. A run that stops must leave no output file.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/decoder.h"
#include "codec/output_window.h"
#include "container/archive_header.h"
#include "entries/history.h"
#include "expander/expander_state.h"
#include "expander/files_folders.h"
#include "expander/program.h"
#include "fake_platform.h"
#include "fuzz_support.h"

namespace {

enum Mode : uint8_t {
  kInputDictionary = 0x01,  // the dictionary's first bytes come from the input
  kBigTarget = 0x02,        // the target is scaled up to reach the window's flushes
};

Bytes gDictionary;
int32_t gTarget = 0;
bool gSkip = false;

int DecodeOneEntry() {
  OpenArchive();
  PrepareHistory(gState.Loop.History, gState.CoreImage);
  HistoryState& h = gState.Loop.History;
  h.HistoryRing[h.CurrentSlot].SlotLength = gTarget < kSlotCapacity ? gTarget : kSlotCapacity;
  gState.Loop.Entries.Skipping = gSkip;
  if (!gSkip) {
    __builtin_memcpy(gState.Loop.Entries.EntryName, "out", 4);
    gState.OutputFile = SysCreateFile("out");
  }
  // A slot is never a null pointer, even an empty one.
  static const uint8_t kEmpty[1] = {};
  OutputWindow& w = gState.Loop.Window;
  w.Sink = gSkip ? nullptr : WriteOutputFile;
  StartWindow(w, gDictionary.empty() ? kEmpty : gDictionary.data(),
              static_cast<int32_t>(gDictionary.size()), h.HistoryRing[h.CurrentSlot].SlotData, 0,
              kSlotCapacity);
  ResetDecoder(gState.Loop.Decoder);
  DecodeEntryData(gState.Loop.Decoder, gState.Loop.Stream, w, gTarget);
  if (!gSkip) {
    FinalFlush(w);
    SysCloseFile(gState.OutputFile);
    gState.OutputFile = kNoFile;
  }
  return 0;
}

struct Outcome {
  int Code;
  std::string Output;
  int32_t Decoded;
  Bytes Captured;
};

Outcome RunOnce(const Bytes& file, bool skip) {
  ResetFake();
  Fake().OwnFile = file;
  Fake().DiskLimit = 8 << 20;
  gSkip = skip;
  gDirectBody = DecodeOneEntry;
  int code = RunExpander();
  gDirectBody = nullptr;
  const HistoryState& h = gState.Loop.History;
  const uint8_t* slot = h.HistoryRing[h.CurrentSlot].SlotData;
  return {code, Fake().Output, gState.Loop.Decoder.BytesDecoded,
          Bytes(slot, slot + gState.Loop.Window.CaptureOffset)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  uint8_t mode = in.Byte();
  gTarget = static_cast<int32_t>(in.Little(2));
  if (mode & kBigTarget) gTarget *= 37;  // up to about 2.4 MB, past many flushes
  int32_t dictionaryLength = static_cast<int32_t>(in.Little(2) % (kDictionaryLimit + 1));
  int32_t offset = static_cast<int32_t>(in.Little(2) % (kCoreSize - dictionaryLength + 1));
  static const Bytes core = TestCore();
  gDictionary.assign(core.begin() + offset, core.begin() + offset + dictionaryLength);
  if (mode & kInputDictionary) {
    Bytes own = in.Take(std::min<size_t>(in.Byte(), gDictionary.size()));
    std::copy(own.begin(), own.end(), gDictionary.begin());
  }

  Bytes file = core;
  AppendLittle(file, 0, 4);
  file.insert(file.end(), {0, 0, 0});  // no comment, no run-after command, not protected
  size_t streamStart = file.size();
  Bytes entryData = in.Rest();
  file.insert(file.end(), entryData.begin(), entryData.end());
  FixOriginalSize(file);
  FixBlockChecks(file, streamStart, "");

  EmptyFakeAtEnd emptied;
  Outcome skipped = RunOnce(file, true);
  Outcome written = RunOnce(file, false);
  if (skipped.Code != 0 && skipped.Code != 2) InvariantBroken("exit code other than 0 or 2");
  if (skipped.Code != written.Code || skipped.Output != written.Output) {
    InvariantBroken("skipping and writing end differently");
  }
  if (skipped.Captured != written.Captured)
    InvariantBroken("skipping and writing capture differently");
  auto it = Fake().Items.find("out");
  if (written.Code != 0) {
    if (it != Fake().Items.end()) InvariantBroken("a stopped run left its output file");
    return 0;
  }
  if (written.Decoded < gTarget ||
      written.Decoded >= gTarget + kMaxMatchLength + (gTarget == 0 ? 1 : 0)) {
    InvariantBroken("decoded count outside the target and one match past it");
  }
  if (it == Fake().Items.end()) InvariantBroken("the output file is missing");
  const Bytes& out = it->second.Data;
  if (static_cast<int32_t>(out.size()) != written.Decoded)
    InvariantBroken("written size differs from decoded");
  size_t kept = std::min<size_t>(out.size(), kSlotCapacity);
  if (written.Captured.size() != kept ||
      !std::equal(out.begin(), out.begin() + kept, written.Captured.begin())) {
    InvariantBroken("the history slot differs from the file's first bytes");
  }
  return 0;
}
