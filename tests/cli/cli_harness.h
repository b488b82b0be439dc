// Runs the varnow binary (or any program) as a child process in a chosen
// folder with a given standard input, and captures its exit code, standard
// output and standard error. Also a sandbox folder and small file helpers.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

struct RunResult {
  int ExitCode = -1;  // the exit code, or 128 + signal
  std::string Out;
  std::string Err;
};

// program with args; stdinText fed on standard input; cwd empty: the current folder.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdinText = "", const std::filesystem::path& cwd = {});
RunResult RunVarnow(const std::vector<std::string>& args, const std::string& stdinText = "",
                    const std::filesystem::path& cwd = {});

// A fresh folder under the system's temporary folder, removed when done.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path operator/(const std::string& relative) const { return root_ / relative; }

 private:
  std::filesystem::path root_;
};

using Bytes = std::vector<uint8_t>;

void WriteFile(const std::filesystem::path& path, const Bytes& data);
void WriteText(const std::filesystem::path& path, const std::string& text);
Bytes ReadFile(const std::filesystem::path& path);
// n bytes of a fixed pseudo-random pattern with some repetition, different per seed.
Bytes PatternData(size_t n, uint32_t seed);
// Sets last access and last write time (seconds and nanoseconds since 1970).
void SetTimes(const std::filesystem::path& path, int64_t seconds, int64_t nanoseconds);

// Everything below a folder, for comparing trees: relative path -> kind,
// bytes and last-write time in nanoseconds (folders: kind only).
struct TreeItem {
  bool IsFolder = false;
  Bytes Data;
  int64_t LastWriteNs = 0;
  bool operator==(const TreeItem&) const = default;
};
std::vector<std::pair<std::string, TreeItem>> ReadTree(const std::filesystem::path& root);
// Empty when equal, else the first difference in words.
std::string CompareTrees(const std::filesystem::path& expected,
                         const std::filesystem::path& actual);
