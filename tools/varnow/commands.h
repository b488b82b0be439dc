// The four commands of `varnow`, each given its parsed options. main.cpp
// parses the command line; these do the work and return a Status.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli_status.h"

// How a password is given: asked on the terminal, or read from a file.
struct PasswordSource {
  bool Ask = false;
  std::string File;  // empty: none
  bool Given() const { return Ask || !File.empty(); }
};

struct PackCommand {
  std::string Output;
  std::vector<std::string> Sources;
  std::string Target = "windows";
  std::string CoreFile;      // instead of an embedded core
  std::string CodePageName;  // empty: 1252 for Windows, UTF-8 for Linux
  std::optional<std::string> Comment;
  std::string CommentFile;
  std::string RunAfter;
  PasswordSource Password;
  int Level = 6;
  bool Quiet = false;
  bool Verify = true;
  int Threads = 0;
};

struct ReadCommand {
  std::string Archive;
  PasswordSource Password;
  std::string CodePageName;  // empty: 1252 for a Windows core, UTF-8 otherwise
  bool Quiet = false;
};

enum class ExistingFiles { kRefuse, kOverwrite, kSkip };

struct ExtractCommand {
  ReadCommand Read;
  std::string Folder = ".";
  ExistingFiles Existing = ExistingFiles::kRefuse;
};

Status RunPack(const PackCommand& command);
Status RunList(const ReadCommand& command);
Status RunTest(const ReadCommand& command);
Status RunExtract(const ExtractCommand& command);
