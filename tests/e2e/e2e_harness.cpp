// The sandbox, the per-core run and the snapshot of what a run left on disk.
// Paths of the cores, the Wine prefix and the helper program come from the
// build as compile definitions.
#include "e2e_harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kEpochDifference = 116444736000000000LL;  // 1601 to 1970 in 100 ns

uint64_t ToFileTime(const timespec& t) {
  return static_cast<uint64_t>(static_cast<int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100 +
                               kEpochDifference);
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteWhole(const fs::path& path, const std::string& bytes, bool executable) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (executable) fs::permissions(path, fs::perms(0755));
}

Bytes LoadCore(const char* path) {
  std::string bytes = ReadWhole(path);
  return Bytes(bytes.begin(), bytes.end());
}

}  // namespace

const char* CoreName(CoreKind kind) { return kind == CoreKind::kLinux ? "Linux" : "Windows"; }

const Bytes& CoreBytes(CoreKind kind) {
  static const Bytes linuxCore = LoadCore(VARNOW_E2E_LINUX_CORE);
  static const Bytes windowsCore = LoadCore(VARNOW_E2E_WINDOWS_CORE);
  const Bytes& core = kind == CoreKind::kLinux ? linuxCore : windowsCore;
  EXPECT_EQ(core.size(), 20480u) << CoreName(kind) << " core missing or of the wrong size: "
                                 << (kind == CoreKind::kLinux ? VARNOW_E2E_LINUX_CORE
                                                              : VARNOW_E2E_WINDOWS_CORE);
  return core;
}

std::string ForCore(const std::string& text, CoreKind kind) {
  if (kind == CoreKind::kLinux) return text;
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
  return kind == CoreKind::kLinux ? "marker.sh" : "marker.exe";
}

std::string DistributableName(CoreKind kind) {
  return kind == CoreKind::kLinux ? "setup" : "setup.exe";
}

Sandbox::Sandbox(const std::string& name) {
  outer_ = std::string(VARNOW_E2E_SANDBOX_ROOT) + "/" + name;
  work_ = outer_ + "/work";
  std::error_code ignored;
  fs::remove_all(outer_, ignored);
  fs::create_directories(work_);
}

Sandbox::~Sandbox() {
  if (!::testing::Test::HasFailure()) {
    std::error_code ignored;
    fs::remove_all(outer_, ignored);
  }
}

void Sandbox::Place(const PresetItem& item, CoreKind kind) const {
  switch (item.Type) {
    case PresetItem::kFolder:
      fs::create_directories(work_ + "/" + item.Path);
      break;
    case PresetItem::kFile:
      fs::create_directories(fs::path(work_ + "/" + item.Path).parent_path());
      WriteWhole(work_ + "/" + item.Path, item.Content, false);
      if (item.Mode != 0) fs::permissions(work_ + "/" + item.Path, fs::perms(item.Mode));
      break;
    case PresetItem::kMarkerProgram:
      if (kind == CoreKind::kLinux) {
        WriteWhole(work_ + "/marker.sh", "#!/bin/sh\nprintf ran > marker.txt\n", true);
      } else {
        fs::copy_file(VARNOW_E2E_MARKER_EXE, work_ + "/marker.exe");
      }
      break;
  }
}

Tree Sandbox::Snapshot() const {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(work_)) {
    std::string relative = fs::relative(entry.path(), work_).string();
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
    if (!item.Folder) item.Content = ReadWhole(entry.path());
    tree[relative] = item;
  }
  return tree;
}

std::vector<std::string> Sandbox::OuterNames() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(outer_))
    names.push_back(entry.path().filename().string());
  return names;
}

RunResult RunDistributable(CoreKind kind, const Sandbox& sandbox, const Bytes& file,
                           RunRequest request) {
  std::string name = DistributableName(kind);
  WriteWhole(sandbox.Work() + "/" + name, std::string(file.begin(), file.end()), true);
  request.Folder = sandbox.Work();
  if (kind == CoreKind::kLinux) {
    request.Argv = {"./" + name};
  } else {
    request.Argv = {"wine", name};
    request.Environment = {{"WINEDEBUG", "-all"},
                           {"WINEPREFIX", VARNOW_E2E_WINE_PREFIX},
                           {"WINEDLLOVERRIDES", "mscoree,mshtml="}};
    request.Unset = {"DISPLAY", "WAYLAND_DISPLAY"};  // no window may wait for a click
  }
  return RunProgram(request);
}

bool WaitForFile(const Sandbox& sandbox, const std::string& name, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += 50) {
    // Present and complete: the helper writes its three bytes at once.
    if (fs::exists(sandbox.Work() + "/" + name) && fs::file_size(sandbox.Work() + "/" + name) > 0)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string Visible(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (c == 7) {
      out += "\\a";
    } else if (c < 32 || c >= 127) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string Describe(const RunResult& run) {
  std::ostringstream text;
  text << "started " << run.Started << ", exit " << run.ExitCode << ", timed out " << run.TimedOut
       << ", signalled " << run.Signalled << ", " << run.ElapsedMs << " ms\n--- output:\n"
       << Visible(run.Output) << "\n--- errors:\n"
       << run.Errors;
  return text.str();
}
