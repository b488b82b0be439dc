// Distributables made by the writer, expanded by the core's own logic on the
// fake platform: every file must come back with its bytes and times, at the
// fast and the strong levels, with and without a password.
#include <gtest/gtest.h>

#include <random>

#include "archive_builder.h"
#include "fake_platform.h"
#include "test_bytes.h"
#include "writer/archive_writer.h"

namespace {

using test_bytes::Random;

std::vector<uint8_t> Text(size_t n, uint32_t seed) {
  return test_bytes::Words(
      n, seed,
      {"void ", "Expand", "(const char* ", "name);\n", "#define ", "KEY_", "  return 0;\n"}, 4, 'A',
      26);
}

struct Source {
  std::string Name;
  bool IsFolder;
  std::vector<uint8_t> Data;
};

// The tricky spots in one set: more than 256 files, folders, the core image
// as a prefix, files at the slot size, long shared names, runs and far
// matches.
std::vector<Source> TrickySet(const std::vector<uint8_t>& core) {
  std::vector<Source> s;
  const std::string deep = "deep\\" + std::string(280, 'n');
  s.push_back({"empty folder", true, {}});
  s.push_back({deep + "\\one.txt", false, Text(3000, 1)});
  s.push_back({deep + "\\two.txt", false, Text(3000, 2)});
  std::vector<uint8_t> corePrefix(core.begin(), core.begin() + 20480);
  corePrefix.push_back('!');
  s.push_back({"bin\\core-like.exe", false, corePrefix});
  s.push_back({"bin\\exact.dat", false, Random(24576, 3)});
  s.push_back({"bin\\exact-copy.dat", false, s.back().Data});
  s.push_back({"bin\\over.dat", false, Random(24577, 4)});
  s.push_back({"bin\\over-copy.dat", false, s.back().Data});
  std::vector<uint8_t> far = Random(16384, 5);
  std::vector<uint8_t> farFile = far;
  farFile.insert(farFile.end(), far.begin(), far.begin() + 500);
  s.push_back({"far.bin", false, farFile});
  s.push_back({"zeros.bin", false, std::vector<uint8_t>(70000, 0)});
  s.push_back({"text\\big.txt", false, Text(200000, 6)});
  for (int i = 0; i < 280; ++i)
    s.push_back({"many\\f" + std::to_string(i) + (i % 2 ? ".c" : ".h"), false,
                 Text(100 + size_t(i) * 13, uint32_t(i % 9))});
  s.push_back({"nothing.txt", false, {}});
  return s;
}

void ExpandAndCompare(const std::vector<Source>& sources, const std::vector<uint8_t>& core,
                      int level, const std::string* password, bool keepOrder) {
  std::vector<ArchiveEntry> entries;
  for (size_t i = 0; i < sources.size(); ++i) {
    ArchiveEntry e;
    e.Name = sources[i].Name;
    e.IsFolder = sources[i].IsFolder;
    e.Creation = {uint32_t(i), 0x01D00000};
    e.LastAccess = {uint32_t(i) + 1, 0x01D00000};
    e.LastWrite = {uint32_t(i) + 2, 0x01D00000};
    e.Data = sources[i].Data;
    entries.push_back(e);
  }
  PackOptions options;
  options.Level = level;
  options.KeepOrder = keepOrder;
  if (password) options.Password = *password;
  std::vector<uint8_t> file;
  PackResult r = WriteArchiveToVector(core, entries, options, file);
  ASSERT_TRUE(r.Ok) << r.Error;

  ResetFake();
  Fake().OwnFile = file;
  if (password) Fake().Input = *password + "\r";
  ASSERT_EQ(RunExpander(), 0) << Fake().Output.substr(0, 2000);
  for (size_t i = 0; i < sources.size(); ++i) {
    const Source& s = sources[i];
    auto it = Fake().Items.find(s.Name);
    ASSERT_NE(it, Fake().Items.end()) << s.Name;
    EXPECT_EQ(it->second.IsFolder, s.IsFolder) << s.Name;
    if (s.IsFolder) continue;
    EXPECT_TRUE(it->second.Data == s.Data) << s.Name;
    EXPECT_EQ(it->second.LastWrite.Low, uint32_t(i) + 2) << s.Name;
  }
}

TEST(WriterExpander, CoreExpandsWhatTheWriterPacks) {
  const std::vector<uint8_t> core = TestCore();
  const std::vector<Source> sources = TrickySet(core);
  const std::string password = "pa55word";
  struct Row {
    int Level;
    const std::string* Password;
    bool KeepOrder;
  } rows[] = {
      {1, nullptr, false}, {6, &password, false}, {9, nullptr, true}, {9, &password, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE("level " + std::to_string(row.Level) + (row.Password ? ", protected" : "") +
                 (row.KeepOrder ? ", kept order" : ""));
    ExpandAndCompare(sources, core, row.Level, row.Password, row.KeepOrder);
  }
}

}  // namespace
