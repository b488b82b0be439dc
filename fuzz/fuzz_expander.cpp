// Fuzz target: the whole expander on the fake, on an arbitrary archive behind
// the fixed test core. The first input bytes choose the run: which repairs to
// make (size, block checks, check word), scripted answers and a password,
// items already on disk, one injected fault, a small disk. Every run must end
// at the fake's exit with code 0, 1 or 2, create nothing outside the folder
// and leave no file behind that it did not finish.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "fake_platform.h"
#include "fuzz_support.h"

namespace {

// Beside the repairs (kRepairSize, kRepairChecks, kRepairPassword; the password is the
// scripted one):
enum Mode : uint8_t {
  kDoubleByte = 0x08,   // a double-byte code page
  kPresetItems = 0x10,  // a file, a folder and a file in a folder's place exist
  kLaunchFails = 0x20,  // the run-after command cannot be started
  kInjectFault = 0x40,  // one call of one operation fails or is short
  kSmallDisk = 0x80,    // the disk holds only a few hundred bytes
};

const char* const kAnswers[8] = {"Y\r\n", "N\r\n", "y\r", "n\n", "\r\n", "x\r\n", "\x1a", "Y\n"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  uint8_t mode = in.Byte();
  Bytes passwordBytes = in.Take(in.Byte() % 16);
  std::string password(passwordBytes.begin(), passwordBytes.end());
  std::string script = password + "\r\n";
  for (int n = in.Byte() % 8; n > 0; --n) script += kAnswers[in.Byte() % 8];
  uint8_t faultOp = in.Byte() % kOpCount;
  uint8_t faultAt = in.Byte();

  Bytes file = RepairedDistributable(in.Rest(), mode, password);

  ResetFake();
  FakeSystem& fake = Fake();
  fake.OwnFile = std::move(file);
  fake.Input = script;
  fake.DoubleByte = (mode & kDoubleByte) != 0;
  fake.LaunchSucceeds = (mode & kLaunchFails) == 0;
  fake.DiskLimit = (mode & kSmallDisk) ? 300 : 8 << 20;
  std::set<std::string> preset;
  if (mode & kPresetItems) {
    fake.Items["A.TXT"].Data = {'o', 'l', 'd'};
    fake.Items["D"].IsFolder = true;
    fake.Items["F"].Data = {'f'};
    preset = {"A.TXT", "D", "F"};
  }
  bool faulted = (mode & kInjectFault) != 0;
  if (faulted)
    InjectFault(static_cast<FakeOp>(faultOp), 1 + faultAt % 16,
                faultAt & 0x80 ? kFaultShort : kFaultFail);

  int code = RunExpander();
  // For triage: VARNOW_FUZZ_SHOW=1 prints how each run ended.
  if (std::getenv("VARNOW_FUZZ_SHOW") != nullptr) {
    std::fprintf(stderr, "exit %d\n%s\n", code, fake.Output.c_str());
  }
  if (code < 0 || code > 2) InvariantBroken("exit code other than 0, 1 or 2");
  if (code == 0 && fake.OpenFiles != 0) InvariantBroken("a file left open after a complete run");
  for (const auto& [name, item] : fake.Items) {
    if (preset.count(name)) continue;
    if (!StaysInside(name, fake.DoubleByte)) InvariantBroken("an item made outside the folder");
    // A file that was not finished is deleted by the fatal stop, unless the
    // deletion itself was made to fail.
    bool finished = fake.Output.find("expanding : " + name + " ... end.") != std::string::npos;
    if (!item.IsFolder && !finished && !(faulted && faultOp == kOpDelete)) {
      InvariantBroken("an unfinished file left on disk");
    }
  }
  return 0;
}
