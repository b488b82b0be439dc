// Fuzz target: the checked block stream alone. OpenArchive and the password
// gate run on a fake own file with a fixed header, then payload bytes are
// requested one by one and compared with a model of the stream written from
// the format's rules: the same bytes, EndOfArchive exactly at the last one,
// and "This file is broken." or "File read error." exactly where the model
// says the stream stops. Short reads must change nothing.
#include <cstdint>
#include <string>
#include <vector>

#include "container/archive_header.h"
#include "container/block_stream.h"
#include "expander/expander_state.h"
#include "expander/program.h"
#include "fake_platform.h"
#include "format/crc16.h"
#include "fuzz_support.h"

namespace {

enum Mode : uint8_t {
  kProtected = 0x01,  // the archive is protected with the scripted password
  kFixChecks = 0x02,  // make every block pass its check
  kShortRead = 0x04,  // one read of the own file returns a byte less
  kFailRead = 0x08,   // one read of the own file fails
};

enum class Stop { kBroken, kReadError };

// What the stream hands out: the bytes before it stops, how it stops at the
// request after them, and after which byte EndOfArchive is set (-1: never).
struct StreamModel {
  std::vector<uint8_t> Bytes;
  Stop StopsWith = Stop::kReadError;
  int64_t EndAfter = -1;
};

StreamModel ModelStream(const ::Bytes& file, size_t start, const std::string& key) {
  StreamModel m;
  size_t keyAt = 0;
  for (size_t at = start;; at += 4098) {
    size_t n = at < file.size() ? std::min<size_t>(4098, file.size() - at) : 0;
    ::Bytes block(file.begin() + at, file.begin() + at + n);
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
      if (!key.empty() && i + 2 < n) {
        block[i] ^= static_cast<uint8_t>(key[keyAt]);
        keyAt = (keyAt + 1) % key.size();
      }
      crc = Crc16Update(crc, block[i]);
    }
    if (crc != 0) {
      m.StopsWith = Stop::kBroken;
      return m;
    }
    if (n < 3) return m;  // no data byte: a read error at the request
    m.Bytes.insert(m.Bytes.end(), block.begin(), block.end() - 2);
    if (at + n >= file.size()) {
      m.EndAfter = static_cast<int64_t>(m.Bytes.size()) - 1;
      return m;  // the next request finds no block
    }
    if (n < 4098) return m;  // a short block before the end: its last byte ends the data
  }
}

std::string gKey;
int64_t gRequests = 0;
int64_t gHandedOut = 0;
std::vector<uint8_t> gSeen;
int64_t gEndSeenAfter = -1;

int RequestBytes() {
  OpenArchive();
  PasswordGate();
  for (int64_t i = 0; i < gRequests; ++i) {
    gSeen.push_back(NextArchiveByte(gState.Loop.Stream));
    ++gHandedOut;
    if (gEndSeenAfter < 0 && gState.Loop.Stream.EndOfArchive) gEndSeenAfter = i;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  uint8_t mode = in.Byte();
  Bytes keyBytes = in.Take(in.Byte() % 8);
  // A carriage return or Ctrl-Z would end the typed line early.
  std::string password;
  for (uint8_t b : keyBytes) {
    if (b != 13 && b != 26) password.push_back(static_cast<char>(b));
  }
  gRequests = in.Little(2);
  uint8_t faultAt = in.Byte();

  static const Bytes kCore = TestCore();
  Bytes file = kCore;
  AppendLittle(file, 0, 4);
  file.push_back(0);  // no comment
  file.push_back(0);  // no run-after command
  file.push_back(mode & kProtected ? 0x5A : 0);
  if (mode & kProtected) AppendLittle(file, 0, 2);
  size_t streamStart = file.size();
  Bytes body = in.Rest();
  file.insert(file.end(), body.begin(), body.end());
  FixOriginalSize(file);
  HeaderLayout layout = FindHeader(file);
  std::string key = mode & kProtected ? password : "";
  if (mode & kProtected) FixCheckWord(file, layout, password);
  if (mode & kFixChecks) FixBlockChecks(file, streamStart, key);
  StreamModel model = ModelStream(file, streamStart, key);

  ResetFake();
  Fake().OwnFile = file;
  Fake().Input = password + "\r\n";
  // Reads 1 and 2 are the core image and OriginalSize; the header bytes follow one read each.
  int firstStreamRead = 2 + 3 + (mode & kProtected ? 2 : 0) + 1;
  if (mode & kFailRead) InjectFault(kOpRead, firstStreamRead + faultAt % 8, kFaultFail);
  if (mode & kShortRead) InjectFault(kOpRead, firstStreamRead + faultAt % 8, kFaultShort);
  gSeen.clear();
  gHandedOut = 0;
  gEndSeenAfter = -1;
  gDirectBody = RequestBytes;
  int code = RunExpander();
  gDirectBody = nullptr;

  const std::string& out = Fake().Output;
  bool broken = out.find("This file is broken.") != std::string::npos;
  bool readError = out.find("File read error.") != std::string::npos;
  for (int64_t i = 0; i < gHandedOut; ++i) {
    if (i >= static_cast<int64_t>(model.Bytes.size()) || gSeen[i] != model.Bytes[i]) {
      InvariantBroken("a payload byte differs from the model");
    }
  }
  if (gEndSeenAfter >= 0 && gEndSeenAfter != model.EndAfter) {
    InvariantBroken("EndOfArchive set at the wrong byte");
  }
  // The fake shortens a read by one byte, so a short read of a last block of
  // one byte returns nothing, which no system does before the end of a file.
  bool shortAtEnd = (mode & kShortRead) && (file.size() - streamStart) % kBlockSize == 1;
  if ((mode & kFailRead) || shortAtEnd) {
    if (code != 0 && !(code == 2 && (readError || broken)))
      InvariantBroken("a failed read did not stop the run");
    return 0;
  }
  auto available = static_cast<int64_t>(model.Bytes.size());
  if (gRequests <= available) {
    if (code != 0 || gHandedOut != gRequests) InvariantBroken("the stream stopped early");
    if (model.EndAfter >= 0 && gRequests > model.EndAfter && gEndSeenAfter != model.EndAfter) {
      InvariantBroken("EndOfArchive not set after the last byte");
    }
  } else {
    if (code != 2 || gHandedOut != available)
      InvariantBroken("the stream did not stop where the model stops");
    bool wantBroken = model.StopsWith == Stop::kBroken;
    if (broken != wantBroken || readError == wantBroken)
      InvariantBroken("the stream stopped with the wrong message");
  }
  return 0;
}
