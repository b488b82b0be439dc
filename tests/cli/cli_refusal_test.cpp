// Every refusal and exit code of varnow as a table: the command (with @
// standing for the sandbox folder), what it exercises, the expected exit
// code and the expected standard error. The sandbox holds good and damaged
// distributables, crafted hostile ones and sources with names a core refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "cli_harness.h"
#include "format/crc16.h"
#include "writer/archive_writer.h"
#include "writer/bit_writer.h"
#include "writer/symbol_coder.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kCore = 20480;

Bytes LinuxCore() { return ReadFile(VARNOW_LINUX_CORE); }

// A core image the reader takes for a Windows one (it starts with MZ).
Bytes WindowsLikeCore() {
  Bytes core(kCore, 0);
  core[0] = 'M';
  core[1] = 'Z';
  for (size_t i = 2; i < core.size(); ++i) core[i] = static_cast<uint8_t>(i * 7);
  return core;
}

// One file entry with the given stored name, made by the encoder with its
// order kept and no name checks of the command line in the way.
Bytes CraftedArchive(const Bytes& core, const std::string& name) {
  static const uint8_t kData[] = "crafted content\n";
  ArchiveEntry e;
  e.Name = name;
  e.Data = std::span<const uint8_t>(kData, sizeof kData - 1);
  PackOptions options;
  options.KeepOrder = true;
  Bytes out;
  PackResult r = WriteArchiveToVector(core, std::span<const ArchiveEntry>(&e, 1), options, out);
  if (!r.Ok) throw std::runtime_error(r.Error);
  return out;
}

