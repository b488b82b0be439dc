// End to end, on both real cores: the banner, the checks of the file layout
// and its size, the comment, and the run-after launch, success and failure.
// One row per case; every row runs on the Linux core and under Wine.
#include <gtest/gtest.h>

#include "e2e_archives.h"
#include "e2e_case.h"

namespace {

const char kReadError[] = "File read error.\nPress Enter key.\a\n";
const char kSmaller[] =
    "This file is smaller than original file.  Cannot expand.  Press ENTER key.\a\n";
const char kLarger[] =
    "This file is larger than original file.  This file might be infected with virus.  "
    "Cannot expand.  Press ENTER key.\a\n";
const char kExpandedAbab[] = "expanding : A.TXT ... end.\n";

Bytes CorePlus(CoreKind kind, const Bytes& tail) {
  Bytes file = CoreBytes(kind);
  file.insert(file.end(), tail.begin(), tail.end());
  return file;
}

Bytes AbabWith(CoreKind kind, const std::string& comment, const std::string& runAfter) {
  ArchiveParts parts;
  parts.Comment = comment;
  parts.RunAfter = runAfter;
  parts.Payload = PayloadOf({FileItem(AbabEntry("A.TXT"))});
  return Distributable(kind, parts);
}

ExpectedItem AbabWritten() {
  return {"A.TXT", false, "ABABABAB", 0x01D0000000000000ull, 0x01D0000000000000ull};
}

const std::vector<E2eRow> kHeaderRows = {
    {"BareCore",
     "a file of exactly 20480 bytes holds no archive; no wait for Enter",
     [](CoreKind k) { return CoreBytes(k); },
     {},
     "",
     "This is core program.\a\n",
     1,
     {},
     Cores::kBoth,
     "",
     true},
    {"OneByteAfterCore",
     "20481 bytes: OriginalSize cannot be read",
     [](CoreKind k) { return CorePlus(k, {0x31}); },
     {},
     "\n",
     kReadError,
     2,
     {},
     Cores::kBoth,
     "Press Enter key.\a\n"},
    {"TwoBytesAfterCore",
     "20482 bytes: OriginalSize cannot be read",
     [](CoreKind k) {
       return CorePlus(k, {0x31, 0x50});
     },
     {},
     "\n",
     kReadError,
     2,
     {},
     Cores::kBoth,
     "Press Enter key.\a\n"},
    {"ThreeBytesAfterCore",
     "20483 bytes: OriginalSize cannot be read",
     [](CoreKind k) {
       return CorePlus(k, {0x31, 0x50, 0x00});
     },
     {},
     "\n",
     kReadError,
     2,
     {},
     Cores::kBoth,
     "Press Enter key.\a\n"},
    {"ShorterThanOriginalSize",
     "the stored size is one more than the file's",
     [](CoreKind k) {
       Bytes file = AbabWith(k, "", "");
       return WithOriginalSize(file, static_cast<uint32_t>(file.size() + 1));
     },
     {},
     "\n",
     kSmaller,
     1,
     {},
     Cores::kBoth,
     kSmaller},
    {"LongerThanOriginalSize",
     "the stored size is one less than the file's",
     [](CoreKind k) {
       Bytes file = AbabWith(k, "", "");
       return WithOriginalSize(file, static_cast<uint32_t>(file.size() - 1));
     },
     {},
     "\n",
     kLarger,
     1,
     {},
     Cores::kBoth,
     kLarger},
    {"OriginalSizeTopBitSet",
     "a stored size with its top bit set is negative: every file is larger",
     [](CoreKind k) {
       Bytes file = AbabWith(k, "", "");
       return WithOriginalSize(file, static_cast<uint32_t>(file.size()) | 0x80000000u);
     },
     {},
     "\n",
     kLarger,
     1,
     {},
     Cores::kBoth,
     kLarger},
    {"HeaderOnly",
     "an archive with no block at all: the first entry cannot be read",
     [](CoreKind k) { return Distributable(k, ArchiveParts{}); },
     {},
     "\n",
     kReadError,
     2,
     {},
     Cores::kBoth,
     "Press Enter key.\a\n"},
    {"EmptyComment",
     "an empty comment prints nothing, not even a line end",
     [](CoreKind k) { return AbabWith(k, "", ""); },
     {},
     "",
     kExpandedAbab,
     0,
     {AbabWritten()}},
    {"CommentAbc",
     "a comment is shown on its own line before the entries",
     [](CoreKind k) { return AbabWith(k, "abc", ""); },
     {},
     "",
     std::string("abc\n") + kExpandedAbab,
     0,
     {AbabWritten()}},
    {"CommentWithCrLf",
     "the comment's own CR LF is written as it is, then one line end",
     [](CoreKind k) { return AbabWith(k, "first\r\nsecond", ""); },
     {},
     "",
     std::string("first\r\nsecond\n") + kExpandedAbab,
     0,
     {AbabWritten()}},
    {"RunAfterStarts",
     "the run-after text names a program in the current folder",
     [](CoreKind k) { return AbabWith(k, "", MarkerProgramName(k)); },
     {PresetMarkerProgram()},
     "",
     kExpandedAbab,
     0,
     {AbabWritten()},
     Cores::kBoth,
     "",
     false,
     true},
    {"RunAfterCannotStart",
     "the run-after text names nothing that exists",
     [](CoreKind k) { return AbabWith(k, "", "no-such-program.exe"); },
     {},
     "",
     std::string(kExpandedAbab) + "Couldn't run no-such-program.exe\a\n",
     0,
     {AbabWritten()}},
};

class HeaderE2e : public ::testing::TestWithParam<E2eParam> {};

TEST_P(HeaderE2e, Run) {
  SKIP_UNLESS_RUNNABLE(GetParam().Kind);
  ExpectRow(*GetParam().Row, GetParam().Kind);
}

INSTANTIATE_TEST_SUITE_P(Rows, HeaderE2e, ::testing::ValuesIn(ForEachCore(kHeaderRows)),
                         [](const auto& info) { return ParamName(info.param); });

}  // namespace
