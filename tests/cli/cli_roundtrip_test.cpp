// Golden round trips: a folder tree with the format's tricky spots (nested
// and empty folders, an empty file, files of 24576 and 24577 bytes, more than
// 256 files, names sharing more than 257 bytes, similar beginnings) is packed
// for the Linux core, then expanded by `varnow extract` and by the real Linux
// core in the distributable itself; both must give back every byte and every
// last-write time. One row per level and password choice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>

#include "cli_harness.h"

namespace fs = std::filesystem;

namespace {

// Builds the tree below root; returns the number of files.
int MakeTree(const fs::path& root) {
  int files = 0;
  auto file = [&](const std::string& name, const Bytes& data) {
    WriteFile(root / name, data);
    // Whole 100-ns steps, so the archive's file times hold them exactly.
    SetTimes(root / name, 1000000000 + files * 3601, (files * 700) % 1000000000);
    ++files;
  };
  file("nested/a/b/c/deep.txt", test_bytes::Text(5000, 1));
  file("zero.bin", {});
  file("exact-24576.bin", test_bytes::Text(24576, 2));
  file("over-24577.bin", test_bytes::Text(24577, 2));
  fs::create_directories(root / "empty");
  fs::create_directories(root / "nested/also-empty");
  for (int i = 0; i < 300; ++i) {
    char name[32];
    snprintf(name, sizeof name, "many/f%03d.txt", i);
    file(name, test_bytes::Text(100 + static_cast<size_t>(i) * 7, static_cast<uint32_t>(1000 + i)));
  }
  const std::string longPath = std::string(200, 'L') + "/" + std::string(100, 'm') + "/";
  file(longPath + "one.txt", test_bytes::Text(3000, 7));
  file(longPath + "two.txt", test_bytes::Text(3000, 8));
  Bytes head = test_bytes::Text(30000, 9);
  file("similar/x1.log", head);
  head.insert(head.end(), {'t', 'a', 'i', 'l'});
  file("similar/x2.log", head);
  return files;
}

struct RoundTrip {
  const char* What;
  int Level;
  std::string Password;  // empty: unprotected
};

class CliRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(CliRoundTrip, ExtractAndLinuxCoreReproduceTheTree) {
  const RoundTrip& row = GetParam();
  Sandbox b;
  const int files = MakeTree(b / "tree");
  std::vector<std::string> pack = {"pack",  "-q",      "--target",
                                   "linux", "--level", std::to_string(row.Level)};
  std::vector<std::string> password;
  std::string typed;
  if (!row.Password.empty()) {
    WriteText(b / "pw", row.Password + "\n");
    password = {"--password-file", (b / "pw").string()};
    typed = row.Password + "\n";
  }
  pack.insert(pack.end(), password.begin(), password.end());
  pack.push_back((b / "dist").string());
  pack.push_back((b / "tree").string());
  RunResult packed = RunVarnow(pack);
  ASSERT_EQ(packed.ExitCode, 0) << packed.Errors;
  EXPECT_EQ(packed.Errors, "");

  std::vector<std::string> list = {"list"};
  list.insert(list.end(), password.begin(), password.end());
  list.push_back((b / "dist").string());
  RunResult listed = RunVarnow(list);
  ASSERT_EQ(listed.ExitCode, 0) << listed.Errors;
  // The two empty folders are entries of their own; the others are made for their files.
  EXPECT_NE(listed.Output.find(std::to_string(files) + " files, 2 folders"), std::string::npos)
      << listed.Output;

  std::vector<std::string> extract = {"extract", "-q", "-C", (b / "out").string()};
  extract.insert(extract.end(), password.begin(), password.end());
  extract.push_back((b / "dist").string());
  RunResult extracted = RunVarnow(extract);
  ASSERT_EQ(extracted.ExitCode, 0) << extracted.Errors;
  EXPECT_EQ(CompareTrees(b / "tree", b / "out/tree"), "");

  fs::create_directories(b / "run");
  // Made on Windows, where files have no execute bit, it is made runnable here.
  if (IsWindowsTool()) fs::permissions(b / "dist", fs::perms::owner_exec, fs::perm_options::add);
  RunResult core = RunCommand((b / "dist").string(), {}, typed, b / "run");
  ASSERT_EQ(core.ExitCode, 0) << core.Output;
  EXPECT_EQ(CompareTrees(b / "tree", b / "run/tree"), "");
}

INSTANTIATE_TEST_SUITE_P(Levels, CliRoundTrip,
                         ::testing::Values(RoundTrip{"fastest", 1, ""},
                                           RoundTrip{"default_with_password", 6, "tr0ub4dor"},
                                           RoundTrip{"smallest_with_password", 9, "p"}),
                         [](const ::testing::TestParamInfo<RoundTrip>& info) {
                           return std::string(info.param.What);
                         });

// The format keeps no permission bits; on Linux the content decides. A file
// that begins with "#!" or the ELF magic comes out of `varnow extract`
// executable (0777 less the umask), whatever its mode when packed, also when
// it replaces one; any other file as 0666 less the umask.
TEST(CliModes, ProgramsComeOutExecutable) {
  const auto text = [](const std::string& t) { return Bytes(t.begin(), t.end()); };
  const std::vector<std::tuple<std::string, Bytes, bool>> rows = {
      {"setup.sh", text("#!/bin/sh\necho set up\n"), true},
      {"true", ReadFile("/bin/true"), true},
      {"readme.txt", text("# #!/bin/sh\n"), false},
      {"cut-elf", {0x7F, 'E', 'L'}, false},
      {"empty", {}, false},
  };
  Sandbox b;
  for (const auto& [name, content, executable] : rows) WriteFile(b / ("tree/" + name), content);
  ASSERT_EQ(RunVarnow({"pack", "-q", (b / "dist").string(), (b / "tree").string()}).ExitCode, 0);
  const mode_t mask = umask(0);
  umask(mask);
  for (const char* overwrite : {"--skip-existing", "--overwrite"}) {
    RunResult r =
        RunVarnow({"extract", "-q", overwrite, "-C", (b / "out").string(), (b / "dist").string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Errors;
    for (const auto& [name, content, executable] : rows) {
      struct stat st;
      ASSERT_EQ(stat((b / "out/tree" / name).c_str(), &st), 0) << name;
      EXPECT_EQ(st.st_mode & 0777, (executable ? 0777u : 0666u) & ~mask)
          << overwrite << " " << name;
      // Private before they are replaced: the new files take no mode from them.
      if (std::string(overwrite) == "--skip-existing")
        fs::permissions(b / "out/tree" / name, fs::perms(0600));
    }
  }
  EXPECT_EQ(RunCommand((b / "out/tree/setup.sh").string(), {}).Output, "set up\n");
}

}  // namespace
