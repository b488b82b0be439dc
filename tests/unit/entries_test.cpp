// Entry records, files and folders on the fake: front-compressed names, folder
// entries, the header layout, the overwrite dialogue, folders that cannot be
// made, double-byte names, every refused name and header field, and a damaged
// block while the third file is written.
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "entries/entry_records.h"
#include "fake_platform.h"
#include "stream_builder.h"
#include "test_bytes.h"

namespace {

const std::string kFatalTail = "Press Enter key.\a\r\n";
const std::string kBroken = "This file is broken.\r\n" + kFatalTail;

FileEntryFields TextFile(const std::string& name, const std::string& content) {
  Bytes data(content.begin(), content.end());
  return FileEntryFields{
      .Name = name, .FileSize = static_cast<int32_t>(data.size()), .Data = LiteralStream(data)};
}

Bytes Archive(const std::vector<FileEntryFields>& files) {
  Bytes payload;
  for (const auto& f : files) AppendFileEntry(payload, f);
  return PayloadArchive(payload);
}

std::string Content(const std::string& name) {
  auto it = Fake().Items.find(name);
  return it == Fake().Items.end() ? "<missing>" : AsText(it->second.Data);
}

std::string Expanded(const std::string& name) { return "expanding : " + name + " ... end.\r\n"; }

struct NameCase {
  const char* What;
  std::string Stored;  // the second entry's name bytes as stored
  std::string Name;    // the name it stands for
};

class FrontCompressionTest : public testing::TestWithParam<NameCase> {};

TEST_P(FrontCompressionTest, SharesTheBeginningOfThePreviousName) {
  const NameCase& c = GetParam();
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive({TextFile("dir\\a.txt", "one"), TextFile(c.Stored, "two")})), 0)
      << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + Expanded("dir\\a.txt") + Expanded(c.Name)) << c.What;
  EXPECT_EQ(Content(c.Name), "two") << c.What;
}

INSTANTIATE_TEST_SUITE_P(Cases, FrontCompressionTest,
                         testing::Values(NameCase{"count 2: dir\\",
                                                  std::string("*\x02"
                                                              "b.txt"),
                                                  "dir\\b.txt"},
                                         NameCase{"count 3: dir\\a",
                                                  std::string("*\x03"
                                                              "b.txt"),
                                                  "dir\\ab.txt"},
                                         NameCase{"count past the previous name takes it all",
                                                  std::string("*\xC8"
                                                              "x"),
                                                  "dir\\a.txtx"},
                                         NameCase{
                                             "star and count then zero: the shared beginning alone",
                                             std::string("*\x06"), "dir\\a.tx"},
                                         NameCase{"count 0 shares two bytes",
                                                  std::string("*\x00"
                                                              "q",
                                                              3),
                                                  "diq"},
                                         NameCase{"uncompressed name", "other.txt", "other.txt"}),
                         [](const testing::TestParamInfo<NameCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

TEST(Entries, StarWithAnEmptyPreviousNameTakesTheFollowingBytes) {
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive({TextFile(std::string("*\x05"
                                                    "abc"),
                                        "x")})),
            0);
  EXPECT_EQ(Content("abc"), "x");
}

TEST(Entries, FolderEntryMakesFoldersPrintsNothingAndKeepsTheSlot) {
  // RefBack 1 after the folder entry still names the file before it.
  ResetFake();
  Bytes payload;
  AppendFileEntry(payload, TextFile("first", "history bytes"));
  AppendFolderEntry(payload, "a\\b\\.");
  AppendFileEntry(payload, FileEntryFields{
                               .Name = std::string("*\x02"
                                                   "c.txt"),
                               .FileSize = 7,
                               .RefBack = 1,
                               .PrefixLength = 7,
                           });
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + Expanded("first") + Expanded("a\\b\\c.txt"));
  EXPECT_TRUE(Fake().Items["a"].IsFolder);
  EXPECT_TRUE(Fake().Items["a\\b"].IsFolder);
  EXPECT_EQ(Content("a\\b\\c.txt"), "history");
  EXPECT_EQ(Fake().Items.size(), 4u);
}

