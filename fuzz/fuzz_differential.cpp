// Fuzz target: the fast decoder against the oracle decoder on the same
// entry data, preset dictionary and target, the data starting at any offset
// of a block, the blocks passing their checks unless one is damaged on
// purpose. Any difference in the traces (output, the reads before each write,
// the history bytes, where the stream stands, how and when a run stops) is
// a finding. The input layout is the decoder target's, so its seeds serve.
#include <cstdint>
#include <string>

#include "container/archive_header.h"
#include "decoder_pair.h"
#include "entries/history.h"
#include "fuzz_support.h"

namespace {

enum Mode : uint8_t {
  kInputDictionary = 0x01,  // the dictionary's first bytes come from the input
  kBigTarget = 0x02,        // the target is scaled up to reach the window's flushes
  kOffset = 0x04,           // the entry data starts at an offset read from the input
  kDamage = 0x08,           // one stored byte of the stream is changed after the repairs
  kSkip = 0x10,             // decode without handing anything on
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  uint8_t mode = in.Byte();
  DecoderInput input;
  input.Target = static_cast<int32_t>(in.Little(2));
  if (mode & kBigTarget) input.Target *= 37;
  int32_t dictionaryLength = static_cast<int32_t>(in.Little(2) % (kDictionaryLimit + 1));
  int32_t offset = static_cast<int32_t>(in.Little(2) % (kCoreSize - dictionaryLength + 1));
  static const Bytes core = TestCore();
  input.Dictionary.assign(core.begin() + offset, core.begin() + offset + dictionaryLength);
  if (mode & kInputDictionary) {
    Bytes own = in.Take(std::min<size_t>(in.Byte(), input.Dictionary.size()));
    std::copy(own.begin(), own.end(), input.Dictionary.begin());
  }
  if (mode & kOffset) input.Skip = static_cast<int32_t>(in.Little(2) % 4097);
  uint32_t damageAt = (mode & kDamage) ? in.Little(3) : 0;
  input.Skipping = (mode & kSkip) != 0;

  Bytes payload(static_cast<size_t>(input.Skip), 0xA5);
  Bytes entryData = in.Rest();
  payload.insert(payload.end(), entryData.begin(), entryData.end());
  if (payload.empty()) payload.push_back(0);
  input.File = EntryDataArchive(payload);
  if (mode & kDamage) {
    size_t streamStart = input.File.size() - BuildBlocks(payload, "").size();
    input.File[streamStart + damageAt % (input.File.size() - streamStart)] ^= 0x10;
  }

  EmptyFakeAtEnd emptied;
  DecoderTrace fast = RunDecoder(false, input);
  DecoderTrace oracle = RunDecoder(true, input);
  if (!(fast == oracle)) {
    std::string what = "fast and oracle decoders differ: " + TraceDifference(fast, oracle);
    InvariantBroken(what.c_str());
  }
  if (fast.ExitCode != 0 && fast.ExitCode != 2) InvariantBroken("exit code other than 0 or 2");
  return 0;
}
