// The one-entry distributable of a single file ABABABAB, expanded on the fake.
#include <gtest/gtest.h>

#include "archive_builder.h"
#include "fake_platform.h"

TEST(Program, ExpandsOneFileEntry) {
  ResetFake();
  ArchiveParts parts;
  FileEntryFields file;
  file.Name = "A.TXT";
  file.FileSize = 8;
  file.Data = {0xAE, 0x5D, 0xAC, 0xB3, 0x0A};
  AppendFileEntry(parts.Payload, file);
  Fake().OwnFile = BuildDistributable(parts);
  EXPECT_EQ(Fake().OwnFile.size(), 20529u);
  EXPECT_EQ(RunExpander(), 0);
  EXPECT_EQ(Fake().Output,
            "*** Varnow Expander 32 Ver. 1.66 ***  by the Varnow team\r\n"
            "expanding : A.TXT ... end.\r\n");
  ASSERT_TRUE(Fake().Items.count("A.TXT"));
  const FakeItem& item = Fake().Items["A.TXT"];
  EXPECT_EQ(std::string(item.Data.begin(), item.Data.end()), "ABABABAB");
  EXPECT_EQ(item.LastWrite.High, 0x01D00000u);
  EXPECT_EQ(Fake().OpenFiles, 0);
}
