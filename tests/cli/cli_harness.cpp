// varnow through the tests' process runner, and the tree comparison used by
// the round trips.
#include "cli_harness.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;

RunResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdinText, const fs::path& cwd,
                     const std::string& environment) {
  RunRequest request;
  request.Argv = {program};
  request.Argv.insert(request.Argv.end(), args.begin(), args.end());
  request.Folder = cwd.empty() ? std::string() : fs::absolute(cwd).string();
  request.Input = stdinText;
  request.TimeoutMs = 300000;  // far above any run here, even sanitized
  if (size_t at = environment.find('='); at != std::string::npos)
    request.Environment = {{environment.substr(0, at), environment.substr(at + 1)}};
  return RunProgram(request);
}

RunResult RunVarnow(const std::vector<std::string>& args, const std::string& stdinText,
                    const fs::path& cwd, const std::string& environment) {
  if (IsWindowsTool()) {
    std::vector<std::string> withTool = {getenv("VARNOW_TEST_TOOL")};
    withTool.insert(withTool.end(), args.begin(), args.end());
    // A case that fails is run once more by windows_tool_test.sh, which
    // names it: a Wine run gone wrong without a word stays in sight.
    return RunCommand(getenv("VARNOW_TEST_LOADER"), withTool, stdinText, cwd, environment);
  }
  return RunCommand(VARNOW_BINARY, args, stdinText, cwd, environment);
}

bool IsWindowsTool() {
  return getenv("VARNOW_TEST_TOOL") != nullptr && getenv("VARNOW_TEST_LOADER") != nullptr;
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
