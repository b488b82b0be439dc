// End to end, on both real cores: a distributable started by a launcher, cron
// job or service with standard input, output or error closed, and on Windows
// with no standard input handle at all. A closed standard input reads as its
// end, exactly as /dev/null does: every question gets the answer of the end of
// input, and the archive is never read as answers. With output or error
// closed, every file comes out byte for byte. Each row with standard input
// closed runs again with it on /dev/null, against the same expectations.
#include <gtest/gtest.h>

#include <set>

#include "e2e_archives.h"
#include "e2e_case.h"

namespace {

// Six files; the third spans many blocks and several flushes of the window,
// so that the archive goes on well past the block read for the first entry.
const std::vector<std::pair<const char*, std::string>>& SixFiles() {
  static const std::vector<std::pair<const char*, std::string>> files = {
      {"F1.TXT", "first"},  {"F2.TXT", Filler(3000, 21)}, {"F3.TXT", Filler(70000, 22)},
      {"F4.TXT", "fourth"}, {"F5.TXT", Filler(900, 23)},  {"F6.TXT", "sixth"}};
  return files;
}

Bytes SixFileArchive(CoreKind k) {
  std::vector<EntryItem> items;
  for (const auto& [name, text] : SixFiles()) items.push_back(FileItem(LiteralFile(name, text)));
  Bytes file = Entries(k, items);
  EXPECT_GT(file.size(), 20487u + 8 * 4098) << "the archive must span many blocks";
  return file;
}

std::string Asked(const std::string& name) {
  return name + " already exists. Overwrite? (Y/N) : \a";
}

// The console text and the folder after a run in which the files named in
// `existing` were there before and kept, and all others were written.
std::string OutputKeeping(const std::set<std::string>& existing) {
  std::string out;
  for (const auto& [name, text] : SixFiles()) {
    out += existing.count(name) ? Asked(name) + "skipping : " + name + "\n"
                                : std::string("expanding : ") + name + " ... end.\n";
  }
  return out;
}

std::vector<ExpectedItem> FolderKeeping(const std::set<std::string>& existing) {
  std::vector<ExpectedItem> items;
  for (const auto& [name, text] : SixFiles()) {
    items.push_back(existing.count(name) ? Untouched(name, std::string("old ") + name)
                                         : Written(name, text));
  }
  return items;
}

std::vector<PresetItem> Existing(const std::set<std::string>& names) {
  std::vector<PresetItem> items;
  for (const std::string& name : names) items.push_back(PresetFile(name, "old " + name));
  return items;
}

Bytes Protected(CoreKind k, const std::string& password) {
  ArchiveParts parts;
  parts.Protected = true;
  parts.Flag = 0x5A;
  parts.Password = password;
  parts.Payload = PayloadOf(
      {FileItem(LiteralFile("A.TXT", "alpha")), FileItem(LiteralFile("B.TXT", Filler(12000, 24)))});
  return Distributable(k, parts);
}

const std::set<std::string> kOddOnes = {"F1.TXT", "F3.TXT", "F5.TXT"};
const std::set<std::string> kEvenOnes = {"F2.TXT", "F4.TXT", "F6.TXT"};
const std::set<std::string> kAll = {"F1.TXT", "F2.TXT", "F3.TXT", "F4.TXT", "F5.TXT", "F6.TXT"};

const std::vector<E2eRow> kClosedRows = {
    {.Name = "InputClosedSomeExist",
     .Exercises = "three files exist: each question is answered as at the end of input, so they "
                  "are skipped and the other three written",
     .Build = SixFileArchive,
     .Before = Existing(kOddOnes),
     .Output = OutputKeeping(kOddOnes),
     .After = FolderKeeping(kOddOnes),
     .InputStream = Stream::kClosed},
    {.Name = "InputClosedAllExist",
     .Exercises = "every file exists: all six skipped, none touched",
     .Build = SixFileArchive,
     .Before = Existing(kAll),
     .Output = OutputKeeping(kAll),
     .After = FolderKeeping(kAll),
     .InputStream = Stream::kClosed},
    {.Name = "OutputAndErrorsClosed",
     .Exercises = "nothing is shown, the answers still come from standard input (y for F1, n for "
                  "F4) and every written file is byte for byte what was packed",
     .Build = SixFileArchive,
     .Before = Existing({"F1.TXT", "F4.TXT"}),
     .Input = "y\nn\n",
     .After = FolderKeeping({"F4.TXT"}),
     .OutputStream = Stream::kClosed,
     .ErrorStream = Stream::kClosed},
    {.Name = "AllThreeClosed",
     .Exercises = "standard input, output and error closed: existing files skipped and kept, the "
                  "others written byte for byte",
     .Build = SixFileArchive,
     .Before = Existing(kEvenOnes),
     .After = FolderKeeping(kEvenOnes),
     // Not under Wine: started with all three closed, Wine's loader finds its
     // own server connection on descriptor 1 and hands it to the program as
     // standard output, so any Windows program that writes there ends at once.
     .Only = Cores::kLinuxOnly,
     .InputStream = Stream::kClosed,
     .OutputStream = Stream::kClosed,
     .ErrorStream = Stream::kClosed},
    {.Name = "PasswordInputClosed",
     .Exercises = "a protected archive: the three tries pass at once, as at the end of input",
     .Build = [](CoreKind k) { return Protected(k, "Secret7"); },
     .Output = "Password : Password : Password : ",
     .ExitCode = 1,
     .InputStream = Stream::kClosed},
    {.Name = "EmptyPasswordInputClosed",
     .Exercises = "the empty line is this archive's password, and the end of input gives it: "
                  "one prompt, then both files",
     .Build = [](CoreKind k) { return Protected(k, ""); },
     .Output = "Password : expanding : A.TXT ... end.\nexpanding : B.TXT ... end.\n",
     .After = {Written("A.TXT", "alpha"), Written("B.TXT", Filler(12000, 24))},
     .InputStream = Stream::kClosed},
    {.Name = "NoInputHandleSomeExist",
     .Exercises = "started with no standard input handle: the y lines typed to the launcher never "
                  "reach the core, whose questions get the answer of the end of input",
     .Build = SixFileArchive,
     .Before = Existing(kOddOnes),
     .Input = "y\ny\ny\n",
     .Output = OutputKeeping(kOddOnes),
     .After = FolderKeeping(kOddOnes),
     .Only = Cores::kWindowsOnly,
     .NoInputHandle = true},
    {.Name = "NoInputHandleEmptyPassword",
     .Exercises = "no standard input handle: the password is the empty line of the end of input",
     .Build = [](CoreKind k) { return Protected(k, ""); },
     .Input = "wrong\n",
     .Output = "Password : expanding : A.TXT ... end.\nexpanding : B.TXT ... end.\n",
     .After = {Written("A.TXT", "alpha"), Written("B.TXT", Filler(12000, 24))},
     .Only = Cores::kWindowsOnly,
     .NoInputHandle = true},
};

class ClosedStreamsE2e : public ::testing::TestWithParam<E2eParam> {};

TEST_P(ClosedStreamsE2e, Run) {
  const E2eRow& row = *GetParam().Row;
  SKIP_UNLESS_RUNNABLE(GetParam().Kind);
  ExpectRow(row, GetParam().Kind);
  if (row.InputStream != Stream::kClosed || HasFailure()) return;
  // The same row with standard input on /dev/null must give the same bytes.
  E2eRow twin = row;
  const std::string name = std::string(row.Name) + "DevNull";
  twin.Name = name.c_str();
  twin.InputStream = Stream::kDevNull;
  ExpectRow(twin, GetParam().Kind);
}

INSTANTIATE_TEST_SUITE_P(Rows, ClosedStreamsE2e, ::testing::ValuesIn(ForEachCore(kClosedRows)),
                         [](const auto& info) { return ParamName(info.param); });

}  // namespace
