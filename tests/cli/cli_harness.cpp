// Child processes through posix_spawn with their output in temporary files
// (so no pipe can fill up), and the tree comparison used by the round trips.
#include "cli_harness.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <stdexcept>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

Sandbox::Sandbox() {
  std::string pattern = (fs::temp_directory_path() / "varnow-cli-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdinText, const fs::path& cwd) {
  Sandbox io;
  WriteText(io / "in", stdinText);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, (io / "in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (io / "out").c_str(), O_WRONLY | O_CREAT, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (io / "err").c_str(), O_WRONLY | O_CREAT, 0644);
  std::string dir = cwd.empty() ? std::string() : fs::absolute(cwd).string();
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  // A session of its own: no controlling terminal, so nothing can wait for
  // typed input even when the tests run from a terminal.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid;
  RunResult r;
  int started = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (started != 0) {
    posix_spawn_file_actions_destroy(&actions);
    r.Err = "cannot start " + program;
    return r;
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.Out = Slurp(io / "out");
  r.Err = Slurp(io / "err");
  return r;
}

RunResult RunVarnow(const std::vector<std::string>& args, const std::string& stdinText,
                    const fs::path& cwd) {
  return RunProgram(VARNOW_BINARY, args, stdinText, cwd);
}

void WriteFile(const fs::path& path, const Bytes& data) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteText(const fs::path& path, const std::string& text) {
  WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const fs::path& path) {
  std::string s = Slurp(path);
  return Bytes(s.begin(), s.end());
}

Bytes PatternData(size_t n, uint32_t seed) {
  // Words from a small vocabulary chosen by an LCG: compressible, not trivial.
  static const char* kWords[] = {"alpha ", "beta ",  "gamma ", "delta\n", "epsilon ", "zeta ",
                                 "eta ",   "theta ", "iota ",  "kappa\n", "lambda ",  "mu "};
  Bytes out;
  uint32_t x = seed * 2654435761u + 12345u;
  while (out.size() < n) {
    x = x * 1664525u + 1013904223u;
    if ((x >> 28) == 0) {
      out.push_back(static_cast<uint8_t>(x >> 8));  // a stray byte now and then
      continue;
    }
    const char* w = kWords[(x >> 16) % 12];
    for (const char* p = w; *p != 0 && out.size() < n; ++p) out.push_back(static_cast<uint8_t>(*p));
  }
  return out;
}

void SetTimes(const fs::path& path, int64_t seconds, int64_t nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = static_cast<long>(nanoseconds);
  times[1] = times[0];
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set times of " + path.string());
}

std::vector<std::pair<std::string, TreeItem>> ReadTree(const fs::path& root) {
  std::vector<std::pair<std::string, TreeItem>> items;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    TreeItem item;
    item.IsFolder = e.is_directory();
    if (!item.IsFolder) {
      item.Data = ReadFile(e.path());
      struct stat st;
      stat(e.path().c_str(), &st);
      item.LastWriteNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    items.emplace_back(fs::relative(e.path(), root).string(), std::move(item));
  }
  std::sort(items.begin(), items.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return items;
}

std::string CompareTrees(const fs::path& expected, const fs::path& actual) {
  auto want = ReadTree(expected);
  auto got = ReadTree(actual);
  std::map<std::string, const TreeItem*> gotByName;
  for (const auto& [name, item] : got) gotByName[name] = &item;
  for (const auto& [name, item] : want) {
    auto it = gotByName.find(name);
    if (it == gotByName.end()) return "missing: " + name;
    if (it->second->IsFolder != item.IsFolder) return "kind differs: " + name;
    if (it->second->Data != item.Data) return "bytes differ: " + name;
    if (it->second->LastWriteNs != item.LastWriteNs)
      return "last-write time differs: " + name + " (" + std::to_string(item.LastWriteNs) + " vs " +
             std::to_string(it->second->LastWriteNs) + ")";
    gotByName.erase(it);
  }
  if (!gotByName.empty()) return "unexpected: " + gotByName.begin()->first;
  return "";
}
