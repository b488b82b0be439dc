// Fault injection over the fake: every read, write, create, close, time
// setting and folder call on the road of expanding a small archive (a folder,
// then three files) fails once, in turn. Each row gives the exact output after
// the banner, the exit code, and which files must stay, be deleted or never
// appear: the fatal stop deletes the file being written, never earlier ones.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "archive_builder.h"
#include "fake_platform.h"

namespace {

// dir\. ; dir\A.TXT and B.TXT decoded; C.TXT the whole of B as its prefix.
Bytes SmallArchive() {
  Bytes payload;
  AppendFolderEntry(payload, "dir\\.");
  for (const char* name : {"dir\\A.TXT", "B.TXT"}) AppendFileEntry(payload, AbabEntry(name));
  FileEntryFields c;
  c.Name = "C.TXT";
  c.FileSize = 8;
  c.RefBack = 1;
  c.PrefixLength = 8;
  AppendFileEntry(payload, c);
  ArchiveParts parts;
  parts.Payload = payload;
  return BuildDistributable(parts);
}

const std::string kA = "expanding : dir\\A.TXT ... ";
const std::string kB = "expanding : B.TXT ... ";
const std::string kC = "expanding : C.TXT ... ";
const std::string kEnd = "end.\r\n";
const std::string kReadStop = "File read error.\r\nPress Enter key.\a\r\n";
const std::string kWriteStop = "File write error.\r\nPress Enter key.\a\r\n";

struct FaultCase {
  const char* What;
  FakeOp Op;
  int Nth;
  FaultKind Kind;
  std::string Output;  // everything after the banner line
  int ExitCode;
  std::set<std::string> Kept;        // files on disk afterwards, each ABABABAB
  std::vector<std::string> Deleted;  // deleted by the fatal stop
  int OpenFiles;                     // handles left open at the exit
};

const std::vector<FaultCase>& Cases() {
  static const std::vector<FaultCase> cases = {
      {"own file cannot be opened", kOpOpenOwn, 1, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"own file size unknown", kOpSize, 1, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"core image read fails", kOpRead, 1, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"OriginalSize read fails", kOpRead, 2, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"comment read fails", kOpRead, 3, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"run-after read fails", kOpRead, 4, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"protection flag read fails", kOpRead, 5, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"block read fails", kOpRead, 6, kFaultFail, kReadStop, 2, {}, {}, 0},
      {"short core image read is read on",
       kOpRead,
       1,
       kFaultShort,
       kA + kEnd + kB + kEnd + kC + kEnd,
       0,
       {"dir\\A.TXT", "B.TXT", "C.TXT"},
       {},
       0},
      {"short block read is read on",
       kOpRead,
       6,
       kFaultShort,
       kA + kEnd + kB + kEnd + kC + kEnd,
       0,
       {"dir\\A.TXT", "B.TXT", "C.TXT"},
       {},
       0},
      {"read position at the last byte fails",
       kOpPosition,
       1,
       kFaultFail,
       kA + kEnd + kB + kEnd + kReadStop,
       2,
       {"dir\\A.TXT", "B.TXT"},
       {},
       0},
      {"folder entry's folder cannot be made",
       kOpCreateFolder,
       1,
       kFaultFail,
       "Cannot make folder : dir\a\r\n",
       2,
       {},
       {},
       1},
      {"folder lookup misses an existing folder",
       kOpFind,
       3,
       kFaultFail,
       kA + "Cannot make folder : dir\a\r\n",
       2,
       {},
       {},
       1},
      {"first file cannot be created", kOpCreate, 1, kFaultFail, kA + kWriteStop, 2, {}, {}, 0},
      {"second file cannot be created",
       kOpCreate,
       2,
       kFaultFail,
       kA + kEnd + kB + kWriteStop,
       2,
       {"dir\\A.TXT"},
       {},
       0},
      {"first file's write fails",
       kOpWrite,
       1,
       kFaultFail,
       kA + kWriteStop,
       2,
       {},
       {"dir\\A.TXT"},
       0},
      {"first file's write is short",
       kOpWrite,
       1,
       kFaultShort,
       kA + kWriteStop,
       2,
       {},
       {"dir\\A.TXT"},
       0},
      {"second file's write fails",
       kOpWrite,
       2,
       kFaultFail,
       kA + kEnd + kB + kWriteStop,
       2,
       {"dir\\A.TXT"},
       {"B.TXT"},
       0},
      {"prefix write fails",
       kOpWrite,
       3,
       kFaultFail,
       kA + kEnd + kB + kEnd + kC + kWriteStop,
       2,
       {"dir\\A.TXT", "B.TXT"},
       {"C.TXT"},
       0},
      {"prefix write is short",
       kOpWrite,
       3,
       kFaultShort,
       kA + kEnd + kB + kEnd + kC + kWriteStop,
       2,
       {"dir\\A.TXT", "B.TXT"},
       {"C.TXT"},
       0},
      {"empty final write after a prefix fails",
       kOpWrite,
       4,
       kFaultFail,
       kA + kEnd + kB + kEnd + kC + kWriteStop,
       2,
       {"dir\\A.TXT", "B.TXT"},
       {"C.TXT"},
       0},
      {"first file's times cannot be set",
       kOpSetTimes,
       1,
       kFaultFail,
       kA + kWriteStop,
       2,
       {},
       {"dir\\A.TXT"},
       0},
      {"third file's times cannot be set",
       kOpSetTimes,
       3,
       kFaultFail,
       kA + kEnd + kB + kEnd + kC + kWriteStop,
       2,
       {"dir\\A.TXT", "B.TXT"},
       {"C.TXT"},
       0},
      {"first file's close fails",
       kOpClose,
       1,
       kFaultFail,
       kA + kWriteStop,
       2,
       {},
       {"dir\\A.TXT"},
       0},
      {"second file's close fails",
       kOpClose,
       2,
       kFaultFail,
       kA + kEnd + kB + kWriteStop,
       2,
       {"dir\\A.TXT"},
       {"B.TXT"},
       0},
      {"archive close after the last entry fails",
       kOpClose,
       4,
       kFaultFail,
       kA + kEnd + kB + kEnd + kC + kEnd + kReadStop,
       2,
       {"dir\\A.TXT", "B.TXT", "C.TXT"},
       {},
       0},
  };
  return cases;
}

class FaultInjection : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultInjection, StopsWithItsMessageAndKeepsOnlyFinishedFiles) {
  const FaultCase& c = GetParam();
  ResetFake();
  Fake().OwnFile = SmallArchive();
  InjectFault(c.Op, c.Nth, c.Kind);
  EXPECT_EQ(RunExpander(), c.ExitCode);
  EXPECT_EQ(Fake().Output, kBannerLine + c.Output);
  std::set<std::string> files;
  for (const auto& [name, item] : Fake().Items) {
    if (item.IsFolder) continue;
    files.insert(name);
    EXPECT_EQ(AsText(item.Data), "ABABABAB") << name;
    EXPECT_TRUE(item.TimesSet) << name;
  }
  EXPECT_EQ(files, c.Kept);
  EXPECT_EQ(Fake().Deleted, c.Deleted);
  EXPECT_EQ(Fake().OpenFiles, c.OpenFiles);
}

