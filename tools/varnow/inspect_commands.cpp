// `varnow list` and `varnow test`. Both decode every entry with the core's
// modules: list because entry records sit between the compressed data, test
// because only a full decode checks every block, size and reference.
#include <stdio.h>

#include "commands.h"
#include "file_times.h"
#include "progress_line.h"
#include "read_session.h"

namespace {

const char* CoreName(CoreKind kind) {
  switch (kind) {
    case CoreKind::kWindows:
      return "Windows";
    case CoreKind::kLinux:
      return "Linux";
    default:
      return "unknown";
  }
}

std::string Quoted(const CodePage& page, const std::string& text) {
  return text.empty() ? "(none)" : "\"" + DisplayText(page, text) + "\"";
}

double Percent(double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; }

}  // namespace

Status RunList(const ReadCommand& c) {
  ArchiveReader reader;
  Status s = reader.Open(c.Archive);
  if (!s.Ok()) return s;
  const ArchiveInfo& info = reader.Info();
  CodePage page;
  if ((s = ArchiveCodePage(c, info, page)); !s.Ok()) return s;
  printf("archive:   %s\n", DisplayPath(c.Archive).c_str());
  printf("size:      %lld bytes (%s core of 20480 bytes, code page %s)\n",
         static_cast<long long>(info.FileBytes), CoreName(info.Core), page.Name.c_str());
  printf("comment:   %s\n", Quoted(page, info.Comment).c_str());
  printf("run-after: %s\n", Quoted(page, info.RunAfter).c_str());
  printf("protected: %s\n", info.IsProtected ? "yes" : "no");
  fflush(stdout);
  if ((s = UnlockFor(c, page, reader)); !s.Ok()) return s;

  printf("%-6s %10s %10s %4s %6s  %-19s  %s\n", "kind", "size", "packed", "ref", "prefix",
         "last write (UTC)", "name");
  int64_t files = 0, folders = 0, bytes = 0;
  ReadCallbacks callbacks;
  callbacks.Folder = [&](const EntryRecord& r) -> Status {
    ++folders;
    printf("%-6s %10s %10s %4s %6s  %-19s  %s\n", "folder", "-", "-", "-", "-", "-",
           DisplayText(page, r.Name).c_str());
    return Success();
  };
  callbacks.BeginFile = [&](const EntryRecord&, bool* want) -> Status {
    *want = false;
    return Success();
  };
  callbacks.EndFile = [&](const EntryRecord& r) -> Status {
    ++files;
    bytes += r.FileSize;
    printf("%-6s %10d %10lld %4d %6d  %-19s  %s\n", "file", r.FileSize,
           static_cast<long long>(r.PackedBytes), r.StoredRefBack, r.PrefixLength,
           FormatFileTime(r.LastWrite).c_str(), DisplayText(page, r.Name).c_str());
    return Success();
  };
  if ((s = reader.ReadEntries(callbacks)); !s.Ok()) {
    fflush(stdout);
    return s;
  }
  const int64_t archiveBytes = info.FileBytes - 20480;
  printf(
      "%lld files, %lld folders: %lld bytes in an archive of %lld bytes after the core "
      "(%.1f%%)\n",
      static_cast<long long>(files), static_cast<long long>(folders), static_cast<long long>(bytes),
      static_cast<long long>(archiveBytes),
      Percent(static_cast<double>(archiveBytes), static_cast<double>(bytes)));
  return Success();
}

Status RunTest(const ReadCommand& c) {
  ArchiveReader reader;
  Status s = reader.Open(c.Archive);
  if (!s.Ok()) return s;
  CodePage page;
  if ((s = ArchiveCodePage(c, reader.Info(), page)); !s.Ok()) return s;
  if ((s = UnlockFor(c, page, reader)); !s.Ok()) return s;
  int64_t files = 0, folders = 0, bytes = 0, produced = 0;
  ProgressLine progress(c.Quiet);
  ReadCallbacks callbacks;
  callbacks.Folder = [&](const EntryRecord&) -> Status {
    ++folders;
    return Success();
  };
  callbacks.BeginFile = [&](const EntryRecord&, bool* want) -> Status {
    *want = true;  // every byte goes through the window's flushes
    produced = 0;
    return Success();
  };
  callbacks.Output = [&](const uint8_t*, int32_t count) -> Status {
    produced += count;
    bytes += count;
    return Success();
  };
  callbacks.EndFile = [&](const EntryRecord& r) -> Status {
    ++files;
    if (produced != r.FileSize)
      return Damaged(DisplayPath(c.Archive) + ": damaged: entry '" + DisplayText(page, r.Name) +
                     "' gives " + std::to_string(produced) + " bytes instead of " +
                     std::to_string(r.FileSize));
    return Success();
  };
  callbacks.Progress = [&](int64_t done, int64_t total) {
    progress.Update(done, total, bytes > 0 ? static_cast<double>(done) / bytes : -1);
  };
  s = reader.ReadEntries(callbacks);
  progress.Finish();
  if (!s.Ok()) return s;
  if (!c.Quiet)
    printf(
        "%s: sound: %lld files, %lld folders, %lld bytes; every block, size, reference%s "
        "checks out\n",
        DisplayPath(c.Archive).c_str(), static_cast<long long>(files),
        static_cast<long long>(folders), static_cast<long long>(bytes),
        reader.Info().IsProtected ? " and the password" : "");
  return Success();
}
