// Where a case's sandbox lies, the per-core run and the snapshot of what a run left
// on disk. Paths of the cores, the Wine prefix and the helper program come from
// the build as compile definitions.
#include "e2e_harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns

uint64_t ToFileTime(const timespec& t) {
  return static_cast<uint64_t>(static_cast<int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100 +
                               kEpochDifference);
}

void WriteProgram(const fs::path& path, const std::string& bytes) {
  WriteText(path, bytes);
  fs::permissions(path, fs::perms(0755));
}

Bytes LoadCore(const char* path) { return ReadFile(path); }

const char* CorePath(CoreKind kind) {
  switch (kind) {
    case CoreKind::kLinux:
      return VARNOW_E2E_LINUX_CORE;
    case CoreKind::kWindows32:
      return VARNOW_E2E_WINDOWS32_CORE;
    case CoreKind::kWindows64:
      return VARNOW_E2E_WINDOWS64_CORE;
  }
  return "";
}

}  // namespace

const char* CoreName(CoreKind kind) {
  switch (kind) {
    case CoreKind::kLinux:
      return "Linux";
    case CoreKind::kWindows32:
      return "Windows32";
    case CoreKind::kWindows64:
      return "Windows64";
  }
  return "";
}

std::string WhyNotRunnable(CoreKind kind) {
  if (!IsWindows(kind)) return "";
  // Lines "windows32 run" or "windows32 skip <reason>", one a core.
  const std::string key = kind == CoreKind::kWindows32 ? "windows32 " : "windows64 ";
  std::ifstream status(VARNOW_E2E_WINE_STATUS);
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) != 0) continue;
    std::string verdict = line.substr(key.size());
    if (verdict == "run") return "";
    if (verdict.rfind("skip ", 0) == 0) return verdict.substr(5);
  }
  // No verdict is no licence to skip: the case runs, and fails if Wine cannot.
  ADD_FAILURE() << "no verdict for the " << CoreName(kind) << " core in " << VARNOW_E2E_WINE_STATUS
                << " (ctest's Wine fixture writes it)";
  return "";
}

const Bytes& CoreBytes(CoreKind kind) {
  static const Bytes cores[] = {LoadCore(CorePath(CoreKind::kLinux)),
                                LoadCore(CorePath(CoreKind::kWindows32)),
                                LoadCore(CorePath(CoreKind::kWindows64))};
  const Bytes& core = cores[static_cast<int>(kind)];
  EXPECT_EQ(core.size(), 20480u) << CoreName(kind)
                                 << " core missing or of the wrong size: " << CorePath(kind);
  return core;
}

std::string ForCore(const std::string& text, CoreKind kind) {
  if (!IsWindows(kind)) return text;
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string Banner(CoreKind kind) {
  return ForCore("*** Varnow Expander 32 Ver. 1.66 ***  by the Varnow team\n", kind);
}

std::string MarkerProgramName(CoreKind kind) {
  return IsWindows(kind) ? "marker.exe" : "marker.sh";
}

const std::string& MarkerProgramBytes(CoreKind kind) {
  static const std::string marker32 = ReadText(VARNOW_E2E_MARKER32_EXE);
  static const std::string marker64 = ReadText(VARNOW_E2E_MARKER64_EXE);
  const std::string& marker = kind == CoreKind::kWindows64 ? marker64 : marker32;
  EXPECT_FALSE(marker.empty()) << "the run-after helper was not built";
  return marker;
}

std::string DistributableName(CoreKind kind) { return IsWindows(kind) ? "setup.exe" : "setup"; }

SandboxPlace E2ePlace(const std::string& name) {
  return {.Parent = VARNOW_E2E_SANDBOX_ROOT, .Name = name, .WorkFolder = "work"};
}

void Place(const Sandbox& sandbox, const PresetItem& item, CoreKind kind) {
  const fs::path& work = sandbox.Work();
  switch (item.Type) {
    case PresetItem::kFolder:
      fs::create_directories(work / item.Path);
      break;
    case PresetItem::kFile:
      WriteText(work / item.Path, item.Content);
      if (item.Mode != 0) fs::permissions(work / item.Path, fs::perms(item.Mode));
      break;
    case PresetItem::kMarkerProgram:
      if (IsWindows(kind)) {
        WriteProgram(work / "marker.exe", MarkerProgramBytes(kind));
      } else {
        WriteProgram(work / "marker.sh", "#!/bin/sh\nprintf ran > marker.txt\n");
      }
      break;
  }
}

Tree Snapshot(const Sandbox& sandbox) {
  const fs::path& work = sandbox.Work();
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(work)) {
    std::string relative = fs::relative(entry.path(), work).string();
    if (relative == "setup" || relative == "setup.exe") continue;
    FoundItem item;
    struct stat st;
    // The times are read before the content, whose reading may touch the access time.
    if (lstat(entry.path().c_str(), &st) == 0) {
      item.LastWrite = ToFileTime(st.st_mtim);
      item.LastAccess = ToFileTime(st.st_atim);
      item.Mode = st.st_mode & 07777;
    }
    item.Folder = S_ISDIR(st.st_mode);
    if (!item.Folder) item.Content = ReadText(entry.path());
    tree[relative] = item;
  }
  return tree;
}

RunResult RunDistributable(CoreKind kind, const Sandbox& sandbox, const Bytes& file,
                           RunRequest request, bool noInputHandle) {
  std::string name = DistributableName(kind);
  WriteProgram(sandbox.Work() / name, std::string(file.begin(), file.end()));
  request.Folder = sandbox.Work();
  EXPECT_TRUE(IsWindows(kind) || !noInputHandle) << "only a Windows core starts without a handle";
  if (!IsWindows(kind)) {
    request.Argv = {"./" + name};
  } else {
    request.Environment = {{"WINEDEBUG", "-all"},
                           {"WINEPREFIX", VARNOW_E2E_WINE_PREFIX},
                           {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
    if (kind == CoreKind::kWindows64) {
      // As Debian's wine starter does where only the 64-bit loader is
      // installed: the programs this one starts use it too.
      request.Argv = {VARNOW_E2E_WINE64, name};
      request.Environment.emplace_back("WINELOADER", VARNOW_E2E_WINE64);
    } else {
      request.Argv = {VARNOW_E2E_WINE32, name};
    }
    if (noInputHandle) {
      request.Argv.insert(request.Argv.begin() + 1, kind == CoreKind::kWindows64
                                                        ? VARNOW_E2E_NO_INPUT64_EXE
                                                        : VARNOW_E2E_NO_INPUT32_EXE);
    }
    request.Unset = {"DISPLAY", "WAYLAND_DISPLAY"};  // no window may wait for a click
  }
  return RunProgram(request);
}

bool WaitForFile(const Sandbox& sandbox, const std::string& name, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += 50) {
    // Present and complete: the helper writes its three bytes at once.
    if (fs::exists(sandbox.Work() / name) && fs::file_size(sandbox.Work() / name) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}
