// End to end, on both real cores: entries become folders and files with
// their times, the overwrite dialogue, names that would leave the current
// folder, a damaged block, the password, the reference history bound to each
// core's own bytes, and run-after after a real expansion.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e_archives.h"
#include "e2e_case.h"
#include "test_bytes.h"

namespace {

const char kBroken[] = "This file is broken.\nPress Enter key.\a\n";
const char kAsk[] = "A.TXT already exists. Overwrite? (Y/N) : \a";
const char kExpandedAbab[] = "expanding : A.TXT ... end.\n";
const char kSkippedAbab[] = "skipping : A.TXT\n";

ExpectedItem AbabWritten() {
  return {"A.TXT", false, "ABABABAB", 0x01D0000000000000ull, 0x01D0000000000000ull};
}

Bytes Abab(CoreKind k) { return Entries(k, {FileItem(AbabEntry("A.TXT"))}); }

// The one-entry distributable written out byte by byte after the core.
Bytes OneEntryByHand(CoreKind k) {
  Bytes file = CoreBytes(k);
  const Bytes archive = {0x31, 0x50, 0x00, 0x00,                          // OriginalSize 20529
                         0x00,                                            // empty comment
                         0x00,                                            // empty run-after text
                         0x00,                                            // not protected
                         0x41, 0x2E, 0x54, 0x58, 0x54, 0x00,              // the name A.TXT
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x01,  // creation time
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x01,  // last-access time
                         0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x01,  // last-write time
                         0x08, 0x00, 0x00, 0x00,                          // FileSize 8
                         0x00,                                            // RefBack: no reference
                         0xAE, 0x5D, 0xAC, 0xB3, 0x0A,                    // the compressed data
                         0x5A, 0xF4};  // the block's check, high byte first
  file.insert(file.end(), archive.begin(), archive.end());
  // The test builder must agree with the hand-written bytes.
  EXPECT_EQ(file, Abab(k)) << "the archive builder differs from the hand-written bytes";
  return file;
}

// Three files, the third large enough to span many blocks and to be flushed
// twice before the damaged block is reached; one data byte of the last block
// but one flipped, far inside the third file's data.
Bytes DamagedThirdFile(CoreKind k) {
  std::vector<EntryItem> items = {
      FileItem(LiteralFile("F1.TXT", "first")), FileItem(LiteralFile("F2.TXT", "second")),
      FileItem(LiteralFile("F3.TXT", AsText(test_bytes::Text(120000, 3))))};
  Bytes file = Entries(k, items);
  const size_t firstBlock = 20480 + 7;
  size_t blocks = (file.size() - firstBlock + 4097) / 4098;
  EXPECT_GE(blocks, 12u) << "the third file must span many blocks";
  file[firstBlock + (blocks - 2) * 4098 + 100] ^= 0x01;
  return file;
}

// The same three files, with the check bytes of the last block changed.
Bytes DamagedLastCheck(CoreKind k) {
  Bytes file = Entries(
      k, {FileItem(LiteralFile("F1.TXT", "first")), FileItem(LiteralFile("F2.TXT", "second")),
          FileItem(LiteralFile("F3.TXT", AsText(test_bytes::Text(20000, 4))))});
  EXPECT_GT(file.size(), 20487u + 2 * 4098) << "the last block must not be the first";
  file[file.size() - 1] ^= 0x80;
  return file;
}

Bytes Protected(CoreKind k, const std::string& password, const std::string& comment) {
  ArchiveParts parts;
  parts.Comment = comment;
  parts.Protected = true;
  parts.Flag = 0x5A;
  parts.Password = password;
  // The second file spans several blocks, where the password cycle must run
  // on across the boundaries (4096 is no multiple of 7).
  parts.Payload = PayloadOf({FileItem(AbabEntry("A.TXT")),
                             FileItem(LiteralFile("B.TXT", AsText(test_bytes::Text(12000, 9))))});
  return Distributable(k, parts);
}

// An archive that holds the run-after helper itself and starts it afterwards.
Bytes CarriesMarkerProgram(CoreKind k) {
  const std::string& program = MarkerProgramBytes(k);
  ArchiveParts parts;
  parts.RunAfter = "bin\\marker.exe";
  parts.Payload = PayloadOf({FileItem(LiteralFile("bin\\marker.exe", program))});
  return Distributable(k, parts);
}

const std::vector<E2eRow> kEntryRows = {
    {"OneEntryByteForByte",
     "the one-entry distributable written out by hand",
     OneEntryByHand,
     {},
     "",
     kExpandedAbab,
     0,
     {AbabWritten()}},
    {"NestedFolders",
     "a\\b\\c.txt makes a and a\\b, then the file",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("a\\b\\c.txt", "hello"))}); },
     {},
     "",
     "expanding : a\\b\\c.txt ... end.\n",
     0,
     {Folder("a"), Folder("a/b"), Written("a/b/c.txt", "hello")}},
    {"FolderEntryKeepsSlot",
     "a\\b\\. makes a\\b and takes no slot: RefBack 1 after it still names x.txt",
     [](CoreKind k) {
       FileEntryParts copy = LiteralFile("y.txt", "");
       copy.FileSize = 10;  // the whole file is the prefix
       copy.RefBack = 1;
       copy.PrefixLength = 10;
       return Entries(k, {FileItem(LiteralFile("x.txt", "first file")), FolderItem("a\\b\\."),
                          FileItem(copy)});
     },
     {},
     "",
     "expanding : x.txt ... end.\nexpanding : y.txt ... end.\n",
     0,
     {Written("x.txt", "first file"), Folder("a"), Folder("a/b"), Written("y.txt", "first file")}},
    {"LastEntryIsFolder",
     "the archive ends after a folder entry, with no further output",
     [](CoreKind k) {
       return Entries(k, {FileItem(AbabEntry("A.TXT")), FolderItem("d\\.")});
     },
     {},
     "",
     kExpandedAbab,
     0,
     {AbabWritten(), Folder("d")}},
    {"ExistingAnswerLowerY",
     "y replaces the file",
     Abab,
     {PresetFile("A.TXT", "old")},
     "y\n",
     std::string(kAsk) + kExpandedAbab,
     0,
     {AbabWritten()}},
    {"ExistingAnswerUpperY",
     "Y replaces the file",
     Abab,
     {PresetFile("A.TXT", "old")},
     "Y\n",
     std::string(kAsk) + kExpandedAbab,
     0,
     {AbabWritten()}},
    {"ExistingAnswerLowerN",
     "n keeps the file and skips the entry",
     Abab,
     {PresetFile("A.TXT", "old")},
     "n\n",
     std::string(kAsk) + kSkippedAbab,
     0,
     {Untouched("A.TXT", "old")}},
    {"ExistingAnswerUpperN",
     "N keeps the file and skips the entry",
     Abab,
     {PresetFile("A.TXT", "old")},
     "N\n",
     std::string(kAsk) + kSkippedAbab,
     0,
     {Untouched("A.TXT", "old")}},
    {"ExistingIgnoredLine",
     "a line starting with x is ignored without asking again",
     Abab,
     {PresetFile("A.TXT", "old")},
     "xyz\nyes\n",
     std::string(kAsk) + kExpandedAbab,
     0,
     {AbabWritten()}},
    {"ExistingEmptyLine",
     "an empty line also swallows the next line (Y), so N decides",
     Abab,
     {PresetFile("A.TXT", "old")},
     "\nY\nN\n",
     std::string(kAsk) + kSkippedAbab,
     0,
     {Untouched("A.TXT", "old")}},
    {"ExistingEndOfInput",
     "the end of input answers N",
     Abab,
     {PresetFile("A.TXT", "old")},
     "",
     std::string(kAsk) + kSkippedAbab,
     0,
     {Untouched("A.TXT", "old")}},
    {"FolderNamedLikeFileYes",
     "Y cannot create a file over a folder: write error, fatal stop",
     Abab,
     {PresetFolder("A.TXT")},
     "Y\n",
     std::string(kAsk) + "expanding : A.TXT ... File write error.\nPress Enter key.\a\n",
     2,
     {Folder("A.TXT")}},
    {"FolderNamedLikeFileNo",
     "N skips the entry and leaves the folder",
     Abab,
     {PresetFolder("A.TXT")},
     "N\n",
     std::string(kAsk) + kSkippedAbab,
     0,
     {Folder("A.TXT")}},
    {"FolderPrefixIsFile",
     "a is a file, so a\\b.txt cannot get its folder; no wait",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("a\\b.txt", "data"))}); },
     {PresetFile("a", "x")},
     "",
     "expanding : a\\b.txt ... Cannot make folder : a\a\n",
     2,
     {Untouched("a", "x")},
     Cores::kBoth,
     "",
     true},
    {"NameStartsWithBackslash",
     "an absolute name is refused before anything is made",
     [](CoreKind k) {
       return Entries(k, {FileItem(LiteralFile("\\varnow-e2e-absolute.txt", "x"))});
     },
     {},
     "",
     kBroken,
     2,
     {},
     Cores::kBoth,
     "",
     false,
     false,
     {"/varnow-e2e-absolute.txt"}},
    {"NameStartsWithSlash",
     "an absolute name with a slash is refused too",
     [](CoreKind k) {
       return Entries(k, {FileItem(LiteralFile("/varnow-e2e-absolute.txt", "x"))});
     },
     {},
     "",
     kBroken,
     2,
     {},
     Cores::kBoth,
     "",
     false,
     false,
     {"/varnow-e2e-absolute.txt"}},
    {"NameClimbsOut",
     "..\\escaped.txt would land beside the work folder",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("..\\escaped.txt", "x"))}); },
     {},
     "",
     kBroken,
     2},
    {"NameClimbsOutLater",
     "a\\..\\..\\escaped.txt: a .. component inside the name",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("a\\..\\..\\escaped.txt", "x"))}); },
     {},
     "",
     kBroken,
     2},
    {"NameClimbsOutWithSlash",
     "a/../../escaped.txt: slashes separate components as well",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("a/../../escaped.txt", "x"))}); },
     {},
     "",
     kBroken,
     2},
    {"FolderEntryClimbsOut",
     "a folder entry ..\\up\\. is refused as well",
     [](CoreKind k) { return Entries(k, {FolderItem("..\\up\\.")}); },
     {},
     "",
     kBroken,
     2},
    {"ColonRefused",
     "on Windows a colon names a drive or a stream",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("a:b.txt", "x"))}); },
     {},
     "",
     kBroken,
     2,
     {},
     Cores::kWindowsOnly},
    {"ColonOrdinary",
     "on Linux a colon is an ordinary character of a name",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("a:b.txt", "x"))}); },
     {},
     "",
     "expanding : a:b.txt ... end.\n",
     0,
     {Written("a:b.txt", "x")},
     Cores::kLinuxOnly},
    {"DotsAndBlanksRefused",
     "on Windows a component of dots and blanks is the parent too",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("..  \\escaped.txt", "x"))}); },
     {},
     "",
     kBroken,
     2,
     {},
     Cores::kWindowsOnly},
    {"DotsAndBlanksOrdinary",
     "on Linux a folder named '..  ' is an ordinary folder",
     [](CoreKind k) { return Entries(k, {FileItem(LiteralFile("..  \\inside.txt", "x"))}); },
     {},
     "",
     "expanding : ..  \\inside.txt ... end.\n",
     0,
     {Folder("..  "), Written("..  /inside.txt", "x")},
     Cores::kLinuxOnly},
    {"DamagedBlockInThirdFile",
     "the fatal stop deletes the third file only",
     DamagedThirdFile,
     {},
     "",
     "expanding : F1.TXT ... end.\nexpanding : F2.TXT ... end.\nexpanding : F3.TXT ... "
     "This file is broken.\nPress Enter key.\a\n",
     2,
     {Written("F1.TXT", "first"), Written("F2.TXT", "second")}},
    {"DamagedLastCheck",
     "a changed check byte of the last block is found too",
     DamagedLastCheck,
     {},
     "",
     "expanding : F1.TXT ... end.\nexpanding : F2.TXT ... end.\nexpanding : F3.TXT ... "
     "This file is broken.\nPress Enter key.\a\n",
     2,
     {Written("F1.TXT", "first"), Written("F2.TXT", "second")}},
    {"PasswordWrongThenRight",
     "the comment, two prompts, then the unscrambled files",
     [](CoreKind k) { return Protected(k, "Secret7", "Locked"); },
     {},
     "secret7\nSecret7\n",
     std::string("Locked\nPassword : Password : ") + kExpandedAbab + "expanding : B.TXT ... end.\n",
     0,
     {AbabWritten(), Written("B.TXT", AsText(test_bytes::Text(12000, 9)))}},
    {"PasswordThreeWrong",
     "three wrong answers end the run with exit code 1",
     [](CoreKind k) { return Protected(k, "Secret7", ""); },
     {},
     "a\nSecret7 \nsecret7\n",
     "Password : Password : Password : ",
     1},
    {"PasswordEndOfInput",
     "at the end of input the three tries pass at once",
     [](CoreKind k) { return Protected(k, "Secret7", ""); },
     {},
     "",
     "Password : Password : Password : ",
     1},
    {"PrefixFromCoreImage",
     "the first file's whole content is a 20480-byte prefix of slot 0",
     [](CoreKind k) {
       FileEntryParts file = LiteralFile("core.bin", "");
       file.FileSize = 20480;
       file.RefBack = 1;
       file.PrefixLength = 20480;
       return Entries(k, {FileItem(file)});
     },
     {},
     "",
     "expanding : core.bin ... end.\n",
     0,
     {{"core.bin", false, std::nullopt, kWriteTime, kAccessTime, 20480}}},
    {"DictionaryFromCoreImage",
     "one match 15360 back reaches the core's first byte",
     [](CoreKind k) {
       return Entries(k, {FileItem(TokenFile("dict.bin", {MatchToken(300, 15360)}, 300))});
     },
     {},
     "",
     "expanding : dict.bin ... end.\n",
     0,
     {{"dict.bin", false, std::nullopt, kWriteTime, kAccessTime, 300}}},
    {"RunAfterAfterExpansion",
     "two files expanded, then the run-after program starts",
     [](CoreKind k) {
       ArchiveParts parts;
       parts.RunAfter = MarkerProgramName(k);
       parts.Payload =
           PayloadOf({FileItem(AbabEntry("A.TXT")), FileItem(LiteralFile("B.TXT", "bee"))});
       return Distributable(k, parts);
     },
     {PresetMarkerProgram()},
     "",
     std::string(kExpandedAbab) + "expanding : B.TXT ... end.\n",
     0,
     {AbabWritten(), Written("B.TXT", "bee")},
     Cores::kBoth,
     "",
     false,
     true},
    {"RunAfterFailsAfterExpansion",
     "the files stay, the failure is reported, exit code 0",
     [](CoreKind k) {
       ArchiveParts parts;
       parts.RunAfter = "missing\\setup.exe";
       parts.Payload = PayloadOf({FileItem(AbabEntry("A.TXT"))});
       return Distributable(k, parts);
     },
     {},
     "",
     std::string(kExpandedAbab) + "Couldn't run missing\\setup.exe\a\n",
     0,
     {AbabWritten()}},
    {"ProgramsComeOutRunnable",
     "a script and an ELF program are made executable, other files not; the run-after "
     "command runs the packed script",
     [](CoreKind k) {
       const Bytes& core = CoreBytes(CoreKind::kLinux);
       ArchiveParts parts;
       parts.RunAfter = "setup.sh";
       parts.Payload =
           PayloadOf({FileItem(LiteralFile("setup.sh", "#!/bin/sh\nprintf ran > marker.txt\n")),
                      FileItem(LiteralFile("bin\\tool", std::string(core.begin(), core.end()))),
                      FileItem(LiteralFile("readme.txt", "read me\n")),
                      FileItem(LiteralFile("notes.txt", "# #! not at the start\n"))});
       return Distributable(k, parts);
     },
     {},
     "",
     "expanding : setup.sh ... end.\nexpanding : bin\\tool ... end.\n"
     "expanding : readme.txt ... end.\nexpanding : notes.txt ... end.\n",
     0,
     // The script is read when it runs, which may touch its access time.
     {{"setup.sh", false, "#!/bin/sh\nprintf ran > marker.txt\n", kWriteTime, std::nullopt, -1,
       0777},
      Folder("bin"),
      {"bin/tool", false, std::nullopt, kWriteTime, kAccessTime, 20480, 0777},
      {"readme.txt", false, "read me\n", kWriteTime, kAccessTime, -1, 0666},
      {"notes.txt", false, "# #! not at the start\n", kWriteTime, kAccessTime, -1, 0666}},
     Cores::kLinuxOnly,
     "",
     false,
     true},
    {"ReplacedProgramsStayPrivate",
     "a replaced file keeps its mode; a program gains execute only where it could be read",
     [](CoreKind k) {
       return Entries(k, {FileItem(LiteralFile("run.sh", "#!/bin/sh\n")),
                          FileItem(LiteralFile("tool", "now text\n"))});
     },
     {PresetFile("run.sh", "old", 0600), PresetFile("tool", "old", 0755)},
     "y\ny\n",
     "run.sh already exists. Overwrite? (Y/N) : \aexpanding : run.sh ... end.\n"
     "tool already exists. Overwrite? (Y/N) : \aexpanding : tool ... end.\n",
     0,
     {{"run.sh", false, "#!/bin/sh\n", kWriteTime, kAccessTime, -1, 0700},
      {"tool", false, "now text\n", kWriteTime, kAccessTime, -1, 0755}},
     Cores::kLinuxOnly},
    {"RunAfterExpandedProgram",
     "the archive carries the program that it starts afterwards",
     CarriesMarkerProgram,
     {},
     "",
     "expanding : bin\\marker.exe ... end.\n",
     0,
     {Folder("bin"),
      {"bin/marker.exe", false, std::nullopt, std::nullopt, std::nullopt, -1, std::nullopt, true}},
     Cores::kWindowsOnly,
     "",
     false,
     true},
};

