// One row of an end-to-end table: a distributable, what is on disk before,
// what the user types, and what must come out: the exact console bytes after
// the banner, the exit code, and the complete tree of the work folder after.
// Each row runs on each core it names (both Windows cores for a Windows row);
// ExpectRow does the run and the checks.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_harness.h"

// The default time stamps of the test entries: creation, last access and last
// write differ, so a swapped time shows.
inline constexpr uint64_t kCreationTime = 0x01D0000000000000ull;
inline constexpr uint64_t kAccessTime = 0x01D1234567890123ull;
inline constexpr uint64_t kWriteTime = 0x01D0000000000000ull;

// An item the work folder must hold after the run. Content and times are
// compared when given.
struct ExpectedItem {
  std::string Path;  // with '/' between folders
  bool Folder = false;
  std::optional<std::string> Content;
  std::optional<uint64_t> LastWrite;
  std::optional<uint64_t> LastAccess;
  int32_t CorePrefix = -1;  // when set: the content is this many first bytes of the core
  // When set: the permission bits, less the umask.
  std::optional<uint32_t> Mode;
  bool MarkerProgram = false;  // the content is the core's run-after helper
};
// A file the core wrote, with the default times of the test entries.
ExpectedItem Written(std::string path, std::string content);
// A file or folder that is there, whatever the run did or did not touch.
ExpectedItem Untouched(std::string path, std::string content);
ExpectedItem Folder(std::string path);

enum class Cores { kBoth, kLinuxOnly, kWindowsOnly };

struct E2eRow {
  const char* Name;       // part of the test name
  const char* Exercises;  // what the row is for, shown when it fails
  std::function<Bytes(CoreKind)> Build;
  std::vector<PresetItem> Before;
  std::string Input;   // "\n" ends a line; converted per core
  std::string Output;  // everything after the banner line; "\n" converted per core
  int ExitCode = 0;
  // The complete work folder after the run, without the distributable. The
  // run-after helper (when preset) and its marker.txt (when Marker) are added.
  std::vector<ExpectedItem> After;
  Cores Only = Cores::kBoth;
  std::string WaitsAt;              // the core must wait for Enter after this text
  bool NoWait = false;              // standard input stays open: the core must end by itself
  bool Marker = false;              // run-after: wait for marker.txt before the snapshot
  std::vector<std::string> Absent;  // absolute paths that must not exist after the run
  // The core's standard streams, when not pipes: closed, or on /dev/null.
  // Without a pipe on standard output the run shows nothing, banner included,
  // so Output is then empty.
  Stream InputStream = Stream::kPiped;
  Stream OutputStream = Stream::kPiped;
  Stream ErrorStream = Stream::kPiped;
  // Windows: started by a launcher with no standard input handle at all;
  // Input goes to the launcher, never to the core.
  bool NoInputHandle = false;
};

struct E2eParam {
  const E2eRow* Row;
  CoreKind Kind;
};
std::vector<E2eParam> ForEachCore(const std::vector<E2eRow>& rows);
std::string ParamName(const E2eParam& param);
// How GoogleTest shows a parameter: the row and the core.
void PrintTo(const E2eParam& param, std::ostream* out);

// Runs the row on the core and checks output, exit code and the tree.
void ExpectRow(const E2eRow& row, CoreKind kind);
