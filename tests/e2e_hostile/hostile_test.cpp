// End-to-end tests of the real Linux core (the sanitized one in sanitized
// builds) on hostile files: a disk that fills up for real (RLIMIT_FSIZE with
// SIGXFSZ ignored), every truncation of a small distributable, and every
// single-bit flip after its core image. Each run has a time limit and its own
// folder inside a sandbox; nothing may appear outside that folder, no
// unfinished file may stay, and the exit code is 0, 1 or 2 (a sanitizer
// report exits with 86, a UBSan trap is a signal).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "archive_builder.h"
#include "process_runner.h"
#include "sandbox.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSanitizerExit = 86;

// Each test's sandbox holds the distributable and the folder run/ the core runs in.
SandboxPlace HostilePlace() { return {.Name = "varnow-hostile-XXXXXX", .WorkFolder = "run"}; }

// Runs file in run/ (made fresh unless keepRun); fileSizeLimit caps the size
// of the files it writes; answers is what the console reads.
RunResult RunCore(const Sandbox& box, const Bytes& file, int64_t fileSizeLimit = -1,
              bool keepRun = false, const std::string& answers = "") {
  if (!keepRun) fs::remove_all(box.Work());
  fs::create_directories(box.Work());
  fs::path program = box / "dist";
  WriteFile(program, file);
  fs::permissions(program, fs::perms::owner_all);
  RunRequest request;
  request.Argv = {program.string()};
  request.Folder = box.Work().string();
  request.Input = answers;
  request.TimeoutMs = 20000;
  request.FileSizeLimit = fileSizeLimit;
  // Nothing that a damaged run-after text could name can be started.
  const std::string exit = "exitcode=" + std::to_string(kSanitizerExit);
  request.Environment = {{"PATH", "/nonexistent"},
                         {"ASAN_OPTIONS", exit + ":detect_leaks=0"},
                         {"UBSAN_OPTIONS", exit}};
  return RunProgram(request);
}

// Files the last run left, named as the archive names them (backslashes).
std::set<std::string> RunFiles(const Sandbox& box) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(box.Work())) {
    if (e.is_symlink() || !e.is_regular_file()) continue;
    std::string name = fs::relative(e.path(), box.Work()).string();
    for (char& c : name) c = c == '/' ? '\\' : c;
    names.insert(name);
  }
  return names;
}

// Nothing but the distributable, the run folder and the folder outside/ that
// tests may place at the top.
bool OnlyOwnItems(const Sandbox& box) {
  for (const std::string& n : box.RootNames())
    if (n != "dist" && n != "run" && n != "outside") return false;
  return true;
}

// A small distributable: a folder, two decoded files, one made of its
// predecessor, one that takes 300 bytes of the core image as its prefix.
Bytes SmallDistributable(const Bytes& core) {
  Bytes payload;
  AppendFolderEntry(payload, "dir\\.");
  FileEntryFields a = AbabEntry("dir\\A.TXT");
  AppendFileEntry(payload, a);
  FileEntryFields b = a;
  b.Name =
      "*\x02"
      "B.TXT";  // dir\B.TXT
  AppendFileEntry(payload, b);
  FileEntryFields c;
  c.Name = "C.TXT";
  c.FileSize = 8;
  c.RefBack = 1;
  c.PrefixLength = 8;
  AppendFileEntry(payload, c);
  FileEntryFields d;
  d.Name = "D.BIN";
  d.FileSize = 300;
  d.RefBack = 4;  // slot 0, the core image
  d.PrefixLength = 300;
  AppendFileEntry(payload, d);
  ArchiveParts parts;
  parts.Core = core;
  parts.Payload = payload;
  return BuildDistributable(parts);
}

void SetOriginalSize(Bytes& file) {
  auto size = static_cast<uint32_t>(file.size());
  for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
}

// The checks every hostile run must pass.
void ExpectClean(const Sandbox& box, const RunResult& r, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_TRUE(r.Started) << Describe(r);
  ASSERT_FALSE(r.TimedOut) << Describe(r);
  ASSERT_EQ(r.Signal, 0) << Describe(r);
  ASSERT_TRUE(r.ExitCode >= 0 && r.ExitCode <= 2) << Describe(r);
  ASSERT_TRUE(OnlyOwnItems(box));
  for (const std::string& name : RunFiles(box)) {
    EXPECT_NE(r.Output.find("expanding : " + name + " ... end."), std::string::npos)
        << "unfinished file left: " << name << "\n"
        << r.Output;
  }
}

class Hostile : public testing::Test {
 protected:
  void SetUp() override {
    core_ = ReadFile(VARNOW_LINUX_CORE_PATH);
    ASSERT_EQ(core_.size(), 20480u) << VARNOW_LINUX_CORE_PATH;
  }
  Bytes core_;
  Sandbox box_{HostilePlace()};
};

TEST_F(Hostile, SmallDistributableExpands) {
  RunResult r = RunCore(box_, SmallDistributable(core_));
  ExpectClean(box_, r, "intact");
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(RunFiles(box_), (std::set<std::string>{"dir\\A.TXT", "dir\\B.TXT", "C.TXT", "D.BIN"}));
}

