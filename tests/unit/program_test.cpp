// The program's sequence on the fake: banner, the rejections of a file that
// holds no archive or has the wrong size, the run-after launch, and the ways a
// failing open, read or close of the own file ends the run.
#include <gtest/gtest.h>

#include <functional>

#include "archive_builder.h"
#include "fake_platform.h"

namespace {

const std::string kFatalTail = "Press Enter key.\a\r\n";
const std::string kReadFailure = "File read error.\r\n" + kFatalTail;
const std::string kSmaller =
    "This file is smaller than original file.  Cannot expand.  Press ENTER key.\a\r\n";
const std::string kLarger =
    "This file is larger than original file.  This file might be infected with virus.  "
    "Cannot expand.  Press ENTER key.\a\r\n";

// One empty file entry named E: the smallest archive that expands.
Bytes EmptyEntryPayload() {
  Bytes payload;
  AppendFileEntry(payload, FileEntryFields{.Name = "E"});
  return payload;
}

Bytes WithRunAfter(const std::string& command) {
  ArchiveParts layout;
  layout.RunAfter = command;
  layout.Payload = EmptyEntryPayload();
  return BuildDistributable(layout);
}

Bytes WithStoredSize(uint32_t size) {
  Bytes file = PayloadArchive(EmptyEntryPayload());
  for (int i = 0; i < 4; ++i) file[20480 + i] = static_cast<uint8_t>(size >> (8 * i));
  return file;
}

Bytes CoreAnd(size_t extra) {
  Bytes file = TestCore();
  file.resize(file.size() + extra, 0x31);
  return file;
}

struct ProgramCase {
  const char* What;
  std::function<Bytes()> File;
  std::function<void()> Setup;  // faults and fake settings before the run
  std::string Input;
  int Exit;
  std::string Output;    // after the banner
  size_t InputConsumed;  // bytes of standard input read
  std::vector<std::string> Launched;
};

const size_t kSize = PayloadArchive(EmptyEntryPayload()).size();
const std::string kExpandedE = "expanding : E ... end.\r\n";

class ProgramTest : public testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramTest, RunsTheSequence) {
  const ProgramCase& c = GetParam();
  ResetFake();
  if (c.Setup) c.Setup();
  int exit = RunOnFake(c.File(), c.Input);
  EXPECT_EQ(exit, c.Exit) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + c.Output) << c.What;
  EXPECT_EQ(Fake().InputPosition, c.InputConsumed) << c.What;
  EXPECT_EQ(Fake().Launched, c.Launched) << c.What;
  EXPECT_EQ(Fake().OpenFiles, 0) << c.What << ": every file closed on the way out";
}

