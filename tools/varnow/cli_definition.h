// The command line of varnow, defined once: main.cpp parses with it, and the
// man page generator walks the same options, so the two cannot drift apart.
#pragma once

#include <CLI/CLI.hpp>

#include "commands.h"

inline constexpr const char* kExitCodeText =
    "Exit codes: 0 success, 1 bad usage or refused input, 2 damaged archive or "
    "input/output failure. Errors go to standard error as one line naming the file.";

struct Cli {
  CLI::App App{"varnow: makes, lists, tests and extracts self-extracting distributables", "varnow"};
  PackCommand Pack;
  ReadCommand List;
  ReadCommand Test;
  ExtractCommand Extract;
  bool Overwrite = false;
  bool SkipExisting = false;
  CLI::App* PackApp = nullptr;
  CLI::App* ListApp = nullptr;
  CLI::App* TestApp = nullptr;
  CLI::App* ExtractApp = nullptr;
};

// Adds every command and option to cli.App; the footers hold each
// command's description without the exit codes.
void DefineCli(Cli& cli);
// The paragraph that describes a command ("pack", "list", "test", "extract").
const char* CommandNotes(const std::string& command);