void AppendLittle(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A file of FileSize 3 whose data is the literal A and a match of 4 at
// distance 1: the final match runs 2 bytes past the size.
Bytes OvershootArchive() {
  Bytes payload;
  for (char c : std::string("o.txt")) payload.push_back(static_cast<uint8_t>(c));
  payload.push_back(0);
  for (int t = 0; t < 3; ++t) AppendLittle(payload, 0x01D0000000000000ull, 8);
  AppendLittle(payload, 3, 4);  // FileSize
  payload.push_back(0);         // RefBack 0: previous slot, no prefix
  Bytes data;
  BitWriter bits(data);
  SymbolCoder coder(bits);
  coder.PutLiteral('A');
  coder.PutMatch(4, 1);
  bits.Flush();
  payload.insert(payload.end(), data.begin(), data.end());
  Bytes file = LinuxCore();
  AppendLittle(file, kCore + 4 + 3 + payload.size() + 2, 4);  // OriginalSize
  file.push_back(0);                                          // comment
  file.push_back(0);                                          // run-after
  file.push_back(0);                                          // not protected
  file.insert(file.end(), payload.begin(), payload.end());
  uint16_t check = Crc16Of(payload.data(), static_cast<int32_t>(payload.size()));
  file.push_back(static_cast<uint8_t>(check >> 8));
  file.push_back(static_cast<uint8_t>(check));
  return file;
}

struct Row {
  const char* What;               // what the row exercises
  std::vector<std::string> Args;  // @ is replaced by the sandbox folder
  int Exit;
  std::string Err;           // expected in standard error (@ replaced)
  bool Exact = false;        // standard error is exactly Err
  bool OneLine = true;       // standard error is one line
  std::string MustNotExist;  // a path the command must not have made
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.What; }

class CliRefusals : public ::testing::TestWithParam<Row> {
 public:
  static void SetUpTestSuite() {
    box_ = std::make_unique<Sandbox>();
    const Sandbox& b = *box_;
    WriteText(b / "src/a.txt", "alpha\n");
    WriteText(b / "src/sub/b.txt", "beta beta beta\n");
    WriteText(b / "pw.txt", "secret\n");
    WriteText(b / "wrong.txt", "nope\n");
    WriteText(b / "empty.txt", "");
    WriteText(b / "twolines.txt", "one\ntwo\n");
    WriteFile(b / "core.bin", LinuxCore());
    WriteFile(b / "small.bin", Bytes(100, 1));
    WriteFile(b / "odd-core.bin", Bytes(20000, 0));
    fs::create_directories(b / "outs");
    Expect0({"pack", "-q", "--target", "windows", (b / "win.exe").string(), (b / "src").string()});
    Expect0({"pack", "-q", "--target", "linux", (b / "lin").string(), (b / "src").string()});
    Expect0({"pack", "-q", "--password-file", (b / "pw.txt").string(), (b / "prot.exe").string(),
             (b / "src").string()});
    Bytes win = ReadFile(b / "win.exe");
    WriteFile(b / "cut.exe", Bytes(win.begin(), win.end() - 1));
    Bytes grown = win;
    grown.push_back(0);
    WriteFile(b / "grown.exe", grown);
    Bytes flipped = win;
    flipped[kCore + 7 + 5] ^= 0x40;  // a data byte of the first block
    WriteFile(b / "flipped.exe", flipped);
    WriteFile(b / "unsafe.exe", CraftedArchive(LinuxCore(), "..\\evil.txt"));
    WriteFile(b / "absolute.exe", CraftedArchive(LinuxCore(), "\\abs.txt"));
    WriteFile(b / "colon-win.exe", CraftedArchive(WindowsLikeCore(), "c:evil.txt"));
    WriteFile(b / "colon-lin", CraftedArchive(LinuxCore(), "c:fine.txt"));
    WriteFile(b / "dots-win.exe", CraftedArchive(WindowsLikeCore(), "a\\...\\x.txt"));
    WriteFile(b / "overshoot", OvershootArchive());
    // Sources with one hard name each.
    WriteText(b / "names/colon/bad:colon.txt", "x");
    WriteText(b / "names/backslash/back\\slash.txt", "x");
    WriteText(b / "names/star/*star.txt", "x");
    WriteText(b / "names/japanese/\xe6\x97\xa5\xe6\x9c\xac.txt", "x");
    WriteText(b / "names/notutf8/\xff.bin", "x");
    WriteText(b / "names/device/CON.txt", "x");
    WriteText(b / "names/trail/trail.", "x");
    fs::create_directories(b / "names/dangling");
    fs::create_symlink("nowhere", b / "names/dangling/link");
    // Destinations: one with the file already there, one with a link out.
    WriteText(b / "dest-exists/src/a.txt", "old\n");
    fs::create_directories(b / "outside");
    fs::create_directories(b / "dest-link");
    fs::create_symlink(b / "outside", b / "dest-link/src");
  }

  static std::string Expand(const std::string& text) {
    std::string out;
    for (char c : text) {
      if (c == '@') {
        out += box_->Root().string();
      } else {
        out += c;
      }
    }
    return out;
  }

  // Kept, as every sandbox, when a test of the suite failed.
  static void TearDownTestSuite() { box_.reset(); }

 protected:
  static void Expect0(const std::vector<std::string>& args) {
    RunResult r = RunVarnow(args);
    if (r.ExitCode != 0) throw std::runtime_error("setup failed: " + r.Errors);
  }
  static std::unique_ptr<Sandbox> box_;
};

std::unique_ptr<Sandbox> CliRefusals::box_;

TEST_P(CliRefusals, ExitCodeAndMessage) {
  const Row& row = GetParam();
  std::vector<std::string> args;
  for (const std::string& a : row.Args) args.push_back(Expand(a));
  RunResult r = RunVarnow(args);
  SCOPED_TRACE(row.What);
  EXPECT_EQ(r.ExitCode, row.Exit) << r.Errors;
  const std::string err = Expand(row.Err);
  if (row.Exact) {
    EXPECT_EQ(r.Errors, err);
  } else {
    EXPECT_NE(r.Errors.find(err), std::string::npos) << "stderr: " << r.Errors;
  }
  if (row.Exit != 0 && row.OneLine) {
    EXPECT_EQ(std::count(r.Errors.begin(), r.Errors.end(), '\n'), 1) << r.Errors;
  }
  if (!row.MustNotExist.empty()) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(Expand(row.MustNotExist))));
  }
  // A failed pack leaves neither its output nor a temporary file.
  if (row.Args[0] == "pack" && row.Exit != 0) {
    EXPECT_TRUE(fs::is_empty(box_->Root() / "outs"));
  }
}

const std::string kSecret = "--password-file=@/pw.txt";