TEST_F(Hostile, FullDiskStopsWithWriteErrorAndDeletesThePartialFile) {
  // A.TXT (8 bytes) fits; B.BIN is 20000 bytes of the core image in one write.
  Bytes payload;
  AppendFileEntry(payload, AbabEntry("A.TXT"));
  FileEntryFields b;
  b.Name = "B.BIN";
  b.FileSize = 20000;
  b.RefBack = 2;
  b.PrefixLength = 20000;
  AppendFileEntry(payload, b);
  ArchiveParts parts;
  parts.Core = core_;
  parts.Payload = payload;
  RunResult r = RunCore(box_, BuildDistributable(parts), 4096);
  ExpectClean(box_, r, "full disk");
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Output.find("expanding : A.TXT ... end.\n"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("expanding : B.BIN ... File write error.\nPress Enter key.\a\n"),
            std::string::npos)
      << r.Output;
  EXPECT_EQ(RunFiles(box_), std::set<std::string>{"A.TXT"});
}

// Links that someone placed in the destination lead nowhere: the core neither
// makes folders nor writes files through them, even with consent to replace.
TEST_F(Hostile, LinksInTheDestinationAreNotFollowed) {
  struct Row {
    const char* What;
    const char* Link;    // inside run/
    const char* Target;  // inside outside/
    const char* Entry;
    const char* Answers;
    const char* Expected;
  } rows[] = {
      {"a folder link", "dir", "", "dir\\A.TXT", "", "Cannot make folder : dir\a\n"},
      {"a file link, replaced", "A.TXT", "victim.txt", "A.TXT", "Y\n",
       "expanding : A.TXT ... File write error.\nPress Enter key.\a\n"},
      {"a dangling link, replaced", "A.TXT", "new.txt", "A.TXT", "Y\n",
       "expanding : A.TXT ... File write error.\nPress Enter key.\a\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    fs::remove_all(box_.Root() / "run");
    fs::remove_all(box_.Root() / "outside");
    fs::create_directories(box_.Root() / "run");
    fs::create_directories(box_.Root() / "outside");
    WriteText(box_.Root() / "outside/victim.txt", "keep");
    fs::create_symlink(box_.Root() / "outside" / row.Target, box_.Root() / "run" / row.Link);
    Bytes payload;
    AppendFileEntry(payload, AbabEntry(row.Entry));
    ArchiveParts parts;
    parts.Core = core_;
    parts.Payload = payload;
    RunResult r = RunCore(box_, BuildDistributable(parts), -1, true, row.Answers);
    ExpectClean(box_, r, row.What);
    EXPECT_EQ(r.ExitCode, 2) << r.Output;
    EXPECT_NE(r.Output.find(row.Expected), std::string::npos) << r.Output;
    std::set<std::string> outside;
    for (const auto& e : fs::directory_iterator(box_.Root() / "outside"))
      outside.insert(e.path().filename().string());
    EXPECT_EQ(outside, std::set<std::string>{"victim.txt"});
    EXPECT_EQ(ReadText(box_.Root() / "outside/victim.txt"), "keep");
    EXPECT_TRUE(fs::is_symlink(box_.Root() / "run" / row.Link));
  }
}

// Cut at every offset from the core's end: with the stored size kept, the
// size check refuses each (a cut inside OriginalSize is a read error); with
// the size fixed to the cut, the expander meets the end inside every field.
TEST_F(Hostile, EveryTruncationIsRefusedCleanly) {
  const Bytes whole = SmallDistributable(core_);
  int runs = 0;
  for (size_t cut = 20480; cut < whole.size(); ++cut) {
    Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    RunResult r = RunCore(box_, file);
    ExpectClean(box_, r, "cut at " + std::to_string(cut));
    int expected = cut == 20480 ? 1 : cut < 20484 ? 2 : 1;
    EXPECT_EQ(r.ExitCode, expected) << "cut at " << cut << "\n" << r.Output;
    if (cut >= 20484) {
      SetOriginalSize(file);
      r = RunCore(box_, file);
      ExpectClean(box_, r, "cut at " + std::to_string(cut) + ", size fixed");
      EXPECT_EQ(r.ExitCode, 2) << "cut at " << cut << ", size fixed\n" << r.Output;
    }
    ++runs;
    if (HasFatalFailure()) return;
  }
  RecordProperty("cuts", runs);
  EXPECT_GT(runs, 100);
}

// Every single-bit flip after the core image (the core's own bits are part
// of slot 0, which only D.BIN reads). A flip inside the block stream must be
// caught by the block check; a flip in the header may give any clean end.
TEST_F(Hostile, EveryBitFlipEndsCleanly) {
  const Bytes whole = SmallDistributable(core_);
  const size_t streamStart = 20480 + 4 + 1 + 1 + 1;
  int caught = 0;
  for (size_t at = 20480; at < whole.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes file = whole;
      file[at] ^= static_cast<uint8_t>(1 << bit);
      RunResult r = RunCore(box_, file);
      std::string what = "byte " + std::to_string(at) + " bit " + std::to_string(bit);
      ExpectClean(box_, r, what);
      if (HasFatalFailure()) return;
      if (at >= streamStart) {
        EXPECT_EQ(r.ExitCode, 2) << what;
        EXPECT_NE(r.Output.find("This file is broken.\nPress Enter key.\a\n"), std::string::npos)
            << what;
        ++caught;
      }
    }
  }
  RecordProperty("flips", static_cast<int>(8 * (whole.size() - 20480)));
  RecordProperty("caught by the block check", caught);
  EXPECT_GT(caught, 500);
}

}  // namespace