// Every call of every operation on the road fails once in turn: each run ends
// with exit code 2 (or 0 where the failed call changes nothing), and no file
// that the run did not finish is left on disk.
TEST(FaultInjectionSweep, EveryCallOnTheRoadFailsOnceInTurn) {
  ResetFake();
  Fake().OwnFile = SmallArchive();
  ASSERT_EQ(RunExpander(), 0);
  const std::array<int, kOpCount> calls = Fake().Calls;
  int runs = 0;
  for (FakeOp op : {kOpOpenOwn, kOpRead, kOpWrite, kOpSize, kOpPosition, kOpClose, kOpCreate,
                    kOpFind, kOpCreateFolder, kOpSetTimes}) {
    for (int nth = 1; nth <= calls[op]; ++nth) {
      SCOPED_TRACE(testing::Message() << "operation " << op << " call " << nth);
      ResetFake();
      Fake().OwnFile = SmallArchive();
      InjectFault(op, nth, kFaultFail);
      int code = RunExpander();
      ++runs;
      // A failed lookup only hides an item that does not exist yet.
      if (code == 0) {
        EXPECT_EQ(op, kOpFind) << Fake().Output;
        continue;
      }
      EXPECT_EQ(code, 2) << Fake().Output;
      for (const auto& [name, item] : Fake().Items) {
        if (item.IsFolder) continue;
        EXPECT_NE(Fake().Output.find("expanding : " + name + " ... end."), std::string::npos)
            << "unfinished file left: " << name;
      }
    }
  }
  EXPECT_GT(runs, 20);
}

INSTANTIATE_TEST_SUITE_P(Road, FaultInjection, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                           std::string name;
                           for (const char* p = info.param.What; *p; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

}  // namespace
