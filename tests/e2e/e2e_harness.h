// What the end-to-end tests share: the real cores (the Linux one run
// directly, the Windows ones under Wine: the 32-bit product core and the 64-bit
// test build of the same sources), the sandbox folder of a test, a run of a
// distributable in it, and a snapshot of the files it left behind. Expected
// console texts are written once with "\n" and converted per core.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "process_runner.h"
#include "sandbox.h"

enum class CoreKind { kLinux, kWindows32, kWindows64 };
inline bool IsWindows(CoreKind kind) { return kind != CoreKind::kLinux; }

const char* CoreName(CoreKind kind);
// Why this core cannot run on this machine (the Wine fixture found out and
// wrote it down), or empty when it can. A case of such a core is skipped.
std::string WhyNotRunnable(CoreKind kind);
#define SKIP_UNLESS_RUNNABLE(kind)                                                \
  do {                                                                            \
    if (std::string why = WhyNotRunnable(kind); !why.empty())                     \
      GTEST_SKIP() << CoreName(kind) << " core not run on this machine: " << why; \
  } while (false)
// The core's own 20480 bytes as built; a test fails when the file is missing.
const Bytes& CoreBytes(CoreKind kind);
// "\n" becomes the core's line end; a "\n" right after "\r" is kept as it is,
// for bytes that come from the archive unchanged.
std::string ForCore(const std::string& text, CoreKind kind);
// The banner line that starts every run, in the core's line ends.
std::string Banner(CoreKind kind);
// The name of the small program that run-after tests start: it writes the
// file marker.txt holding "ran" into its working folder.
std::string MarkerProgramName(CoreKind kind);
// The Windows helper built for this core's architecture.
const std::string& MarkerProgramBytes(CoreKind kind);

// An item placed in the work folder before the run.
struct PresetItem {
  enum Kind { kFile, kFolder, kMarkerProgram } Type = kFile;
  std::string Path;     // with '/' between folders; unused for kMarkerProgram
  std::string Content;  // for kFile
  uint32_t Mode = 0;    // for kFile: its permission bits, when set
};
inline PresetItem PresetFile(std::string path, std::string content, uint32_t mode = 0) {
  return {PresetItem::kFile, std::move(path), std::move(content), mode};
}
inline PresetItem PresetFolder(std::string path) {
  return {PresetItem::kFolder, std::move(path), {}};
}
inline PresetItem PresetMarkerProgram() { return {PresetItem::kMarkerProgram, {}, {}}; }

// One item found in the work folder after a run.
struct FoundItem {
  bool Folder = false;
  std::string Content;
  uint64_t LastWrite = 0;  // as a file time: 100 ns since 1601
  uint64_t LastAccess = 0;
  uint32_t Mode = 0;  // permission bits
};
using Tree = std::map<std::string, FoundItem>;

// The sandbox of a case: <build>/e2e-sandbox/<name>/work. The outer folder
// holds only work/, so whatever a run writes beside it (a name with "..")
// shows up there.
SandboxPlace E2ePlace(const std::string& name);
void Place(const Sandbox& sandbox, const PresetItem& item, CoreKind kind);
// Every item below work/ except the distributable, by relative path.
Tree Snapshot(const Sandbox& sandbox);

// The distributable's file name in the work folder.
std::string DistributableName(CoreKind kind);
// Writes the distributable into the sandbox's work folder and runs it there.
// With noInputHandle (Windows cores only) a launcher starts it with no
// standard input handle at all; what the request types goes to the launcher.
RunResult RunDistributable(CoreKind kind, const Sandbox& sandbox, const Bytes& file,
                           RunRequest request, bool noInputHandle = false);
// Waits up to the limit for a file to appear in the work folder.
bool WaitForFile(const Sandbox& sandbox, const std::string& name, int limitMs);
