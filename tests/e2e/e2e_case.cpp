// Runs one table row on one core and compares everything it promises: the
// console bytes, the exit code, whether the core waited for Enter, and the
// whole work folder (names, kinds, contents, last-write and last-access times).
#include "e2e_case.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

ExpectedItem Written(std::string path, std::string content) {
  return {std::move(path), false, std::move(content), kWriteTime, kAccessTime};
}
ExpectedItem Untouched(std::string path, std::string content) {
  return {std::move(path), false, std::move(content), std::nullopt, std::nullopt};
}
ExpectedItem Folder(std::string path) { return {std::move(path), true, std::nullopt, {}, {}}; }

std::vector<E2eParam> ForEachCore(const std::vector<E2eRow>& rows) {
  std::vector<E2eParam> params;
  for (const E2eRow& row : rows) {
    if (row.Only != Cores::kWindowsOnly) params.push_back({&row, CoreKind::kLinux});
    if (row.Only != Cores::kLinuxOnly) {
      params.push_back({&row, CoreKind::kWindows32});
      params.push_back({&row, CoreKind::kWindows64});
    }
  }
  return params;
}

std::string ParamName(const E2eParam& param) {
  return std::string(param.Row->Name) + "_" + CoreName(param.Kind);
}

void PrintTo(const E2eParam& param, std::ostream* out) { *out << ParamName(param); }

void ExpectRow(const E2eRow& row, CoreKind kind) {
  SCOPED_TRACE(std::string(row.Name) + " on the " + CoreName(kind) + " core: " + row.Exercises);
  Sandbox sandbox(E2ePlace(std::string(row.Name) + "-" + CoreName(kind)));
  bool helper = false;
  for (const PresetItem& item : row.Before) {
    Place(sandbox, item, kind);
    helper = helper || item.Type == PresetItem::kMarkerProgram;
  }
  Bytes file = row.Build(kind);
  ASSERT_FALSE(::testing::Test::HasFailure()) << "the distributable could not be made";

  RunRequest request;
  request.Input = ForCore(row.Input, kind);
  if (!row.WaitsAt.empty()) {
    request.Mode = InputMode::kAfterPrompt;
    request.Prompt = ForCore(row.WaitsAt, kind);
  } else if (row.NoWait) {
    request.Mode = InputMode::kKeepOpen;
    request.TimeoutMs = 30000;
  }
  request.InputStream = row.InputStream;
  request.OutputStream = row.OutputStream;
  request.ErrorStream = row.ErrorStream;
  RunResult run = RunDistributable(kind, sandbox, file, request, row.NoInputHandle);
  ASSERT_TRUE(run.Started) << Describe(run);
  EXPECT_FALSE(run.TimedOut) << "the core did not end" << (row.NoWait ? " by itself" : "") << "\n"
                             << Describe(run);
  // Without a pipe on standard output nothing is seen, not even the banner.
  const std::string banner = row.OutputStream == Stream::kPiped ? Banner(kind) : "";
  EXPECT_EQ(Visible(run.Output), Visible(banner + ForCore(row.Output, kind))) << Describe(run);
  EXPECT_EQ(run.ExitCode, row.ExitCode) << Describe(run);
  if (!row.WaitsAt.empty()) {
    EXPECT_TRUE(run.PromptSeen && run.WaitedAtPrompt)
        << "the core must wait for Enter after " << Visible(row.WaitsAt) << "\n"
        << Describe(run);
  }

  std::vector<ExpectedItem> expected = row.After;
  if (helper) expected.push_back(Untouched(MarkerProgramName(kind), ""));
  if (row.Marker) {
    EXPECT_TRUE(WaitForFile(sandbox, "marker.txt", 20000))
        << "the run-after program left no marker within 20 s";
    expected.push_back(Untouched("marker.txt", "ran"));
  }
  Tree found = Snapshot(sandbox);
  std::vector<std::string> expectedNames, foundNames;
  for (const ExpectedItem& item : expected) expectedNames.push_back(item.Path);
  for (const auto& [name, item] : found) foundNames.push_back(name);
  std::sort(expectedNames.begin(), expectedNames.end());
  EXPECT_EQ(foundNames, expectedNames) << "the work folder holds other items than expected";
  for (const ExpectedItem& item : expected) {
    auto at = found.find(item.Path);
    if (at == found.end()) continue;
    SCOPED_TRACE("item " + item.Path);
    EXPECT_EQ(at->second.Folder, item.Folder);
    bool isHelper = helper && item.Path == MarkerProgramName(kind);
    if (item.Content && !isHelper) {
      EXPECT_EQ(Visible(at->second.Content), Visible(*item.Content));
    }
    if (item.MarkerProgram) {
      EXPECT_TRUE(at->second.Content == MarkerProgramBytes(kind))
          << "the content is not the run-after helper";
    }
    if (item.CorePrefix >= 0) {
      const Bytes& core = CoreBytes(kind);
      EXPECT_TRUE(
          at->second.Content ==
          std::string(core.begin(), core.begin() + std::min<size_t>(item.CorePrefix, core.size())))
          << "the content is not the first " << item.CorePrefix << " bytes of the core";
    }
    if (item.LastWrite) {
      EXPECT_EQ(at->second.LastWrite, *item.LastWrite) << "last-write time";
    }
    if (item.LastAccess) {
      EXPECT_EQ(at->second.LastAccess, *item.LastAccess) << "last-access time";
    }
    if (item.Mode) {
      const mode_t mask = umask(0);
      umask(mask);
      EXPECT_EQ(at->second.Mode, *item.Mode & ~mask) << "permission bits";
    }
  }
  // Nothing may appear beside the work folder, nor anywhere else named.
  EXPECT_EQ(sandbox.RootNames(), std::set<std::string>{"work"});
  for (const std::string& path : row.Absent) EXPECT_FALSE(std::filesystem::exists(path)) << path;
}
