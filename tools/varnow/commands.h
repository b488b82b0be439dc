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
  bool OutputAfterSeparator = false;  // OUTPUT was given after "--"
  std::vector<std::string> Sources;
  std::vector<std::string> Excludes;  // globs over the stored relative name
  std::string FilesFrom;              // a file of paths ("-": standard input); empty: none
  bool NullSeparated = false;         // FilesFrom separates paths with NUL, not line ends
  bool Force = false;                 // replace an existing OUTPUT
  std::string Target = "windows";
  std::string CoreFile;      // instead of an embedded core
  std::string CodePageName;  // empty: 1252 for Windows, UTF-8 for Linux
  std::optional<std::string> Comment;
  std::string CommentFile;
  std::string RunAfter;
  PasswordSource Password;
  int Level = 6;
  int LevelFlag = 0;        // -1 ... -9 given, 0: none
  bool LevelGiven = false;  // --level given
  bool Quiet = false;
  bool Verify = true;
  int Threads = 0;
};

struct ReadCommand {
  std::vector<std::string> Archives;  // list and test take several
  std::string Archive;                // the one being read
  std::string CoreFile;               // the core the archive was made with, if not embedded
  bool Json = false;                  // list: one JSON document
  PasswordSource Password;
  std::string CodePageName;  // empty: 1252 for a Windows core, UTF-8 otherwise
  bool Quiet = false;
};

enum class ExistingFiles { kRefuse, kOverwrite, kSkip };

struct ExtractCommand {
  ReadCommand Read;
  std::vector<std::string> Names;  // names or globs of the entries to write; empty: all
  std::string Folder = ".";
  ExistingFiles Existing = ExistingFiles::kRefuse;
  bool ToStdout = false;  // the chosen files' contents to standard output
};

Status RunPack(const PackCommand& command);
Status RunList(const ReadCommand& command);
Status RunTest(const ReadCommand& command);
Status RunExtract(const ExtractCommand& command);
