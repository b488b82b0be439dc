// End-to-end tests of the real Linux core (the sanitized one in sanitized
// builds) on hostile files: a disk that fills up for real (RLIMIT_FSIZE with
// SIGXFSZ ignored), every truncation of a small distributable, and every
// single-bit flip after its core image. Each run has a time limit and its own
// folder inside a sandbox; nothing may appear outside that folder, no
// unfinished file may stay, and the exit code is 0, 1 or 2 (a sanitizer
// report exits with 86, a UBSan trap is a signal).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "archive_builder.h"

namespace {

namespace fs = std::filesystem;

const Bytes kAbab = {0xAE, 0x5D, 0xAC, 0xB3, 0x0A};  // ABABABAB, no dictionary, FileSize 8
constexpr int kSanitizerExit = 86;

Bytes CoreBytes() {
  std::ifstream in(VARNOW_LINUX_CORE_PATH, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct RunResult {
  int ExitCode = -1;  // -1 when the run did not exit normally
  int Signal = 0;
  bool TimedOut = false;
  std::string Output;
};

// A sandbox folder holding the distributable and the folder the core runs in.
class Sandbox {
 public:
  Sandbox() {
    char pattern[] = "/tmp/varnow-hostile-XXXXXX";
    root_ = mkdtemp(pattern);
  }
  ~Sandbox() { fs::remove_all(root_); }
  const fs::path& Root() const { return root_; }

  // Runs file in run/ (made fresh unless keepRun); limit caps the size of
  // the files it writes; answers is what the console reads.
  RunResult Run(const Bytes& file, rlim_t fileSizeLimit = RLIM_INFINITY, bool keepRun = false,
                const std::string& answers = "") {
    if (!keepRun) fs::remove_all(root_ / "run");
    fs::create_directories(root_ / "run");
    fs::path program = root_ / "dist";
    fs::path output = root_ / "out.txt";
    fs::path input = root_ / "in.txt";
    std::ofstream(input, std::ios::binary) << answers;
    std::ofstream(program, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    fs::permissions(program, fs::perms::owner_all);
    pid_t pid = fork();
    if (pid == 0) {
      int in = open(input.c_str(), O_RDONLY);
      int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      if (chdir((root_ / "run").c_str()) != 0) _exit(120);
      struct rlimit limit = {fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);
      // Nothing that a damaged run-after text could name can be started.
      setenv("PATH", "/nonexistent", 1);
      setenv("ASAN_OPTIONS", "exitcode=86:detect_leaks=0", 1);
      setenv("UBSAN_OPTIONS", "exitcode=86", 1);
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      _exit(121);
    }
    RunResult r;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        r.TimedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(status)) r.ExitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) r.Signal = WTERMSIG(status);
    std::ifstream in(output, std::ios::binary);
    r.Output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
  }

  // Files the last run left, named as the archive names them (backslashes).
  std::set<std::string> RunFiles() const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root_ / "run")) {
      if (e.is_symlink() || !e.is_regular_file()) continue;
      std::string name = fs::relative(e.path(), root_ / "run").string();
      for (char& c : name) c = c == '/' ? '\\' : c;
      names.insert(name);
    }
    return names;
  }

  // Nothing but the distributable, its input and output, the run folder and
  // the folder outside/ that tests may place at the top.
  bool OnlyOwnItems() const {
    for (const auto& e : fs::directory_iterator(root_)) {
      std::string n = e.path().filename().string();
      if (n != "dist" && n != "in.txt" && n != "out.txt" && n != "run" && n != "outside")
        return false;
    }
    return true;
  }

 private:
  fs::path root_;
};