INSTANTIATE_TEST_SUITE_P(
    Table, CliRefusals,
    ::testing::Values(
        // Usage.
        Row{"no command", {"--quiet"}, 1, "varnow: "},
        Row{"unknown command", {"frobnicate"}, 1, "frobnicate"},
        Row{"pack without sources", {"pack", "@/outs/o"}, 1, "nothing to pack: give SOURCE"},
        Row{"level 0", {"pack", "--level", "0", "@/outs/o", "@/src"}, 1, "--level"},
        Row{"level 10", {"pack", "--level", "10", "@/outs/o", "@/src"}, 1, "--level"},
        Row{"unknown target", {"pack", "--target", "mac", "@/outs/o", "@/src"}, 1, "mac"},
        Row{"target and core",
            {"pack", "--target", "linux", "--core", "@/core.bin", "@/outs/o", "@/src"},
            1,
            "excludes"},
        Row{"comment and comment file",
            {"pack", "--comment", "x", "--comment-file", "@/pw.txt", "@/outs/o", "@/src"},
            1,
            "excludes"},
        Row{"password and password file",
            {"pack", "--password", kSecret, "@/outs/o", "@/src"},
            1,
            "excludes"},
        Row{"overwrite and skip",
            {"extract", "--overwrite", "--skip-existing", "@/win.exe"},
            1,
            "excludes"},
        Row{"list without file", {"list"}, 1, "FILE is required"},
        // Refused input of pack.
        Row{"core of the wrong size",
            {"pack", "--core", "@/odd-core.bin", "@/outs/o", "@/src"},
            1,
            "varnow: @/odd-core.bin: has 20000 bytes; a core has exactly 20480\n",
            true},
        Row{"missing source",
            {"pack", "@/outs/o", "@/nothing"},
            1,
            "varnow: @/nothing: no such file or folder\n",
            true},
        Row{"missing password file",
            {"pack", "--password-file", "@/none.txt", "@/outs/o", "@/src"},
            1,
            "@/none.txt: no such file"},
        Row{"empty password file",
            {"pack", "--password-file", "@/empty.txt", "@/outs/o", "@/src"},
            1,
            "is empty"},
        Row{"two-line password file",
            {"pack", "--password-file", "@/twolines.txt", "@/outs/o", "@/src"},
            1,
            "more than one line"},
        Row{"password needs a terminal",
            {"pack", "--password", "@/outs/o", "@/src"},
            1,
            "needs a terminal"},
        Row{"colon for Windows",
            {"pack", "@/outs/o", "@/names/colon"},
            1,
            "colon/bad:colon.txt: the name holds the character ':'",
            false,
            false},
        Row{"backslash in a name",
            {"pack", "--target", "linux", "@/outs/o", "@/names/backslash"},
            1,
            "folder separator",
            false,
            false},
        Row{"star at the start",
            {"pack", "--target", "linux", "@/outs/o", "@/names/star/"},
            1,
            "starts with '*'",
            false,
            false},
        Row{"not in code page 1252",
            {"pack", "@/outs/o", "@/names/japanese"},
            1,
            "cannot be represented in code page 1252",
            false,
            false},
        Row{"not in code page 1251 either",
            {"pack", "--codepage", "1251", "@/outs/o", "@/names/japanese"},
            1,
            "code page 1251",
            false,
            false},
        Row{"not UTF-8",
            {"pack", "--target", "linux", "@/outs/o", "@/names/notutf8"},
            1,
            "code page UTF-8",
            false,
            false},
        Row{"Windows device name",
            {"pack", "@/outs/o", "@/names/device"},
            1,
            "device name",
            false,
            false},
        Row{"trailing dot for Windows",
            {"pack", "@/outs/o", "@/names/trail"},
            1,
            "ending in a dot",
            false,
            false},
        Row{"unknown code page",
            {"pack", "--codepage", "99999", "@/outs/o", "@/src"},
            1,
            "no such code page"},
        Row{"comment outside the code page",
            {"pack", "--comment", "\xe6\x97\xa5", "@/outs/o", "@/src"},
            1,
            "the comment cannot be represented"},
        Row{"run-after too long",
            {"pack", "--run-after", std::string(32768, 'x'), "@/outs/o", "@/src"},
            1,
            "32768 bytes or more"},
        Row{"output is a folder", {"pack", "@/outs", "@/src"}, 1, "@/outs: is a folder"},
        Row{"only a dangling link",
            {"pack", "@/outs/o", "@/names/dangling/"},
            1,
            "nothing to pack",
            false,
            false},
        Row{"output folder missing",
            {"pack", "@/outs/no/o", "@/src"},
            2,
            "@/outs/no/o: cannot create"},
        // Accepted where the other target refuses.
        Row{"colon for Linux",
            {"pack", "-q", "--target", "linux", "@/colon-out", "@/names/colon"},
            0,
            ""},
        Row{"Japanese in UTF-8",
            {"pack", "-q", "--target", "linux", "@/jp-out", "@/names/japanese"},
            0,
            ""},
        Row{"Japanese in code page 932",
            {"pack", "-q", "--codepage", "932", "@/jp932.exe", "@/names/japanese"},
            0,
            ""},
        // Refused or damaged distributables.
        Row{"list a missing file",
            {"list", "@/missing.exe"},
            1,
            "varnow: @/missing.exe: no such file\n",
            true},
        Row{"list a bare core", {"list", "@/core.bin"}, 1, "bare core program"},
        Row{"list a short file", {"list", "@/small.bin"}, 1, "too short"},
        Row{"list a file cut short", {"list", "@/cut.exe"}, 2, "(cut short)"},
        Row{"test a file with a byte added", {"test", "@/grown.exe"}, 2, "bytes added"},
        Row{"test a flipped byte", {"test", "@/flipped.exe"}, 2, "block 1 fails its check"},
        Row{"extract a flipped byte",
            {"extract", "-C", "@/x-flipped", "@/flipped.exe"},
            2,
            "block 1 fails its check",
            false,
            true,
            "@/x-flipped/src/a.txt"},
        Row{"test protected without password",
            {"test", "@/prot.exe"},
            1,
            "protected; give --password"},
        Row{"test wrong password",
            {"test", "--password-file", "@/wrong.txt", "@/prot.exe"},
            1,
            "varnow: @/prot.exe: wrong password\n",
            true},
        Row{"test right password", {"test", "-q", kSecret, "@/prot.exe"}, 0, ""},
        Row{"extract wrong password",
            {"extract", "--password-file", "@/wrong.txt", "-C", "@/x-wrong", "@/prot.exe"},
            1,
            "wrong password"},
        Row{"test a parent folder name",
            {"test", "@/unsafe.exe"},
            2,
            "unsafe entry name '..\\evil.txt'"},
        Row{"extract a parent folder name",
            {"extract", "-C", "@/x-unsafe", "@/unsafe.exe"},
            2,
            "unsafe",
            false,
            true,
            "@/evil.txt"},
        Row{"extract an absolute name",
            {"extract", "-C", "@/x-abs", "@/absolute.exe"},
            2,
            "unsafe",
            false,
            true,
            "@/x-abs/abs.txt"},
        Row{"extract a colon from a Windows core",
            {"extract", "-C", "@/x-colon", "@/colon-win.exe"},
            2,
            "drive or stream",
            false,
            false,
            "@/x-colon/c:evil.txt"},
        Row{"extract a colon from a Linux core",
            {"extract", "-q", "-C", "@/x-colon-lin", "@/colon-lin"},
            0,
            ""},
        Row{"extract dots from a Windows core",
            {"extract", "-C", "@/x-dots", "@/dots-win.exe"},
            2,
            "drive or stream",
            false,
            false,
            "@/x-dots/a"},
        Row{"test an overshooting match", {"test", "@/overshoot"}, 2, "runs 2 bytes past its size"},
        Row{"extract an overshooting match",
            {"extract", "-C", "@/x-over", "@/overshoot"},
            2,
            "past its size",
            false,
            true,
            "@/x-over/o.txt"},
        // Destinations.
        Row{"extract onto an existing file",
            {"extract", "-C", "@/dest-exists", "@/win.exe"},
            1,
            "@/dest-exists/src/a.txt: already exists; use --overwrite or --skip-existing"},
        Row{"extract keeping existing files",
            {"extract", "-q", "--skip-existing", "-C", "@/dest-exists", "@/win.exe"},
            0,
            ""},
        Row{"extract through a link in the destination",
            {"extract", "-C", "@/dest-link", "@/win.exe"},
            1,
            "@/dest-link/src: is a symbolic link",
            false,
            true,
            "@/outside/a.txt"},
        Row{"extract into a file",
            {"extract", "-C", "@/src/a.txt", "@/win.exe"},
            2,
            "cannot open folder"}),
    [](const ::testing::TestParamInfo<Row>& info) {
      std::string name;
      for (const char* p = info.param.What; *p != 0; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

// What --skip-existing kept and --overwrite replaced, and that a link
// standing where a file goes is replaced, not written through.
TEST(CliExisting, SkipKeepsOverwriteReplacesLinksAreNotFollowed) {
  Sandbox b;
  WriteText(b / "src/a.txt", "new\n");
  ASSERT_EQ(RunVarnow({"pack", "-q", (b / "d.exe").string(), (b / "src").string()}).ExitCode, 0);
  WriteText(b / "x/src/a.txt", "old\n");
  ASSERT_EQ(RunVarnow({"extract", "-q", "--skip-existing", "-C", (b / "x").string(),
                       (b / "d.exe").string()})
                .ExitCode,
            0);
  EXPECT_EQ(ReadFile(b / "x/src/a.txt"), Bytes({'o', 'l', 'd', '\n'}));
  WriteText(b / "victim.txt", "keep\n");
  fs::remove(b / "x/src/a.txt");
  fs::create_symlink(b / "victim.txt", b / "x/src/a.txt");
  ASSERT_EQ(
      RunVarnow({"extract", "-q", "--overwrite", "-C", (b / "x").string(), (b / "d.exe").string()})
          .ExitCode,
      0);
  EXPECT_FALSE(fs::is_symlink(b / "x/src/a.txt"));
  EXPECT_EQ(ReadFile(b / "x/src/a.txt"), Bytes({'n', 'e', 'w', '\n'}));
  EXPECT_EQ(ReadFile(b / "victim.txt"), Bytes({'k', 'e', 'e', 'p', '\n'}));
}

}  // namespace

namespace {

// list shows names and comments with control characters escaped, so an
// archive cannot send terminal sequences; a Windows distributable's code
// page 1252 names come out as UTF-8 on extraction; nothing of the progress
// line appears when standard error is not a terminal.
TEST(CliText, EscapedListingCodePageNamesAndNoProgressOffTerminal) {
  Sandbox b;
  const std::string hostile = "evil\x1b[2J\x07name.txt";
  WriteText(b / "src" / hostile, "x");
  WriteText(b / "src/caf\xc3\xa9.txt", "coffee\n");
  RunResult packed =
      RunVarnow({"pack", "--target", "linux", "--comment", "line1\nline2\x1b]0;t\x07",
                 (b / "lin").string(), (b / "src").string()});
  ASSERT_EQ(packed.ExitCode, 0) << packed.Errors;
  EXPECT_EQ(packed.Errors, "");  // no progress line: standard error is no terminal here
  EXPECT_NE(packed.Output.find("2 files"), std::string::npos) << packed.Output;
  RunResult listed = RunVarnow({"list", (b / "lin").string()});
  ASSERT_EQ(listed.ExitCode, 0) << listed.Errors;
  EXPECT_EQ(listed.Output.find('\x1b'), std::string::npos);
  EXPECT_EQ(listed.Output.find('\x07'), std::string::npos);
  EXPECT_NE(listed.Output.find("src\\evil\\x1B[2J\\x07name.txt"), std::string::npos)
      << listed.Output;
  EXPECT_NE(listed.Output.find("\"line1\\nline2\\x1B]0;t\\x07\""), std::string::npos)
      << listed.Output;

  RunResult win =
      RunVarnow({"pack", "-q", (b / "win.exe").string(), (b / "src/caf\xc3\xa9.txt").string()});
  ASSERT_EQ(win.ExitCode, 0) << win.Errors;
  RunResult winList = RunVarnow({"list", (b / "win.exe").string()});
  EXPECT_NE(winList.Output.find("code page 1252"), std::string::npos) << winList.Output;
  EXPECT_NE(winList.Output.find("caf\xc3\xa9.txt"), std::string::npos) << winList.Output;
  // Stored as the single byte 0xE9 of code page 1252.
  Bytes file = ReadFile(b / "win.exe");
  const Bytes stored = {'c', 'a', 'f', 0xE9, '.', 't', 'x', 't'};
  EXPECT_NE(std::search(file.begin(), file.end(), stored.begin(), stored.end()), file.end());
  RunResult out = RunVarnow({"extract", "-q", "-C", (b / "x").string(), (b / "win.exe").string()});
  ASSERT_EQ(out.ExitCode, 0) << out.Errors;
  EXPECT_EQ(ReadFile(b / "x/caf\xc3\xa9.txt"), Bytes({'c', 'o', 'f', 'f', 'e', 'e', '\n'}));
}

}  // namespace

namespace {

// Damage met while a file is being written: the run stops with exit code 2,
// the partly written file is removed, and the file finished before it stays.
TEST(CliDamage, PartlyWrittenFileIsRemovedEarlierFilesStay) {
  Sandbox b;
  WriteText(b / "src/a.bin", "first\n");
  WriteFile(b / "src/z.bin", test_bytes::Text(200000, 5));
  ASSERT_EQ(
      RunVarnow({"pack", "-q", "--level", "1", (b / "d").string(), (b / "src").string()}).ExitCode,
      0);
  Bytes d = ReadFile(b / "d");
  ASSERT_GT(d.size(), kCore + 3 * 4098u);  // several blocks, so the damage comes late
  d[d.size() - 10] ^= 1;                   // in the last block
  WriteFile(b / "d", d);
  RunResult r = RunVarnow({"extract", "-C", (b / "x").string(), (b / "d").string()});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Errors.find("fails its check"), std::string::npos) << r.Errors;
  EXPECT_NE(r.Errors.find("src\\z.bin"), std::string::npos) << r.Errors;
  EXPECT_EQ(ReadFile(b / "x/src/a.bin"), Bytes({'f', 'i', 'r', 's', 't', '\n'}));
  EXPECT_FALSE(fs::exists(b / "x/src/z.bin"));
}

}  // namespace