TEST(Entries, ArchiveEndingWithAFolderEntry) {
  ResetFake();
  Bytes payload;
  AppendFileEntry(payload, TextFile("f", "x"));
  AppendFolderEntry(payload, "d\\.");
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + Expanded("f"));
  EXPECT_TRUE(Fake().Items["d"].IsFolder);
}

TEST(Entries, ExistingFoldersAreLeftAlone) {
  ResetFake();
  Fake().Items["a"].IsFolder = true;
  Bytes payload;
  AppendFolderEntry(payload, "a\\b\\.");
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0);
  EXPECT_EQ(Fake().Output, kBannerLine);
  EXPECT_EQ(Fake().Calls[kOpCreateFolder], 1);
}

struct LayoutCase {
  const char* What;
  FileEntryFields Entry;
  size_t StoredBytes;  // of the whole record
  std::string Content;
};

class HeaderLayoutTest : public testing::TestWithParam<LayoutCase> {};

TEST_P(HeaderLayoutTest, NextEntryFollowsDirectly) {
  const LayoutCase& c = GetParam();
  Bytes payload;
  AppendFileEntry(payload, c.Entry);
  EXPECT_EQ(payload.size(), c.StoredBytes) << c.What;
  AppendFileEntry(payload, TextFile("next", "N"));
  ResetFake();
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + Expanded(c.Entry.Name) + Expanded("next")) << c.What;
  EXPECT_EQ(Content(c.Entry.Name), c.Content) << c.What;
  EXPECT_EQ(Content("next"), "N") << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderLayoutTest,
    testing::Values(LayoutCase{"empty file, RefBack 0: name, 28 bytes, RefBack",
                               FileEntryFields{.Name = "e"}, 2 + 28 + 1, ""},
                    LayoutCase{"RefBack 1 with PrefixLength 0 has the two bytes",
                               FileEntryFields{.Name = "r", .RefBack = 1}, 2 + 28 + 3, ""},
                    LayoutCase{"one-byte name '.' is a file entry", FileEntryFields{.Name = "."},
                               2 + 28 + 1, ""},
                    LayoutCase{"prefix only: FileSize = PrefixLength reads no data",
                               FileEntryFields{
                                   .Name = "p", .FileSize = 3, .RefBack = 1, .PrefixLength = 3},
                               2 + 28 + 3, AsText(TestCore()).substr(0, 3)}),
    [](const testing::TestParamInfo<LayoutCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Entries, TimesAreHandedOverUnchanged) {
  ResetFake();
  FileEntryFields f = TextFile("t", "x");
  f.Creation = 0x0102030405060708ull;
  f.LastAccess = 0x1112131415161718ull;
  f.LastWrite = 0x01D0000000000000ull;
  ASSERT_EQ(RunOnFake(Archive({f})), 0);
  const FakeItem& item = Fake().Items["t"];
  ASSERT_TRUE(item.TimesSet);
  EXPECT_EQ(item.Creation.Low, 0x05060708u);
  EXPECT_EQ(item.Creation.High, 0x01020304u);
  EXPECT_EQ(item.LastAccess.Low, 0x15161718u);
  EXPECT_EQ(item.LastAccess.High, 0x11121314u);
  EXPECT_EQ(item.LastWrite.Low, 0u);
  EXPECT_EQ(item.LastWrite.High, 0x01D00000u);
}

struct AnswerCase {
  const char* What;
  std::string Input;
  bool Replaced;
};

class OverwriteTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(OverwriteTest, AsksOnceAndTakesTheAnswer) {
  const AnswerCase& c = GetParam();
  ResetFake();
  Fake().Items["F"].Data = {'o', 'l', 'd'};
  ASSERT_EQ(RunOnFake(Archive({TextFile("F", "new"), TextFile("G", "g")}), c.Input), 0) << c.What;
  std::string question = "F already exists. Overwrite? (Y/N) : \a";
  std::string line = c.Replaced ? Expanded("F") : "skipping : F\r\n";
  EXPECT_EQ(Fake().Output, kBannerLine + question + line + Expanded("G")) << c.What;
  EXPECT_EQ(Content("F"), c.Replaced ? "new" : "old") << c.What;
  EXPECT_EQ(Content("G"), "g") << c.What << ": the skipped entry's data was passed over";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OverwriteTest,
    testing::Values(AnswerCase{"y", "y\r\n", true}, AnswerCase{"Y", "Y\r\n", true},
                    AnswerCase{"a line starting with y", "yes please\r\n", true},
                    AnswerCase{"n", "n\r\n", false}, AnswerCase{"N", "N\r\n", false},
                    AnswerCase{"an ignored line, then y", "x\r\ny\r\n", true},
                    AnswerCase{"an ignored line, then n", "maybe\r\nn\r\n", false},
                    AnswerCase{"an empty line drops the next line too", "\r\ny\r\nn\r\n", false},
                    AnswerCase{"an empty line, a dropped line, then y", "\r\nn\r\ny\r\n", true},
                    AnswerCase{"end of input answers N", "", false},
                    AnswerCase{"end of input after an ignored line", "q\r\n", false},
                    AnswerCase{"Ctrl-Z answers N",
                               "\x1a"
                               "y\r\n",
                               false}),
    [](const testing::TestParamInfo<AnswerCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Entries, ExistingFolderNamedLikeAFile) {
  std::string question = "F already exists. Overwrite? (Y/N) : \a";
  ResetFake();
  Fake().Items["F"].IsFolder = true;
  EXPECT_EQ(RunOnFake(Archive({TextFile("F", "new")}), "Y\r\n\r\n"), 2);
  EXPECT_EQ(Fake().Output,
            kBannerLine + question + "expanding : F ... File write error.\r\n" + kFatalTail);
  EXPECT_TRUE(Fake().Items["F"].IsFolder);

  ResetFake();
  Fake().Items["F"].IsFolder = true;
  EXPECT_EQ(RunOnFake(Archive({TextFile("F", "new")}), "N\r\n"), 0);
  EXPECT_EQ(Fake().Output, kBannerLine + question + "skipping : F\r\n");
  EXPECT_TRUE(Fake().Items["F"].IsFolder);
}

// A link found in the destination (on Windows any reparse point) is neither
// taken as a folder nor written through, whatever the answer. The fake, like
// the system, would open a link's target when the file is created.
TEST(Entries, LinksInTheDestinationLeadNowhere) {
  const std::string question = "F already exists. Overwrite? (Y/N) : \a";
  struct Row {
    const char* What;
    std::string Link, Entry, Input;
    bool FolderEntry;
    int Exit;
    std::string Output;
  } rows[] = {
      {"a file link, replaced", "F", "F", "Y\r\n\r\n", false, 2,
       question + "expanding : F ... File write error.\r\n" + kFatalTail},
      {"a file link, kept", "F", "F", "N\r\n", false, 0, question + "skipping : F\r\n"},
      {"a folder link under a file", "d", "d\\e.txt", "", false, 2,
       "expanding : d\\e.txt ... Cannot make folder : d\a\r\n"},
      {"a folder link under a folder entry", "d", "d\\e\\.", "", true, 2,
       "Cannot make folder : d\a\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.What);
    ResetFake();
    Fake().Items["outside"].IsFolder = true;
    Fake().Items["victim"].Data = {'k', 'e', 'e', 'p'};
    Fake().Items[row.Link].LinkTarget = row.Link == "F" ? "victim" : "outside";
    Bytes payload;
    if (row.FolderEntry) {
      AppendFolderEntry(payload, row.Entry);
    } else {
      AppendFileEntry(payload, TextFile(row.Entry, "new"));
    }
    EXPECT_EQ(RunOnFake(PayloadArchive(payload), row.Input), row.Exit);
    EXPECT_EQ(Fake().Output, kBannerLine + row.Output);
    EXPECT_EQ(Content("victim"), "keep");
    EXPECT_EQ(Fake().Calls[kOpCreate], 0);
    EXPECT_EQ(Fake().Calls[kOpCreateFolder], 0);
    EXPECT_TRUE(Fake().Deleted.empty());
    EXPECT_EQ(Fake().Items.size(), 3u) << "only the link, outside and victim";
  }
}

struct FolderFailCase {
  const char* What;
  std::string Name;          // a file entry's name, or a folder entry's
  std::string ExistingFile;  // an item that is a file, in the way
  bool FailCreate;           // folder creation fails in the system
  std::string Output;        // after the banner
};

class CannotMakeFolderTest : public testing::TestWithParam<FolderFailCase> {};

TEST_P(CannotMakeFolderTest, EndsWithExitTwoAndNoWait) {
  const FolderFailCase& c = GetParam();
  ResetFake();
  if (!c.ExistingFile.empty()) Fake().Items[c.ExistingFile].Data = {'f'};
  if (c.ExistingFile == "x\\a") Fake().Items["x"].IsFolder = true;
  if (c.FailCreate) InjectFault(kOpCreateFolder, 1);
  EXPECT_EQ(RunOnFake(Archive({TextFile(c.Name, "x")}), "\r\n"), 2) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + c.Output) << c.What;
  EXPECT_EQ(Fake().InputPosition, 0u) << c.What << ": no wait for Enter";
  EXPECT_TRUE(Fake().Deleted.empty()) << c.What;
  EXPECT_FALSE(Fake().Items.count(c.Name)) << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CannotMakeFolderTest,
    testing::Values(FolderFailCase{"first prefix is a file", "a\\b.txt", "a", false,
                                   "expanding : a\\b.txt ... Cannot make folder : a\a\r\n"},
                    FolderFailCase{"deeper prefix is a file", "x\\a\\b.txt", "x\\a", false,
                                   "expanding : x\\a\\b.txt ... Cannot make folder : x\\a\a\r\n"},
                    FolderFailCase{"the system refuses the folder", "d\\e.txt", "", true,
                                   "expanding : d\\e.txt ... Cannot make folder : d\a\r\n"}),
    [](const testing::TestParamInfo<FolderFailCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Entries, FolderEntryThroughAFileCannotBeMade) {
  ResetFake();
  Fake().Items["a"].Data = {'f'};
  Bytes payload;
  AppendFolderEntry(payload, "a\\b\\.");
  EXPECT_EQ(RunOnFake(PayloadArchive(payload), "\r\n"), 2);
  EXPECT_EQ(Fake().Output, kBannerLine + std::string("Cannot make folder : a\a\r\n"));
  EXPECT_EQ(Fake().InputPosition, 0u);
}

struct DoubleByteCase {
  const char* What;
  bool DoubleByte;
  std::string Name;
  std::vector<std::string> Folders;
};

class DoubleByteNameTest : public testing::TestWithParam<DoubleByteCase> {};

TEST_P(DoubleByteNameTest, SplitsOnlyAtRealBackslashes) {
  const DoubleByteCase& c = GetParam();
  ResetFake();
  Fake().DoubleByte = c.DoubleByte;
  ASSERT_EQ(RunOnFake(Archive({TextFile(c.Name, "x")})), 0) << c.What;
  std::vector<std::string> folders;
  for (const auto& [name, item] : Fake().Items) {
    if (item.IsFolder) folders.push_back(name);
  }
  EXPECT_EQ(folders, c.Folders) << c.What;
  EXPECT_EQ(Content(c.Name), "x") << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoubleByteNameTest,
    testing::Values(DoubleByteCase{"trail byte 0x5C is not a separator",
                                   true,
                                   "d\x83\x5Cx\\f.txt",
                                   {"d\x83\x5Cx"}},
                    DoubleByteCase{"the same bytes in a single-byte code page",
                                   false,
                                   "d\x83\x5Cx\\f.txt",
                                   {"d\x83", "d\x83\x5Cx"}},
                    DoubleByteCase{"a name ending in a trail byte 0x5C", true, "\x83\x5C", {}}),
    [](const testing::TestParamInfo<DoubleByteCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Entries, DoubleByteFolderEntryEndingInTrailByteAndDot) {
  // The folder test counts bytes: 0x5C and '.' end it; the folder walk finds no backslash.
  ResetFake();
  Fake().DoubleByte = true;
  Bytes payload;
  AppendFolderEntry(payload, "\x83\x5C.");
  ASSERT_EQ(RunOnFake(PayloadArchive(payload)), 0);
  EXPECT_EQ(Fake().Output, kBannerLine);
  EXPECT_TRUE(Fake().Items.empty());
}

struct RefusedCase {
  const char* What;
  std::function<Bytes()> Payload;
  std::string Before;  // output of earlier entries
};

class RefusedEntryTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedEntryTest, IsBrokenBeforeAnythingIsMade) {
  const RefusedCase& c = GetParam();
  ResetFake();
  EXPECT_EQ(RunOnFake(PayloadArchive(c.Payload()), "\r\n"), 2) << c.What;
  EXPECT_EQ(Fake().Output, kBannerLine + c.Before + kBroken) << c.What;
  size_t before = c.Before.empty() ? 0 : 1;
  EXPECT_EQ(Fake().Items.size(), before) << c.What << ": nothing of the entry made";
  EXPECT_EQ(Fake().Calls[kOpCreateFolder], 0) << c.What;
}

std::function<Bytes()> NamedFile(const std::string& name) {
  return [name] {
    Bytes p;
    AppendFileEntry(p, TextFile(name, "x"));
    return p;
  };
}

std::function<Bytes()> NamedFolder(const std::string& name) {
  return [name] {
    Bytes p;
    AppendFolderEntry(p, name);
    return p;
  };
}

std::function<Bytes()> Header(int32_t fileSize, uint8_t refBack, uint16_t prefix,
                              bool firstFile = false) {
  return [=] {
    Bytes p;
    if (firstFile) AppendFileEntry(p, TextFile("ok", "x"));
    AppendFileEntry(p, FileEntryFields{.Name = "h",
                                       .FileSize = fileSize,
                                       .RefBack = refBack,
                                       .PrefixLength = prefix,
                                       .Data = LiteralStream(Bytes(16, 'z'))});
    return p;
  };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedEntryTest,
    testing::Values(RefusedCase{"starts with a backslash", NamedFile("\\abs.txt"), ""},
                    RefusedCase{"one-byte name backslash", NamedFile("\\"), ""},
                    RefusedCase{"starts with a slash", NamedFile("/abs.txt"), ""},
                    RefusedCase{"drive colon", NamedFile("c:x.txt"), ""},
                    RefusedCase{"stream colon", NamedFile("a.txt:s"), ""},
                    RefusedCase{"leading ..", NamedFile("..\\x"), ""},
                    RefusedCase{"inner ..", NamedFile("a\\..\\x"), ""},
                    RefusedCase{"trailing ..", NamedFile("a\\.."), ""},
                    RefusedCase{".. between slashes", NamedFile("a/../x"), ""},
                    RefusedCase{"... counts as the parent", NamedFile("a\\...\\x"), ""},
                    RefusedCase{".. with a blank", NamedFile("a\\.. \\x"), ""},
                    RefusedCase{"blank and ..", NamedFile(" ..\\x"), ""},
                    RefusedCase{"empty file name", NamedFile(""), ""},
                    RefusedCase{"star and count with no previous name: empty",
                                NamedFile(std::string("*\x03")), ""},
                    RefusedCase{"folder entry with ..", NamedFolder("..\\."), ""},
                    RefusedCase{"folder entry from the root", NamedFolder("\\x\\."), ""},
                    RefusedCase{"name of 32768 bytes", NamedFile(std::string(32768, 'n')), ""},
                    RefusedCase{"FileSize 0x80000000", Header(INT32_MIN, 0, 0), ""},
                    RefusedCase{"FileSize -1", Header(-1, 0, 0), ""},
                    RefusedCase{"RefBack to a slot never filled", Header(16, 2, 0), ""},
                    RefusedCase{"RefBack past the files of this run", Header(16, 3, 0, true),
                                "expanding : ok ... end.\r\n"},
                    RefusedCase{"PrefixLength above the core slot", Header(20481 + 16, 1, 20481),
                                ""},
                    RefusedCase{"PrefixLength above the file slot", Header(16 + 2, 1, 2, true),
                                "expanding : ok ... end.\r\n"},
                    RefusedCase{"PrefixLength above FileSize", Header(9, 1, 10), ""}),
    [](const testing::TestParamInfo<RefusedCase>& info) {
      return "Case" + std::to_string(info.index);
    });

struct AcceptedNameCase {
  const char* What;
  std::string Name;
};

class AcceptedNameTest : public testing::TestWithParam<AcceptedNameCase> {};

TEST_P(AcceptedNameTest, IsExpanded) {
  const AcceptedNameCase& c = GetParam();
  ResetFake();
  ASSERT_EQ(RunOnFake(Archive({TextFile(c.Name, "x")})), 0) << c.What;
  EXPECT_EQ(Content(c.Name), "x") << c.What;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcceptedNameTest,
    testing::Values(AcceptedNameCase{"one dot", "."}, AcceptedNameCase{"dots inside", "a..b"},
                    AcceptedNameCase{"leading dot", ".profile"},
                    AcceptedNameCase{"dots with a letter", "...x"},
                    AcceptedNameCase{"a single dot component", "d\\.\\f"},
                    AcceptedNameCase{"name of 32767 bytes", std::string(32767, 'n')}),
    [](const testing::TestParamInfo<AcceptedNameCase>& info) {
      return "Case" + std::to_string(info.index);
    });

// The two rule sets side by side: what only Windows reads specially passes
// the Linux rules, and the parent folder fails both.
TEST(Entries, NameRulesOfEachCore) {
  struct Row {
    std::string Name;
    bool Linux, Windows;
  } rows[] = {
      {"a\\b.txt", true, true},   {"a/b", true, true},        {"..", false, false},
      {"a/../b", false, false},   {"\\x", false, false},      {"/x", false, false},
      {"", false, false},         {"c:x", true, false},       {"x:stream", true, false},
      {"a\\...\\b", true, false}, {"a\\. .\\b", true, false}, {"a\\. \\b", true, true},
      {"..x", true, true},
  };
  for (const Row& r : rows) {
    const auto length = static_cast<int32_t>(r.Name.size());
    EXPECT_EQ(IsSafeNameFor(r.Name.data(), length, false), r.Linux) << r.Name;
    EXPECT_EQ(IsSafeNameFor(r.Name.data(), length, true), r.Windows) << r.Name;
  }
}

TEST(Entries, DamagedBlockWhileTheThirdFileIsWrittenDeletesOnlyIt) {
  Bytes big = test_bytes::Random(20000, 21);
  Bytes payload;
  AppendFileEntry(payload, TextFile("one", "first file"));
  AppendFileEntry(payload, TextFile("two", "second file"));
  AppendFileEntry(payload, FileEntryFields{.Name = "three",
                                           .FileSize = static_cast<int32_t>(big.size()),
                                           .Data = LiteralStream(big)});
  ASSERT_GT(payload.size(), 4u * 4096);
  Bytes file = PayloadArchive(payload);
  file[20487 + 3 * 4098 + 100] ^= 0x01;  // block 4 lies inside the third file's data
  ResetFake();
  EXPECT_EQ(RunOnFake(file, "\r\n"), 2);
  EXPECT_EQ(Fake().Output,
            kBannerLine + Expanded("one") + Expanded("two") + "expanding : three ... " + kBroken);
  EXPECT_EQ(Content("one"), "first file");
  EXPECT_EQ(Content("two"), "second file");
  EXPECT_FALSE(Fake().Items.count("three"));
  EXPECT_EQ(Fake().Deleted, std::vector<std::string>{"three"});
}

}  // namespace
