// Runs the varnow binary (or another program) in a chosen folder with a given standard input
// (through the tests' process runner, in a session of its own, so that it
// never finds a terminal to ask on), and compares the trees it leaves.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <string>
#include <vector>

#include "process_runner.h"
#include "sandbox.h"
#include "test_bytes.h"

using Bytes = std::vector<uint8_t>;

// program with args; stdinText fed on standard input; cwd empty: the current
// folder; environment "NAME=value", when given, set for this run.
RunResult RunCommand(const std::string& program, const std::vector<std::string>& args,
                     const std::string& stdinText = "", const std::filesystem::path& cwd = {},
                     const std::string& environment = "");
// varnow, or with VARNOW_TEST_TOOL and VARNOW_TEST_LOADER set, that tool
// (varnow.exe) through that loader (wine64).
RunResult RunVarnow(const std::vector<std::string>& args, const std::string& stdinText = "",
                    const std::filesystem::path& cwd = {}, const std::string& environment = "");
bool IsWindowsTool();

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
