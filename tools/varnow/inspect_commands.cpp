// `varnow list` and `varnow test`, each over one or more FILEs. Both decode
// every entry with the core's modules: list because entry records sit
// between the compressed data, test because only a full decode checks every
// block, size and reference. A failed FILE is reported and the next one
// read; the exit code is the worst.
#include <stdio.h>

#include <algorithm>
#include <functional>

#include "commands.h"
#include "entry_json.h"
#include "file_times.h"
#include "progress_line.h"
#include "read_session.h"
#include "stream_digest.h"

namespace {

std::string Quoted(const CodePage& page, const std::string& text) {
  return text.empty() ? "(none)" : "\"" + DisplayText(page, text) + "\"";
}

std::string CoreText(const ArchiveInfo& info) {
  if (!info.CoreName.empty()) return info.CoreName;
  const char* looks = info.Core == CoreKind::kWindows ? ", though it starts as a Windows program"
                      : info.Core == CoreKind::kLinux ? ", though it starts as a Linux program"
                                                      : "";
  return std::string("unknown: no core this varnow carries") + looks;
}

struct Totals {
  int64_t Files = 0;
  int64_t Folders = 0;
  int64_t Bytes = 0;
};

// Every entry's record in stored order, without decoded bytes.
Status ReadRecords(ArchiveReader& reader, Totals& totals,
                   const std::function<void(const EntryRecord&)>& each) {
  ReadCallbacks callbacks;
  callbacks.Folder = [&](const EntryRecord& r) -> Status {
    ++totals.Folders;
    each(r);
    return Success();
  };
  callbacks.BeginFile = [&](const EntryRecord&, bool* want) -> Status {
    *want = false;
    return Success();
  };
  callbacks.EndFile = [&](const EntryRecord& r) -> Status {
    ++totals.Files;
    totals.Bytes += r.FileSize;
    each(r);
    return Success();
  };
  return reader.ReadEntries(callbacks);
}

// Runs one FILE at a time; reports each failure at once and keeps the worst.
template <typename Each>
Status ForEachArchive(const ReadCommand& c, Each each) {
  std::vector<uint8_t> given;
  std::vector<KnownCore> known;
  Status s = KnownCores(c.CoreFile, given, known);
  if (!s.Ok()) return s;
  if (c.Archives.size() == 1) {
    ReadCommand one = c;
    one.Archive = c.Archives[0];
    return each(one, known);
  }
  int worst = kExitSuccess;
  for (const std::string& path : c.Archives) {
    ReadCommand one = c;
    one.Archive = path;
    s = each(one, known);
    if (!s.Ok()) {
      fflush(stdout);
      fprintf(stderr, "varnow: %s\n", s.Message.c_str());
      worst = std::max(worst, s.ExitCode);
    }
  }
  return Status{worst, ""};
}

Status ListText(const ReadCommand& c, std::span<const KnownCore> known, bool first) {
  ArchiveReader reader;
  Status s = reader.Open(c.Archive, known);
  if (!s.Ok()) return s;
  const ArchiveInfo& info = reader.Info();
  CodePage page;
  if ((s = ArchiveCodePage(c, info, page)); !s.Ok()) return s;
  if (!first) printf("\n");
  printf("archive:   %s\n", DisplayPath(c.Archive).c_str());
  printf("size:      %lld bytes (code page %s)\n", static_cast<long long>(info.FileBytes),
         page.Name.c_str());
  printf("core:      %s\n", CoreText(info).c_str());
  printf("comment:   %s\n", Quoted(page, info.Comment).c_str());
  printf("run-after: %s\n", Quoted(page, info.RunAfter).c_str());
  printf("protected: %s\n", info.IsProtected ? "yes" : "no");
  if (info.CertificateBytes > 0) printf("signed:    %s\n", SignatureText(info).c_str());
  fflush(stdout);
  if ((s = UnlockFor(c, page, reader)); !s.Ok()) return s;

  printf("%-6s %10s %10s %4s %6s  %-19s  %s\n", "kind", "size", "packed", "ref", "prefix",
         "last write (UTC)", "name");
  Totals totals;
  s = ReadRecords(reader, totals, [&](const EntryRecord& r) {
    if (r.IsFolder) {
      printf("%-6s %10s %10s %4s %6s  %-19s  %s\n", "folder", "-", "-", "-", "-", "-",
             DisplayText(page, r.Name).c_str());
    } else {
      printf("%-6s %10d %10lld %4d %6d  %-19s  %s\n", "file", r.FileSize,
             static_cast<long long>(r.PackedBytes), r.StoredRefBack, r.PrefixLength,
             FormatFileTime(r.LastWrite).c_str(), DisplayText(page, r.Name).c_str());
    }
  });
  if (!s.Ok()) {
    fflush(stdout);
    return s;
  }
  printf("%lld files, %lld folders: %s\n", static_cast<long long>(totals.Files),
         static_cast<long long>(totals.Folders),
         RatioText(static_cast<uint64_t>(totals.Bytes), static_cast<uint64_t>(info.ArchiveEnd()))
             .c_str());
  return Success();
}

// One archive's JSON object; a failure ends it with an "error" member.
Status ListJson(const ReadCommand& c, std::span<const KnownCore> known, std::string& out) {
  ArchiveReader reader;
  CodePage page;
  Status s = reader.Open(c.Archive, known);
  if (s.Ok()) s = ArchiveCodePage(c, reader.Info(), page);
  if (!s.Ok()) {
    out = "{\"path\": " + JsonString(c.Archive) + ", \"error\": " + JsonString(s.Message) + "}";
    return s;
  }
  const ArchiveInfo& info = reader.Info();
  out = "{" + HeaderJsonFields(info, page);
  Totals totals;
  std::string entries;
  s = UnlockFor(c, page, reader);
  if (s.Ok()) {
    s = ReadRecords(reader, totals, [&](const EntryRecord& r) {
      entries += (entries.empty() ? "\n    " : ",\n    ") + EntryJson(r, page);
    });
  }
  const int64_t archive = info.ArchiveEnd() - 20480;  // a signature's table is no part of it
  const int64_t bytes = totals.Bytes;
  out += ",\n  \"files\": " + std::to_string(totals.Files) +
         ", \"folders\": " + std::to_string(totals.Folders) +
         ", \"input_bytes\": " + std::to_string(bytes) +
         ", \"archive_bytes\": " + std::to_string(archive) + ", \"core_bytes\": 20480";
  char ratio[32] = "null";
  if (bytes > 0) snprintf(ratio, sizeof ratio, "%.4f", static_cast<double>(archive) / bytes);
  out += std::string(", \"ratio\": ") + ratio;
  out += ",\n  \"entries\": [" + entries + (entries.empty() ? "]" : "\n  ]");
  if (!s.Ok()) out += ",\n  \"error\": " + JsonString(s.Message);
  out += "}";
  return s;
}

// A signed file whose core differs from the known one in the fields that
// signing rewrote decodes as the expander will, with the file's bytes
// there. This varnow never draws on them, but an archive packed before it
// did may: decoded again with the fields as packed, it must give the same.
Status SameAsPacked(const ReadCommand& c, std::span<const KnownCore> known, ArchiveReader& reader,
                    const StreamDigest& digest) {
  Status s = reader.Reopen(known);
  if (!s.Ok()) return s;
  reader.UseKnownCoreFields();
  StreamDigest asPacked;
  ReadCallbacks callbacks;
  callbacks.BeginFile = [&](const EntryRecord&, bool* want) -> Status {
    *want = true;
    return Success();
  };
  callbacks.Output = [&](const uint8_t* data, int32_t count) -> Status {
    asPacked.Add(std::span<const uint8_t>(data, size_t(count)));
    return Success();
  };
  if ((s = reader.ReadEntries(callbacks)); !s.Ok()) return s;
  if (asPacked.Value() == digest.Value()) return Success();
  return Damaged(DisplayPath(c.Archive) +
                 ": signed after packing, and its files draw on the core's header fields that "
                 "signing rewrote: the signed file expands to other bytes than were packed (pack "
                 "again with this varnow, which keeps clear of those fields, then sign)");
}

Status TestOne(const ReadCommand& c, std::span<const KnownCore> known) {
  ArchiveReader reader;
  Status s = reader.Open(c.Archive, known);
  if (!s.Ok()) return s;
  CodePage page;
  if ((s = ArchiveCodePage(c, reader.Info(), page)); !s.Ok()) return s;
  if ((s = UnlockFor(c, page, reader)); !s.Ok()) return s;
  int64_t files = 0, folders = 0, bytes = 0, produced = 0;
  StreamDigest digest;
  const bool wantDigest = reader.Info().SignedFieldsDiffer;  // for a second decode
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
  callbacks.Output = [&](const uint8_t* data, int32_t count) -> Status {
    produced += count;
    bytes += count;
    if (wantDigest) digest.Add(std::span<const uint8_t>(data, size_t(count)));
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
  const ArchiveInfo& info = reader.Info();
  if (info.CoreName.empty())
    return Damaged(DisplayPath(c.Archive) +
                   ": the archive decodes, but its core is none this varnow carries: it was "
                   "altered or comes from another build, and files drawing on it would come "
                   "out wrong (give --core FILE with the core it was made with)");
  const bool signedFieldsDiffer = info.SignedFieldsDiffer;
  const int64_t certificate = info.CertificateBytes;
  const bool isProtected = info.IsProtected;
  const std::string coreName = info.CoreName;
  if (signedFieldsDiffer && !(s = SameAsPacked(c, known, reader, digest)).Ok()) return s;
  if (!c.Quiet)
    printf(
        "%s: sound: %lld files, %lld folders, %lld bytes; every block, size, reference%s "
        "checks out; %s\n",
        DisplayPath(c.Archive).c_str(), static_cast<long long>(files),
        static_cast<long long>(folders), static_cast<long long>(bytes),
        isProtected ? " and the password" : "", coreName.c_str());
  if (!c.Quiet && certificate > 0)
    printf("%s: signed: certificate table of %lld bytes (not verified here)\n",
           DisplayPath(c.Archive).c_str(), static_cast<long long>(certificate));
  return Success();
}

}  // namespace

Status RunList(const ReadCommand& c) {
  if (!c.Json) {
    bool first = true;
    return ForEachArchive(c, [&](const ReadCommand& one, std::span<const KnownCore> known) {
      Status s = ListText(one, known, first);
      first = false;
      return s;
    });
  }
  std::vector<std::string> objects;
  Status s = ForEachArchive(c, [&](const ReadCommand& one, std::span<const KnownCore> known) {
    objects.emplace_back();
    return ListJson(one, known, objects.back());
  });
  // The document is printed whatever happened, so a script always reads valid JSON.
  if (objects.empty()) return s;
  if (objects.size() == 1) {
    printf("%s\n", objects[0].c_str());
  } else {
    printf("[");
    for (size_t i = 0; i < objects.size(); ++i)
      printf("%s%s", i == 0 ? "" : ",\n", objects[i].c_str());
    printf("]\n");
  }
  return s;
}

Status RunTest(const ReadCommand& c) { return ForEachArchive(c, TestOne); }