// A small distributable: a folder, two decoded files, one made of its
// predecessor, one that takes 300 bytes of the core image as its prefix.
Bytes SmallDistributable(const Bytes& core) {
  Bytes payload;
  AppendFolderEntry(payload, "dir\\.");
  FileEntryFields a;
  a.Name = "dir\\A.TXT";
  a.FileSize = 8;
  a.Data = kAbab;
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
  ASSERT_FALSE(r.TimedOut) << r.Output;
  ASSERT_EQ(r.Signal, 0) << r.Output;
  ASSERT_TRUE(r.ExitCode >= 0 && r.ExitCode <= 2) << "exit " << r.ExitCode << "\n" << r.Output;
  ASSERT_TRUE(box.OnlyOwnItems());
  for (const std::string& name : box.RunFiles()) {
    EXPECT_NE(r.Output.find("expanding : " + name + " ... end."), std::string::npos)
        << "unfinished file left: " << name << "\n"
        << r.Output;
  }
}

class Hostile : public testing::Test {
 protected:
  void SetUp() override {
    core_ = CoreBytes();
    ASSERT_EQ(core_.size(), 20480u) << VARNOW_LINUX_CORE_PATH;
  }
  Bytes core_;
  Sandbox box_;
};

TEST_F(Hostile, SmallDistributableExpands) {
  RunResult r = box_.Run(SmallDistributable(core_));
  ExpectClean(box_, r, "intact");
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(box_.RunFiles(), (std::set<std::string>{"dir\\A.TXT", "dir\\B.TXT", "C.TXT", "D.BIN"}));
}

TEST_F(Hostile, FullDiskStopsWithWriteErrorAndDeletesThePartialFile) {
  // A.TXT (8 bytes) fits; B.BIN is 20000 bytes of the core image in one write.
  Bytes payload;
  FileEntryFields a;
  a.Name = "A.TXT";
  a.FileSize = 8;
  a.Data = kAbab;
  AppendFileEntry(payload, a);
  FileEntryFields b;
  b.Name = "B.BIN";
  b.FileSize = 20000;
  b.RefBack = 2;
  b.PrefixLength = 20000;
  AppendFileEntry(payload, b);
  ArchiveParts parts;
  parts.Core = core_;
  parts.Payload = payload;
  RunResult r = box_.Run(BuildDistributable(parts), 4096);
  ExpectClean(box_, r, "full disk");
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Output.find("expanding : A.TXT ... end.\n"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("expanding : B.BIN ... File write error.\nPress Enter key.\a\n"),
            std::string::npos)
      << r.Output;
  EXPECT_EQ(box_.RunFiles(), std::set<std::string>{"A.TXT"});
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
    std::ofstream(box_.Root() / "outside/victim.txt") << "keep";
    fs::create_symlink(box_.Root() / "outside" / row.Target, box_.Root() / "run" / row.Link);
    Bytes payload;
    FileEntryFields a;
    a.Name = row.Entry;
    a.FileSize = 8;
    a.Data = kAbab;
    AppendFileEntry(payload, a);
    ArchiveParts parts;
    parts.Core = core_;
    parts.Payload = payload;
    RunResult r = box_.Run(BuildDistributable(parts), RLIM_INFINITY, true, row.Answers);
    ExpectClean(box_, r, row.What);
    EXPECT_EQ(r.ExitCode, 2) << r.Output;
    EXPECT_NE(r.Output.find(row.Expected), std::string::npos) << r.Output;
    std::set<std::string> outside;
    for (const auto& e : fs::directory_iterator(box_.Root() / "outside"))
      outside.insert(e.path().filename().string());
    EXPECT_EQ(outside, std::set<std::string>{"victim.txt"});
    std::ifstream victim(box_.Root() / "outside/victim.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "keep");
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
    RunResult r = box_.Run(file);
    ExpectClean(box_, r, "cut at " + std::to_string(cut));
    int expected = cut == 20480 ? 1 : cut < 20484 ? 2 : 1;
    EXPECT_EQ(r.ExitCode, expected) << "cut at " << cut << "\n" << r.Output;
    if (cut >= 20484) {
      SetOriginalSize(file);
      r = box_.Run(file);
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
      RunResult r = box_.Run(file);
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
