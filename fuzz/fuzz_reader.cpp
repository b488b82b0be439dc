// Fuzz target: the writer's reader (what varnow list, test and extract run
// on files from anywhere) over the Linux platform, on an arbitrary archive
// behind the fixed test core. The input starts like the expander target's
// (mode byte, password, answers and fault bytes, which are read and
// ignored), so the expander's seeds serve it; corpus/reader holds its own
// grown corpus, which began as theirs. Every read must end with exit code
// 0, 1 or 2 and no crash, and a read that succeeds must have handed over
// exactly FileSize bytes of every file whose bytes it was asked for.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "archive_reader.h"
#include "fuzz_support.h"

namespace {

// Beside the repairs (kRepairSize, kRepairChecks, kRepairPassword): ask for
// no file's bytes (as list does) instead of all (as test and extract do).
constexpr uint8_t kSkipBytes = 0x08;

// The archive as a file: the reader opens a path, and a memory file needs no disk.
std::string AsFile(const Bytes& file) {
  static int fd = memfd_create("varnow-fuzz-reader", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 ||
      pwrite(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size()))
    InvariantBroken("cannot make the memory file");
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader in(data, size);
  uint8_t mode = in.Byte();
  Bytes passwordBytes = in.Take(in.Byte() % 16);
  std::string password(passwordBytes.begin(), passwordBytes.end());
  for (int n = in.Byte() % 8; n > 0; --n) in.Byte();
  in.Byte();
  in.Byte();

  Bytes file = RepairedDistributable(in.Rest(), mode, password);

  // One reader for every run, opened anew each time as varnow opens a file
  // again: a new one costs ASan's poisoning of its 6 MB, most of each run.
  static ArchiveReader reader;
  Status s = reader.Open(AsFile(file));
  if (s.Ok()) s = reader.Unlock(password);
  bool wanted = false;
  int64_t delivered = 0;
  ReadCallbacks callbacks;
  callbacks.BeginFile = [&](const EntryRecord& r, bool* want) {
    if (r.FileSize < 0) InvariantBroken("a negative file size handed over");
    wanted = (mode & kSkipBytes) == 0;
    *want = wanted;
    delivered = 0;
    return Success();
  };
  callbacks.Output = [&](const uint8_t*, int32_t count) {
    if (!wanted) InvariantBroken("bytes handed over that were not asked for");
    if (count < 0) InvariantBroken("a negative count handed over");
    delivered += count;
    return Success();
  };
  callbacks.EndFile = [&](const EntryRecord& r) {
    if (wanted && delivered != r.FileSize)
      InvariantBroken("a file of the wrong size reported whole");
    return Success();
  };
  if (s.Ok()) s = reader.ReadEntries(callbacks);
  if (s.ExitCode < 0 || s.ExitCode > 2) InvariantBroken("exit code other than 0, 1 or 2");
  if (!s.Ok() && s.Message.empty()) InvariantBroken("a failure without a message");
  return 0;
}