class EntriesE2e : public ::testing::TestWithParam<E2eParam> {};

TEST_P(EntriesE2e, Run) {
  SKIP_UNLESS_RUNNABLE(GetParam().Kind);
  ExpectRow(*GetParam().Row, GetParam().Kind);
}

INSTANTIATE_TEST_SUITE_P(Rows, EntriesE2e, ::testing::ValuesIn(ForEachCore(kEntryRows)),
                         [](const auto& info) { return ParamName(info.param); });

// A link standing in the destination under the name of an archive folder is
// not a folder to the core: nothing is written where it leads. Under Wine a
// Unix link to a folder shows as a folder and a reparse point.
class FolderLinkE2e : public ::testing::TestWithParam<CoreKind> {};

TEST_P(FolderLinkE2e, LeadsNowhere) {
  const CoreKind k = GetParam();
  SKIP_UNLESS_RUNNABLE(k);
  Sandbox sandbox(E2ePlace(std::string("FolderLink-") + CoreName(k)));
  const std::filesystem::path outside = sandbox.Root() / "outside";
  std::filesystem::create_directories(outside);
  std::filesystem::create_directory_symlink("../outside", sandbox.Work() / "src");
  RunRequest request;
  request.Input = ForCore("\n", k);
  RunResult run = RunDistributable(
      k, sandbox, Entries(k, {FileItem(LiteralFile("src\\d\\f.txt", "data"))}), request);
  EXPECT_EQ(
      Visible(run.Output),
      Visible(Banner(k) + ForCore("expanding : src\\d\\f.txt ... Cannot make folder : src\a\n", k)))
      << Describe(run);
  EXPECT_EQ(run.ExitCode, 2) << Describe(run);
  EXPECT_TRUE(std::filesystem::is_empty(outside)) << "something was written through the link";
  EXPECT_TRUE(std::filesystem::is_symlink(sandbox.Work() / "src"));
}

INSTANTIATE_TEST_SUITE_P(Cores, FolderLinkE2e,
                         ::testing::Values(CoreKind::kLinux, CoreKind::kWindows32,
                                           CoreKind::kWindows64),
                         [](const auto& info) { return std::string(CoreName(info.param)); });

}  // namespace
