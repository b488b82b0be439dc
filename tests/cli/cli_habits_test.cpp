// The habits users bring from other archivers, as a table: each case is a
// few commands run in a fresh sandbox (@ stands for it, %V for the version),
// each with the expected exit code, texts expected in standard output or
// error, texts in neither, and paths that must or must not exist after it.
// Covers --version, pack's selection, name report, long Windows paths,
// SOURCE_DATE_EPOCH and --force, list --json, several FILEs, the core's
// identity, files that are not distributables, extract's selection, and
// signed Windows distributables (signed here by hand as a signing tool does).
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "cli_harness.h"
#include "format/signed_core.h"
#include "writer/archive_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kCore = 20480;

struct Step {
  std::vector<std::string> Args;
  int Exit = 0;
  std::vector<std::string> Out;          // each expected in standard output
  std::string Err;                       // expected in standard error
  std::vector<std::string> Lacks = {};   // in neither stream
  std::vector<std::string> Exists = {};  // paths made
  std::vector<std::string> Absent = {};  // paths not made
  std::string Stdin = "";
  std::string Env = "";                                        // NAME=value for this command
  bool OutExact = false;                                       // standard output is exactly Out[0]
  std::vector<std::pair<std::string, std::string>> Same = {};  // files with equal bytes
  std::vector<std::string> Empty = {};  // folders left empty (no output, no temporary file)
};

struct Case {
  const char* What;
  std::vector<Step> Steps;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.What; }

Bytes Cut(const Bytes& b, size_t from, size_t to) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

void PutSize(Bytes& file, uint32_t size) {
  for (int i = 0; i < 4; ++i) file[kCore + i] = static_cast<uint8_t>(size >> (8 * i));
}