const std::string k32767(32767, 'r');
const std::string k32768(32768, 'r');

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramTest,
    testing::Values(
        ProgramCase{"bare core, no wait",
                    [] { return TestCore(); },
                    nullptr,
                    "x\r\n",
                    1,
                    "This is core program.\a\r\n",
                    0,
                    {}},
        ProgramCase{
            "20481 bytes", [] { return CoreAnd(1); }, nullptr, "\r\n", 2, kReadFailure, 1, {}},
        ProgramCase{
            "20482 bytes", [] { return CoreAnd(2); }, nullptr, "\r\n", 2, kReadFailure, 1, {}},
        ProgramCase{
            "20483 bytes", [] { return CoreAnd(3); }, nullptr, "\r\n", 2, kReadFailure, 1, {}},
        ProgramCase{"file shorter than stored size, waits for Enter",
                    [] { return WithStoredSize(static_cast<uint32_t>(kSize + 1)); },
                    nullptr,
                    "abc\r\nmore",
                    1,
                    kSmaller,
                    4,
                    {}},
        ProgramCase{"file longer than stored size, waits for Enter",
                    [] { return WithStoredSize(static_cast<uint32_t>(kSize - 1)); },
                    nullptr,
                    "abc\r\nmore",
                    1,
                    kLarger,
                    4,
                    {}},
        ProgramCase{"stored size with its top bit set is negative",
                    [] { return WithStoredSize(0x80000000u | static_cast<uint32_t>(kSize)); },
                    nullptr,
                    "\r\n",
                    1,
                    kLarger,
                    1,
                    {}},
        ProgramCase{"the wait for Enter returns at the end of input",
                    [] { return WithStoredSize(static_cast<uint32_t>(kSize + 1)); },
                    nullptr,
                    "",
                    1,
                    kSmaller,
                    0,
                    {}},
        ProgramCase{"no run-after: nothing after the last entry",
                    [] { return PayloadArchive(EmptyEntryPayload()); },
                    nullptr,
                    "",
                    0,
                    kExpandedE,
                    0,
                    {}},
        ProgramCase{"run-after launched whole, blanks included",
                    [] { return WithRunAfter("setup.exe /quiet now"); },
                    nullptr,
                    "",
                    0,
                    kExpandedE,
                    0,
                    {"setup.exe /quiet now"}},
        ProgramCase{"run-after that cannot start still exits 0",
                    [] { return WithRunAfter("setup.exe"); },
                    [] { Fake().LaunchSucceeds = false; },
                    "",
                    0,
                    kExpandedE + "Couldn't run setup.exe\a\r\n",
                    0,
                    {"setup.exe"}},
        ProgramCase{"run-after of 32767 bytes is kept",
                    [] { return WithRunAfter(k32767); },
                    nullptr,
                    "",
                    0,
                    kExpandedE,
                    0,
                    {k32767}},
        ProgramCase{"run-after of 32768 bytes is refused as a read error",
                    [] { return WithRunAfter(k32768); },
                    nullptr,
                    "\r\n",
                    2,
                    kReadFailure,
                    1,
                    {}},
        ProgramCase{"own file cannot be opened",
                    [] { return PayloadArchive(EmptyEntryPayload()); },
                    [] { InjectFault(kOpOpenOwn, 1); },
                    "\r\n",
                    2,
                    kReadFailure,
                    1,
                    {}},
        ProgramCase{"own file's size cannot be had",
                    [] { return PayloadArchive(EmptyEntryPayload()); },
                    [] { InjectFault(kOpSize, 1); },
                    "\r\n",
                    2,
                    kReadFailure,
                    1,
                    {}},
        ProgramCase{"read of the core image fails",
                    [] { return PayloadArchive(EmptyEntryPayload()); },
                    [] { InjectFault(kOpRead, 1); },
                    "\r\n",
                    2,
                    kReadFailure,
                    1,
                    {}},
        ProgramCase{"short read of the core image is continued",
                    [] { return PayloadArchive(EmptyEntryPayload()); },
                    [] { InjectFault(kOpRead, 1, kFaultShort); },
                    "",
                    0,
                    kExpandedE,
                    0,
                    {}},
        ProgramCase{"read of OriginalSize fails",
                    [] { return PayloadArchive(EmptyEntryPayload()); },
                    [] { InjectFault(kOpRead, 2); },
                    "\r\n",
                    2,
                    kReadFailure,
                    1,
                    {}},
        ProgramCase{"close of the archive after the last entry fails",
                    [] { return WithRunAfter("setup.exe"); },
                    // Close 1 is the output file E, close 2 the archive.
                    [] { InjectFault(kOpClose, 2); },
                    "\r\n",
                    2,
                    kExpandedE + kReadFailure,
                    1,
                    {}}),
    [](const testing::TestParamInfo<ProgramCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Program, FailingArchiveCloseKeepsTheFinishedFile) {
  ResetFake();
  InjectFault(kOpClose, 2);
  ASSERT_EQ(RunOnFake(PayloadArchive(EmptyEntryPayload()), ""), 2);
  EXPECT_TRUE(Fake().Items.count("E"));
  EXPECT_TRUE(Fake().Deleted.empty());
}

TEST(Program, BareCoreReadsNothingBeyondTheSize) {
  ResetFake();
  ASSERT_EQ(RunOnFake(TestCore(), ""), 1);
  EXPECT_EQ(Fake().Calls[kOpRead], 0);
}

}  // namespace
