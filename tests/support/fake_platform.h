// The in-memory platform for tests and fuzzing: a file system of named items,
// a scripted console, injectable faults, and an exit that returns control to
// the caller of RunExpander through longjmp (the core keeps no resources that
// this could leak).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

enum FakeOp : int {
  kOpOpenOwn,
  kOpRead,
  kOpWrite,
  kOpSize,
  kOpPosition,
  kOpClose,
  kOpDelete,
  kOpCreate,
  kOpFind,
  kOpCreateFolder,
  kOpSetTimes,
  kOpReadAt,
  kOpCount
};

enum FaultKind : int { kFaultNone, kFaultFail, kFaultShort };

struct FakeItem {
  bool IsFolder = false;
  std::string LinkTarget;  // when set: a link, which the system follows when a file is created
  std::vector<uint8_t> Data;
  bool TimesSet = false;
  FileTime Creation{}, LastAccess{}, LastWrite{};
};

struct FakeWrite {
  std::string Path;
  int32_t Count;
};

// A call of the console mode services, and where input and output stood.
struct FakeModeCall {
  bool Set;
  uint32_t Mode;  // as read or as set
  size_t OutputAt;
  size_t InputAt;
};

struct FakeSystem {
  std::map<std::string, FakeItem> Items;  // by name exactly as the core passes it
  std::vector<uint8_t> OwnFile;           // the running program's file
  std::string Input;                      // standard input
  size_t InputPosition = 0;
  bool InputIsConsole = false;  // otherwise a file or a pipe
  uint32_t InputMode = 0x1F7;   // a console's usual mode, echo on
  bool ModeSetFails = false;
  std::vector<FakeModeCall> ModeCalls;
  std::string Output;                      // standard output
  std::vector<std::string> ConsoleWrites;  // standard output, one piece per write call
  bool LaunchSucceeds = true;
  std::vector<std::string> Launched;  // texts handed to the default action
  std::vector<FakeWrite> Writes;      // every write to a file other than the own file
  std::vector<std::string> Deleted;
  std::array<int, kOpCount> Calls{};    // calls so far per operation
  std::array<int, kOpCount> FaultAt{};  // fail the n-th call (from 1); 0: never
  std::array<FaultKind, kOpCount> Fault{};
  int64_t DiskLimit = 64 << 20;  // bytes all written files may hold together
  bool DoubleByte = false;       // lead bytes 0x81-0x9F and 0xE0-0xFC take a trail byte
  int OpenFiles = 0;             // handles not yet closed
};

FakeSystem& Fake();
// Empties the fake: no items, no input, no faults.
void ResetFake();
// Makes the n-th call (from 1) of op fail in the given way.
void InjectFault(FakeOp op, int nth, FaultKind kind = kFaultFail);
// Runs the whole expander on the fake and returns its exit code.
int RunExpander();
// Runs body (a part of the core) the same way: an exit or a fatal stop
// inside it returns here with its code. body keeps no objects with destructors.
int RunInsideExit(int (*body)());
// Makes file the fake's own file and input its standard input, then runs the
// expander; the fake is not reset, so items and faults set before stay.
int RunOnFake(const std::vector<uint8_t>& file, const std::string& input = "");