void Put32(Bytes& file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + size_t(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// What signing does to a Windows distributable: zero bytes up to a multiple
// of 8, a certificate table of tableBytes, its offset and size in the core's
// certificate-table entry, and a new CheckSum.
Bytes SignedCopy(Bytes file, uint32_t tableBytes) {
  const SignedFields f = FindSignedFields(file.data());
  if (f.CheckSum == 0) throw std::runtime_error("setup failed: no PE core to sign");
  while (file.size() % 8 != 0) file.push_back(0);
  Put32(file, size_t(f.CertificateEntry), static_cast<uint32_t>(file.size()));
  Put32(file, size_t(f.CertificateEntry) + 4, tableBytes);
  Put32(file, size_t(f.CheckSum), 0x00C0FFEE);
  const Bytes table = test_bytes::Random(tableBytes, 5);
  file.insert(file.end(), table.begin(), table.end());
  return file;
}

// An archive whose only file is the core itself, packed the way a varnow
// without fences did (the writer is shown a core whose headers it cannot
// find), then given the real core back and signed: its file draws on the
// header fields that signing rewrote.
Bytes OldArchiveSigned(const Bytes& core) {
  Bytes hidden = core;
  hidden[0] = 'N';
  ArchiveEntry e;
  e.Name = "core.bin";
  e.Data = hidden;
  PackOptions options;
  options.Level = 9;
  Bytes file;
  PackResult r = WriteArchiveToVector(hidden, std::span(&e, 1), options, file);
  if (!r.Ok) throw std::runtime_error("setup failed: " + r.Error);
  file[0] = 'M';
  return SignedCopy(file, 1024);
}

// Sources, distributables and files that only look like them.
void MakeSandbox(const Sandbox& b) {
  WriteText(b / "src/a.txt", "alpha\n");
  WriteText(b / "src/sub/b.txt", "beta beta beta\n");
  WriteText(b / "src/sub/c.o", "object\n");
  WriteText(b / "src/build/d.txt", "built\n");
  Bytes shared = test_bytes::Text(6000, 3);
  WriteFile(b / "src/similar/one.log", shared);
  shared.insert(shared.end(), {'t', 'w', 'o', '\n'});
  WriteFile(b / "src/similar/two.log", shared);  // drawn from one.log by the history
  WriteText(b / "old/old.txt", "old\n");
  SetTimes(b / "old/old.txt", 631152000, 0);  // 1990-01-01
  WriteText(b / "names/bad:colon.txt", "x");
  WriteText(b / "names/CON.txt", "x");
  WriteText(b / "names/trail.", "x");
  WriteText(b / "names/fine.txt", "x");
  WriteText(b / "long" / std::string(120, 'd') / (std::string(70, 'f') + ".txt"), "x");
  WriteText(b / "list.txt", "src/a.txt\n./src/sub\nsrc/sub/b.txt\n");
  WriteText(b / "outside.txt", "/etc/hostname\n../x\nsrc/a.txt\n");
  WriteText(b / "zeros.list", std::string("src/a.txt\0src/sub/b.txt\0", 24));
  // A file for the seam that changes it while it is read, and a folder for
  // outputs that must not appear.
  WriteFile(b / "changing/big.bin", test_bytes::Text(2000000, 5));
  fs::create_directories(b / "outs");
  auto pack = [&](std::vector<std::string> args) {
    RunResult r = RunVarnow(args, "", b.Root());
    if (r.ExitCode != 0)
      throw std::runtime_error("setup failed: exit " + std::to_string(r.ExitCode) +
                               (r.Signalled ? ", signal " + std::to_string(r.Signal) : "") +
                               (r.Started ? "" : ", not started") + ": " + r.Errors + r.Output);
  };
  pack({"pack", "-q", "win.exe", "src"});
  pack({"pack", "-q", "--target", "linux", "lin", "src"});
  const Bytes win = ReadFile(b / "win.exe");
  Bytes altered = win;
  altered[1000] ^= 0x20;
  WriteFile(b / "altered.exe", altered);
  WriteFile(b / "altered-core.bin", Cut(altered, 0, kCore));
  WriteFile(b / "linux-core.bin", Cut(ReadFile(b / "lin"), 0, kCore));
  WriteFile(b / "cut.exe", Cut(win, 0, win.size() - 5));
  // A known core whose comment runs to the end of the file.
  Bytes open = Cut(win, 0, kCore + 4);
  for (int i = 0; i < 40; ++i) open.push_back('c');
  PutSize(open, static_cast<uint32_t>(open.size()));
  WriteFile(b / "open-comment.exe", open);
  // The same three after bytes that are no core.
  Bytes noise = test_bytes::Text(kCore, 77);
  Bytes garbage = noise;
  for (int i = 0; i < 3000; ++i) garbage.push_back(static_cast<uint8_t>(i * 31));
  WriteFile(b / "garbage.bin", garbage);
  Bytes negative = garbage;
  PutSize(negative, 0xFFFFFFFFu);
  WriteFile(b / "negative.bin", negative);
  Bytes noiseOpen = noise;
  noiseOpen.insert(noiseOpen.end(), open.begin() + kCore, open.end());
  WriteFile(b / "noise-open.bin", noiseOpen);
  // Signed, and three files whose excess is no certificate table.
  const Bytes signedWin = SignedCopy(win, 1200);
  WriteFile(b / "signed.exe", signedWin);
  Bytes plus1 = signedWin;
  plus1.push_back(0);
  WriteFile(b / "signed-plus1.exe", plus1);
  Bytes elsewhere = signedWin;
  const SignedFields f = FindSignedFields(win.data());
  Put32(elsewhere, size_t(f.CertificateEntry), static_cast<uint32_t>(signedWin.size() - 1200 + 8));
  Put32(elsewhere, size_t(f.CertificateEntry) + 4, 1200 - 8);
  WriteFile(b / "signed-elsewhere.exe", elsewhere);
  // Only the CheckSum stamped (not signed): still the known core.
  Bytes stamped = win;
  Put32(stamped, size_t(f.CheckSum), 0x00012345);
  WriteFile(b / "stamped.exe", stamped);
  WriteFile(b / "old-signed.exe", OldArchiveSigned(Cut(win, 0, kCore)));
}

class CliHabits : public ::testing::TestWithParam<Case> {};

std::string Expand(const std::string& text, const Sandbox& b) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '@') {
      out += b.Root().string();
    } else if (text.compare(i, 2, "%V") == 0) {
      out += VARNOW_VERSION;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

TEST_P(CliHabits, Steps) {
  Sandbox b;
  MakeSandbox(b);
  int n = 0;
  for (const Step& step : GetParam().Steps) {
    SCOPED_TRACE("step " + std::to_string(++n));
    std::vector<std::string> args;
    for (const std::string& a : step.Args) args.push_back(Expand(a, b));
    RunResult r = RunVarnow(args, step.Stdin, b.Root(), step.Env);
    // An end by a signal counts as 128 + the signal, as a shell shows it.
    // Windows has no signals: varnow.exe ends as Ctrl-C ends a program
    // (0xC000013A), of which its Linux parent sees the low byte.
    const int exit = IsWindowsTool() && step.Exit == 128 + 15 ? 0x3A : step.Exit;
    EXPECT_EQ(r.Signalled ? 128 + r.Signal : r.ExitCode, exit) << r.Errors;
    for (const std::string& out : step.Out) {
      if (step.OutExact) {
        EXPECT_EQ(r.Output, Expand(out, b));
      } else {
        EXPECT_NE(r.Output.find(Expand(out, b)), std::string::npos) << "stdout: " << r.Output;
      }
    }
    EXPECT_NE(r.Errors.find(Expand(step.Err, b)), std::string::npos) << "stderr: " << r.Errors;
    for (const std::string& lacks : step.Lacks) {
      EXPECT_EQ(r.Output.find(Expand(lacks, b)), std::string::npos) << "stdout: " << r.Output;
      EXPECT_EQ(r.Errors.find(Expand(lacks, b)), std::string::npos) << "stderr: " << r.Errors;
    }
    for (const std::string& p : step.Exists) EXPECT_TRUE(fs::exists(Expand(p, b))) << p;
    for (const std::string& p : step.Absent) EXPECT_FALSE(fs::exists(Expand(p, b))) << p;
    for (const auto& [x, y] : step.Same)
      EXPECT_TRUE(ReadFile(Expand(x, b)) == ReadFile(Expand(y, b))) << x << " and " << y;
    for (const std::string& f : step.Empty)
      EXPECT_TRUE(fs::is_empty(Expand(f, b)))
          << f << " holds " << fs::directory_iterator(Expand(f, b))->path();
  }
}

const std::string kCoreLine = "core:      ";
const std::string kNotOurs = "is none this varnow carries";

INSTANTIATE_TEST_SUITE_P(
    Table, CliHabits,
    ::testing::Values(
        // --version.
        Case{"version",
             {{{"--version"},
               0,
               {"varnow %V\nWindows core: varnow-sfx.exe, Varnow Expander 32 Ver. ",
                ", built with varnow %V (20480 bytes, CRC-32 ",
                "\nLinux core:   varnow-sfx, Varnow Expander 32 Ver. "}}}},
        Case{"short version", {{{"-V"}, 0, {"varnow %V\n"}}}},
        // pack: selection.
        Case{"exclude globs and folders",
             {{{"pack", "-q", "--exclude", "*.o", "--exclude", "build", "o.exe", "src"}},
              {{"list", "o.exe"}, 0, {"src\\a.txt", "src\\sub\\b.txt"}, "", {"c.o", "build"}}}},
        Case{"exclude a tail with a folder",
             {{{"pack", "-q", "--exclude", "sub/*.txt", "o.exe", "src"}},
              {{"list", "o.exe"}, 0, {"src\\a.txt", "src\\sub\\c.o"}, "", {"b.txt"}}}},
        Case{"files from a list, a path named twice stored once",
             {{{"pack", "-q", "--files-from", "list.txt", "o.exe"}},
              {{"list", "o.exe"},
               0,
               {"src\\a.txt", "src\\sub\\b.txt", "src\\sub\\c.o", "3 files, 0 folders"},
               "",
               {"similar"}}}},
        Case{"files from standard input, NUL separated",
             {{{"pack", "-q", "--files-from", "-", "--null", "o.exe"},
               0,
               {},
               "",
               {},
               {"@/o.exe"},
               {},
               std::string("src/a.txt\0src/sub/b.txt\0", 24)},
              {{"list", "o.exe"}, 0, {"2 files, 0 folders"}}}},
        Case{"files from a NUL list without --null",
             {{{"pack", "--files-from", "zeros.list", "o.exe"},
               1,
               {},
               "give --null",
               {},
               {},
               {"@/o.exe"}}}},
        Case{"--null without --files-from",
             {{{"pack", "--null", "o.exe", "src"}, 1, {}, "give --files-from FILE"}}},
        Case{"files from a list with absolute and climbing paths",
             {{{"pack", "--files-from", "outside.txt", "o.exe"},
               1,
               {},
               "list paths below the current folder: /etc/hostname, ../x",
               {},
               {},
               {"@/o.exe"}}}},
        // pack: names, long paths, times, replacing.
        Case{"every bad name in one run",
             {{{"pack", "o.exe", "names"},
               1,
               {},
               "3 names cannot be stored for the Windows target; nothing was written",
               {"fine.txt"},
               {},
               {"@/o.exe"}},
              {{"pack", "o.exe", "names"},
               1,
               {},
               "names/bad:colon.txt: the name holds the character ':'"},
              {{"pack", "o.exe", "names"}, 1, {}, "names/CON.txt: the name holds a device name"},
              {{"pack", "o.exe", "names"},
               1,
               {},
               "names/trail.: the name holds a name part ending"}}},
        Case{"long path warned for Windows only",
             {{{"pack", "-q", "w.exe", "long"},
               0,
               {},
               "has 200 characters; expanded in a folder whose path has more than 58, its full "
               "path passes the 260 characters"},
              {{"pack", "-q", "--target", "linux", "l", "long"}, 0, {}, "", {"260"}}}},
        Case{"SOURCE_DATE_EPOCH clamps later times, keeps earlier ones",
             {{{"pack", "-q", "--target", "linux", "o", "src", "old"},
               0,
               {},
               "",
               {},
               {},
               {},
               "",
               "SOURCE_DATE_EPOCH=1000000000"},
              {{"list", "--json", "o"},
               0,
               {"\"name\": \"src/a.txt\", \"size\": 6", "\"last_write\": \"2001-09-09T01:46:40Z\"}",
                "\"created\": \"2001-09-09T01:46:40Z\"",
                "\"last_write\": \"1990-01-01T00:00:00Z\"}"}}}},
        Case{"SOURCE_DATE_EPOCH that is no number",
             {{{"pack", "o", "src"},
               1,
               {},
               "SOURCE_DATE_EPOCH=yesterday: not a number",
               {},
               {},
               {"@/o"},
               "",
               "SOURCE_DATE_EPOCH=yesterday"}}},
        Case{"existing output replaced only with --force",
             {{{"pack", "win.exe", "old"},
               1,
               {},
               "win.exe: already exists; use -f/--force to replace it"},
              {{"list", "win.exe"}, 0, {"src\\a.txt"}},
              {{"pack", "-q", "-f", "win.exe", "old"}},
              {{"list", "win.exe"}, 0, {"old\\old.txt"}, "", {"src\\a.txt"}}}},
        // One way to state the ratio.
        Case{"ratio in pack and list",
             {{{"pack", "--target", "linux", "o", "src/a.txt"},
               0,
               {"o: 1 files, 0 empty folders: 6 bytes packed into ",
                "plus the 20480-byte core, verified"}},
              {{"list", "o"},
               0,
               {"1 files, 0 folders: 6 bytes packed into ", "plus the 20480-byte core\n"}}}},
        // list: core, JSON, several files.
        Case{"list names the core",
             {{{"list", "win.exe"}, 0, {kCoreLine + "Windows core of varnow %V\n"}},
              {{"list", "lin"}, 0, {kCoreLine + "Linux core of varnow %V\n"}},
              {{"list", "altered.exe"},
               0,
               {kCoreLine +
                "unknown: no core this varnow carries, though it starts as a Windows program"}}}},
        Case{"list as JSON",
             {{{"list", "--json", "win.exe"},
               0,
               {"{\"path\": \"win.exe\", \"file_bytes\": ",
                "\"core\": {\"platform\": \"windows\", \"known\": true, \"name\": \"Windows core "
                "of varnow %V\"}",
                "\"code_page\": \"1252\", \"comment\": \"\", \"run_after\": \"\", \"protected\": "
                "false",
                "{\"kind\": \"file\", \"stored_name\": \"src\\\\a.txt\", \"name\": \"src/a.txt\", "
                "\"size\": 6, \"packed\": ",
                "\"files\": 6, \"folders\": 0, \"input_bytes\": "}}}},
        Case{"list several, one not a distributable",
             {{{"list", "win.exe", "garbage.bin", "lin"},
               1,
               {"archive:   win.exe\n", "\narchive:   lin\n"},
               "garbage.bin: not a distributable"}}},
        Case{"list several as one JSON array",
             {{{"list", "--json", "lin", "garbage.bin"},
               1,
               {"[{\"path\": \"lin\"",
                ",\n{\"path\": \"garbage.bin\", \"error\": \"garbage.bin: not a distributable"}}}},
        // test: the core's identity, several files.
        Case{"test names the core",
             {{{"test", "win.exe", "lin"},
               0,
               {"win.exe: sound: 6 files", "checks out; Windows core of varnow %V\n",
                "lin: sound: 6 files", "checks out; Linux core of varnow %V\n"}}}},
        Case{"test an altered core",
             {{{"test", "altered.exe"},
               2,
               {},
               "altered.exe: the archive decodes, but its core " + kNotOurs}}},
        Case{"test an altered core against the core it was made with",
             {{{"test", "--core", "altered-core.bin", "altered.exe"},
               0,
               {"checks out; the core given by --core altered-core.bin\n"}},
              {{"test", "--core", "linux-core.bin", "altered.exe"}, 2, {}, kNotOurs}}},
        Case{"test several, worst exit code",
             {{{"test", "win.exe", "cut.exe", "lin"},
               2,
               {"win.exe: sound", "lin: sound"},
               "cut.exe: damaged"}}},
        // Not a distributable, damaged.
        Case{
            "not a distributable",
            {{{"list", "garbage.bin"},
              1,
              {},
              "garbage.bin: not a distributable: it starts with no core this varnow knows, and its "
              "size field records "},
             {{"test", "garbage.bin"}, 1, {}, "not a distributable"},
             {{"extract", "-C", "x", "garbage.bin"},
              1,
              {},
              "not a distributable",
              {},
              {},
              {"@/x"}}}},
        Case{"negative size field, no core",
             {{{"test", "negative.bin"},
               1,
               {},
               "not a distributable: it starts with no core this varnow knows, and its size field "
               "records -1 bytes"}}},
        Case{"texts run off the end, no core",
             {{{"list", "noise-open.bin"},
               1,
               {},
               "not a distributable: it starts with no core this varnow knows, and the archive "
               "header is cut short"}}},
        Case{"known core, cut",
             {{{"list", "cut.exe"}, 2, {}, "cut.exe: damaged: the file has "},
              {{"extract", "cut.exe"}, 2, {}, "(cut short)"}}},
        Case{"known core, texts run off the end",
             {{{"test", "open-comment.exe"},
               2,
               {},
               "open-comment.exe: damaged: the archive header is cut short"}}},
        // extract: selection and standard output.
        Case{"extract by glob",
             {{{"extract", "-q", "-C", "x", "win.exe", "src/sub/*", "*.log"},
               0,
               {},
               "",
               {},
               {"@/x/src/sub/b.txt", "@/x/src/similar/two.log"},
               {"@/x/src/a.txt", "@/x/src/build"}}}},
        Case{"extract a folder by its name",
             {{{"extract", "-C", "x", "lin", "src/build"},
               0,
               {"1 files (6 bytes) and 0 folders extracted"},
               "",
               {},
               {"@/x/src/build/d.txt"},
               {"@/x/src/a.txt"}}}},
        Case{"extract a name that matches nothing",
             {{{"extract", "-C", "x", "win.exe", "src/a.txt", "nope*", "docs"},
               1,
               {},
               "win.exe: no entry matches 'nope*', 'docs'",
               {},
               {"@/x/src/a.txt"}}}},
        Case{"extract a name written with backslashes",
             {{{"extract", "-C", "x", "win.exe", "src\\a.txt"},
               1,
               {},
               "no entry matches 'src\\a.txt' (write '/' between folders)",
               {},
               {},
               {"@/x/src/a.txt"}}}},
        Case{"extract to standard output",
             {{{"extract", "-O", "win.exe", "src/a.txt"},
               0,
               {"alpha\n"},
               "",
               {},
               {},
               {},
               "",
               "",
               true},
              {{"extract", "--stdout", "lin", "src/sub/b.txt", "src/a.txt"},
               0,
               {"alpha\nbeta beta beta\n"},
               "",
               {},
               {},
               {},
               "",
               "",
               true}}},
        Case{"signed: list, test and extract read it",
             {{{"list", "signed.exe"},
               0,
               {kCoreLine + "Windows core of varnow %V\n",
                "protected: no\nsigned:    certificate table of 1200 bytes (not verified here)\n",
                "src\\a.txt"}},
              {{"list", "--json", "signed.exe"},
               0,
               {"\"signed\": \"certificate table of 1200 bytes (not verified here)\", "
                "\"certificate_table_bytes\": 1200"}},
              {{"list", "--json", "win.exe"},
               0,
               {"\"signed\": null, \"certificate_table_bytes\": 0"}},
              {{"list", "win.exe"}, 0, {}, "", {"signed:"}},
              {{"test", "signed.exe"},
               0,
               {"signed.exe: sound: 6 files",
                "signed.exe: signed: certificate table of 1200 bytes (not verified here)\n"}},
              {{"extract", "-C", "x", "signed.exe"}, 0, {}, "", {}, {"@/x/src/a.txt"}},
              {{"test", "stamped.exe"}, 0, {"stamped.exe: sound: 6 files"}, "", {"signed:"}}}},
        Case{"signed: any other excess reported as before",
             {{{"test", "signed-plus1.exe"}, 2, {}, "(bytes added)"},
              {{"test", "signed-elsewhere.exe"}, 2, {}, "(bytes added)"},
              {{"list", "signed-elsewhere.exe"}, 2, {}, "(bytes added)"}}},
        Case{"signed after packing by a writer that drew on the header fields",
             {{{"test", "old-signed.exe"},
               2,
               {},
               "old-signed.exe: signed after packing, and its files draw on the core's header "
               "fields that signing rewrote"}}},
        Case{"extract to standard output and a folder",
             {{{"extract", "-O", "-C", "x", "lin"}, 1, {}, "excludes"}}},
        // pack: zip's and gzip's habits.
        Case{"-1 to -9 are levels",
             {{.Args = {"pack", "-q", "-9", "--target", "linux", "a9", "src"}, .Exists = {"@/a9"}},
              {.Args = {"pack", "-q", "--level", "9", "--target", "linux", "b9", "src"},
               .Same = {{"@/a9", "@/b9"}}},
              {.Args = {"pack", "-q", "--target", "linux", "a1", "src", "-1"}, .Same = {}},
              {.Args = {"pack", "-q", "--level", "1", "--target", "linux", "b1", "src"},
               .Same = {{"@/a1", "@/b1"}}}}},
        Case{"-N and --level together",
             {{.Args = {"pack", "-9", "--level", "3", "o.exe", "src"},
               .Exit = 1,
               .Err = "-9 and --level both give the level",
               .Absent = {"@/o.exe"}}}},
        Case{"OUTPUT - is refused",
             {{.Args = {"pack", "-", "src"},
               .Exit = 1,
               .Err = "OUTPUT - begins with '-': varnow does not write to standard output",
               .Absent = {"@/-"}}}},
        Case{"OUTPUT beginning with - is refused unless after --",
             {{.Args = {"pack", "-q", "-x.exe", "src"}, .Exit = 1, .Absent = {"@/-x.exe"}},
              {.Args = {"pack", "-q", "--", "-x.exe", "src"}, .Exists = {"@/-x.exe"}},
              {.Args = {"list", "--", "-x.exe"}, .Out = {"src\\a.txt"}}}},
        Case{
            "--password-file - reads standard input",
            {{.Args = {"pack", "-q", "--password-file", "-", "--target", "linux", "p", "src"},
              .Exists = {"@/p"},
              .Stdin = "secret\n"},
             {.Args = {"test", "--password-file", "-", "p"}, .Out = {"sound"}, .Stdin = "secret\n"},
             {.Args = {"test", "--password-file", "-", "p"}, .Exit = 1, .Stdin = "wrong\n"},
             {.Args = {"pack", "-q", "--password-file", "-", "--target", "linux", "q", "src"},
              .Exit = 1,
              .Err = "--password-file -: the password file holds more than one line",
              .Absent = {"@/q"},
              .Stdin = "one\ntwo\n"}}},
        Case{"--password-file - and --files-from - together",
             {{.Args = {"pack", "--password-file", "-", "--files-from", "-", "o.exe"},
               .Exit = 1,
               .Err = "cannot both read standard input",
               .Absent = {"@/o.exe"},
               .Stdin = "secret\n"}}},
        Case{
            "an output name that does not suit the target",
            {{.Args = {"pack", "-q", "--target", "linux", "x.exe", "src"},
              .Err = "warning: x.exe: a .exe name for a Linux distributable"},
             {.Args = {"pack", "-q", "w.run", "src"},
              .Err = "warning: w.run: a Windows distributable named .run"},
             {.Args = {"pack", "-q", "w.sh", "src"},
              .Err = "warning: w.sh: a Windows distributable named .sh"},
             {.Args = {"pack", "-q", "w", "src"},
              .Err = "warning: w: a Windows distributable without the .exe extension"},
             {.Args = {"pack", "-q", "--core", "linux-core.bin", "core.EXE", "src"},
              .Err = "warning: core.EXE: a .exe name for a Linux distributable"},
             {.Args = {"pack", "-q", "--target", "linux", "fine.run", "src"}, .Lacks = {"warning"}},
             {.Args = {"pack", "-q", "fine.exe", "src"}, .Lacks = {"warning"}}}},
        Case{
            "--run-after with blanks, or naming nothing",
            {{.Args = {"pack", "-q", "--run-after", "setup.sh --quiet", "--target", "linux", "r1",
                       "src"},
              .Err = "warning: --run-after 'setup.sh --quiet': the whole text is taken as one "
                     "program name (no arguments are split off at blanks)"},
             {.Args = {"pack", "-q", "--run-after", "nothing.sh", "--target", "linux", "r2", "src"},
              .Err = "warning: --run-after 'nothing.sh': names no file in the archive and no "
                     "absolute path"},
             {.Args = {"pack", "-q", "--run-after", "./src/a.txt", "--target", "linux", "r3",
                       "src"},
              .Lacks = {"warning"}},
             {.Args = {"pack", "-q", "--run-after", "/bin/true", "--target", "linux", "r4", "src"},
              .Lacks = {"warning"}},
             {.Args = {"pack", "-q", "--run-after", "SRC\\SUB\\B.TXT", "r5.exe", "src"},
              .Lacks = {"warning"}},
             {.Args = {"pack", "-q", "--run-after", "src/sub/b.txt", "--target", "linux", "r6",
                       "src"},
              .Lacks = {"warning"}}}},
        Case{"--help says how the run-after launch works",
             {{.Args = {"pack", "--help"},
               .Out = {"the whole text is one name",
                       "started detached, and its exit status is not "
                       "awaited"}}}},
        // pack: a file that changes under the reader, at a known moment.
        Case{
            "a file that shrinks while it is read",
            {{.Args = {"pack", "-q", "--level", "1", "--target", "linux", "outs/o.run", "changing"},
              .Exit = 2,
              .Err = "varnow: changing/big.bin: the file shrank while it was read: 2000000 bytes "
                     "were listed, it ended after ",
              .Env = "VARNOW_TEST_CHANGE_WHILE_READING=shrink",
              .Empty = {"@/outs"}}}},
        Case{
            "a file that grows while it is read",
            {{.Args = {"pack", "-q", "--level", "9", "--target", "linux", "outs/o.run", "changing"},
              .Exit = 2,
              .Err = "varnow: changing/big.bin: the file grew while it was read: it has more than "
                     "the 2000000 bytes that were listed; outs/o.run was not written",
              .Env = "VARNOW_TEST_CHANGE_WHILE_READING=grow",
              .Empty = {"@/outs"}}}},
        Case{"a file that disappears before it is read",
             {{.Args = {"pack", "-q", "--target", "linux", "outs/o.run", "changing"},
               .Exit = 2,
               .Err = "varnow: changing/big.bin: the file disappeared before it was read; "
                      "outs/o.run was not written",
               .Env = "VARNOW_TEST_CHANGE_WHILE_READING=remove-before-open",
               .Empty = {"@/outs"}}}},
        Case{"a file removed while it is read is packed as it was",
             {{.Args = {"pack", "--target", "linux", "outs/o.run", "changing"},
               .Out = {"1 files, 0 empty folders", "verified"},
               .Absent = {"@/changing/big.bin"},
               .Env = "VARNOW_TEST_CHANGE_WHILE_READING=remove"},
              {.Args = {"list", "--json", "outs/o.run"},
               .Out = {"\"name\": \"changing/big.bin\", \"size\": 2000000"}}}},
        Case{"a signal while packing leaves nothing behind",
             {{.Args = {"pack", "-q", "--target", "linux", "outs/o.run", "changing"},
               .Exit = 128 + 15,
               .Env = "VARNOW_TEST_CHANGE_WHILE_READING=signal",
               .Empty = {"@/outs"}}}}),
    [](const ::testing::TestParamInfo<Case>& info) {
      std::string name;
      for (const char* p = info.param.What; *p != 0; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

}  // namespace
