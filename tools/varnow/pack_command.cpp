// `varnow pack`: gathers the sources, checks every name, lets the encoder
// read the files a window at a time and write the distributable into a
// temporary file beside OUTPUT as it codes, verifies it by decoding it with
// the core's own modules, and only then renames it into place, so a failed
// or interrupted pack leaves nothing.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>

#include "archive_reader.h"
#include "commands.h"
#include "embedded_cores.h"
#include "entry_json.h"
#include "file_times.h"
#include "format/format.h"
#include "host/host.h"
#include "pack_sources.h"
#include "password_input.h"
#include "progress_line.h"
#include "source_files.h"
#include "text_codec.h"
#include "writer/archive_writer.h"

namespace {

constexpr const char* kExistsText = "already exists; use -f/--force to replace it";
// The recipient's folder that a Windows name's length is weighed against:
// MAX_PATH is 260 with the closing zero, and "C:\Users\<name>\Downloads\"
// with a folder of the distributable's own often takes some 80 characters.
constexpr size_t kWindowsPathLimit = 259;
constexpr size_t kRecipientFolderAllowance = 80;

// The temporary output, removed on every way out but the rename, also
// when the process is interrupted.
class TemporaryOutput {
 public:
  ~TemporaryOutput() { Discard(); }

  Status Create(const std::string& output) {
    if (host::Error e = host::CreateTemporaryBeside(output, file_, path_))
      return Damaged(DisplayPath(output) + ": cannot create: " + e.Text);
    return Success();
  }
  host::File& File() { return file_; }
  const std::string& Path() const { return path_; }
  Status Finish(const std::string& output) {
    // The distributable is a program: executable where the umask allows.
    host::Error e = file_.MakeExecutable();
    if (!e) e = file_.Flush();
    if (host::Error closed = file_.Close(); !e) e = closed;
    if (e) return Damaged(DisplayPath(output) + ": cannot write: " + e.Text);
    return Success();
  }
  // Without replace, a file that appeared at output meanwhile is kept.
  Status RenameTo(const std::string& output, bool replace) {
    if (replace) {
      if (host::Error e = host::RenameReplacing(path_, output))
        return Damaged(DisplayPath(output) + ": cannot replace: " + e.Text);
    } else if (host::Error e = host::RenameNoReplace(path_, output)) {
      if (e.Kind == host::Failure::kExists)
        return Refused(DisplayPath(output) + ": " + kExistsText);
      return Damaged(DisplayPath(output) + ": cannot write: " + e.Text);
    }
    path_.clear();
    host::ForgetTemporary();
    return Success();
  }
  void Discard() {
    file_.Close();
    if (!path_.empty()) host::RemoveFile(path_);
    path_.clear();
    host::ForgetTemporary();
  }

 private:
  host::File file_;
  std::string path_;
};

bool SameTime(const FileTime& a, const FileTime& b) { return a.Low == b.Low && a.High == b.High; }

// Decodes the new distributable with the core's modules and compares every
// entry with what was meant to go in: names, sizes and times, and the
// decoded bytes with the digest of the bytes that were read.
Status VerifyArchive(const std::string& path, const std::string& output,
                     const std::optional<std::string>& password, const PackResult& packed,
                     const std::vector<ArchiveEntry>& entries,
                     const std::vector<ReadRecord>& records, const CodePage& page) {
  ArchiveReader reader;
  Status s = reader.Open(path);
  if (s.Ok()) s = reader.Unlock(password.value_or(""));
  if (!s.Ok()) return Damaged(DisplayPath(output) + ": verification failed: " + s.Message);
  size_t k = 0;
  size_t input = 0;
  uint64_t offset = 0;
  StreamDigest digest;
  auto mismatch = [&](const std::string& name, const std::string& what) {
    return Damaged(DisplayPath(output) + ": verification failed: entry '" +
                   DisplayText(page, name) + "' " + what + "; the new file was discarded");
  };
  ReadCallbacks callbacks;
  callbacks.Folder = [&](const EntryRecord& r) -> Status {
    if (k >= packed.Entries.size() || !packed.Entries[k].IsFolder ||
        packed.Entries[k].StoredName != r.Name)
      return mismatch(r.Name, "is not the folder that was packed there");
    ++k;
    return Success();
  };
  callbacks.BeginFile = [&](const EntryRecord& r, bool* want) -> Status {
    if (k >= packed.Entries.size() || packed.Entries[k].IsFolder ||
        packed.Entries[k].StoredName != r.Name)
      return mismatch(r.Name, "is not the file that was packed there");
    input = packed.Entries[k].InputIndex;
    const ArchiveEntry& e = entries[input];
    if (static_cast<uint64_t>(r.FileSize) != records[input].Bytes || !records[input].Finished)
      return mismatch(r.Name, "has the wrong size");
    if (!SameTime(r.Creation, e.Creation) || !SameTime(r.LastAccess, e.LastAccess) ||
        !SameTime(r.LastWrite, e.LastWrite))
      return mismatch(r.Name, "has the wrong times");
    offset = 0;
    digest = StreamDigest();
    *want = true;
    return Success();
  };
  callbacks.Output = [&](const uint8_t* data, int32_t count) -> Status {
    offset += static_cast<uint64_t>(count);
    if (offset > records[input].Bytes)
      return mismatch(entries[input].Name, "decodes to too many bytes");
    digest.Add(std::span<const uint8_t>(data, static_cast<size_t>(count)));
    return Success();
  };
  callbacks.EndFile = [&](const EntryRecord& r) -> Status {
    if (offset != records[input].Bytes) return mismatch(r.Name, "decodes to too few bytes");
    if (digest.Value() != records[input].Digest)
      return mismatch(r.Name, "decodes to other bytes than were read");
    ++k;
    return Success();
  };
  s = reader.ReadEntries(callbacks);
  if (!s.Ok()) {
    if (s.Message.find("verification failed") != std::string::npos) return s;
    return Damaged(DisplayPath(output) + ": verification failed: " + s.Message);
  }
  if (k != packed.Entries.size())
    return Damaged(DisplayPath(output) + ": verification failed: entries are missing");
  return Success();
}

Status ChooseCore(const PackCommand& c, std::vector<uint8_t>& core, TargetKind& target) {
  if (!c.CoreFile.empty()) {
    std::string bytes;
    Status s = ReadWholeFile(c.CoreFile, bytes);
    if (!s.Ok()) return s;
    if (bytes.size() != static_cast<size_t>(kCoreSize))
      return Refused(DisplayPath(c.CoreFile) + ": has " + std::to_string(bytes.size()) +
                     " bytes; a core has exactly 20480");
    core.assign(bytes.begin(), bytes.end());
    target = bytes.compare(0, 2, "MZ") == 0 ? TargetKind::kWindows : TargetKind::kLinux;
    return Success();
  }
  std::span<const uint8_t> embedded;
  if (c.Target == "linux") {
    embedded = EmbeddedLinuxCore();
    target = TargetKind::kLinux;
  } else {
    embedded = EmbeddedWindowsCore();
    target = TargetKind::kWindows;
    if (embedded.empty())
      return Refused(
          "--target windows: this varnow was built without the Windows core "
          "(VARNOW_WINDOWS_CORE=OFF); use --target linux or --core FILE");
  }
  core.assign(embedded.begin(), embedded.end());
  return Success();
}

Status ConvertText(const CodePage& page, const std::string& what, std::string& text) {
  std::optional<std::string> converted = FromUtf8(page, text);
  if (!converted) return Refused(what + " cannot be represented in code page " + page.Name);
  text = std::move(*converted);
  return Success();
}

// Characters as Windows counts them (UTF-16 units) in a UTF-8 name.
size_t Utf16Length(const std::string& utf8) {
  size_t units = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
  }
  return units;
}

// SOURCE_DATE_EPOCH as reproducible builds define it: decimal seconds since
// 1970; set but malformed is an error, not a silent fallback.
Status SourceDateEpoch(std::optional<FileTime>& clamp) {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == 0) return Success();
  char* end = nullptr;
  errno = 0;
  long long seconds = strtoll(text, &end, 10);
  if (*end != 0 || errno != 0 || seconds < 0 || seconds > 253402300799LL)
    return Refused(std::string("SOURCE_DATE_EPOCH=") + DisplayPath(text) +
                   ": not a number of seconds since 1970");
  clamp = ToFileTime(seconds, 0);
  return Success();
}

FileTime Clamped(const FileTime& t, const std::optional<FileTime>& clamp) {
  if (!clamp) return t;
  auto ticks = [](const FileTime& f) { return static_cast<uint64_t>(f.High) << 32 | f.Low; };
  return ticks(t) > ticks(*clamp) ? *clamp : t;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The options of the writer from the command line: the texts in the target's
// code page, the password asked or read, every one checked by the writer.
Status BuildOptions(const PackCommand& c, const CodePage& page, PackOptions& options) {
  options.Level = c.LevelFlag != 0 ? c.LevelFlag : c.Level;
  options.Threads = c.Threads;
  Status s;
  if (c.Comment) {
    options.Comment = *c.Comment;
  } else if (!c.CommentFile.empty()) {
    if ((s = ReadWholeFile(c.CommentFile, options.Comment)); !s.Ok()) return s;
  }
  if ((s = ConvertText(page, "the comment", options.Comment)); !s.Ok()) return s;
  options.RunAfter = c.RunAfter;
  if ((s = ConvertText(page, "the run-after command", options.RunAfter)); !s.Ok()) return s;
  if (c.Password.Given()) {
    std::string password;
    s = c.Password.Ask ? AskPassword(true, password) : ReadPasswordFile(c.Password.File, password);
    if (!s.Ok()) return s;
    if ((s = ConvertText(page, "the password", password)); !s.Ok()) return s;
    options.Password = password;
  }
  if (std::optional<std::string> problem = PackOptionsProblem(options)) return Refused(*problem);
  return Success();
}

// The output may be replaced only with -f, and never a folder.
Status CheckOutput(const PackCommand& c, host::ItemInfo& existing, bool& exists) {
  host::Error error;
  const host::Probe probe = host::ProbePath(c.Output, existing, error);
  exists =
      probe == host::Probe::kFile || probe == host::Probe::kFolder || probe == host::Probe::kOther;
  // The output's own pair, to leave it out of the sources.
  if (exists && !existing.IsFolder && host::Identify(c.Output, existing))
    existing.IdentityKnown = false;
  if (exists && existing.IsFolder) return Refused(DisplayPath(c.Output) + ": is a folder");
  if (exists && !c.Force) return Refused(DisplayPath(c.Output) + ": " + kExistsText);
  return Success();
}

void Warn(const std::string& message) { fprintf(stderr, "varnow: warning: %s\n", message.c_str()); }

// The sources and the listed paths, each once; the output itself is left out.
Status GatherItems(const PackCommand& c, const host::ItemInfo* existing,
                   std::vector<SourceItem>& items) {
  std::vector<std::string> listed;
  Status s;
  if (!c.FilesFrom.empty()) {
    if ((s = ReadPathList(c.FilesFrom, c.NullSeparated, listed)); !s.Ok()) return s;
  } else if (c.NullSeparated) {
    return Refused("--null describes the --files-from list; give --files-from FILE");
  }
  if (c.Sources.empty() && c.FilesFrom.empty())
    return Refused("nothing to pack: give SOURCE or --files-from FILE");
  if ((s = GatherSources(c.Sources, c.Excludes, items, Warn)); !s.Ok()) return s;
  if ((s = GatherListed(listed, c.Excludes, items, Warn)); !s.Ok()) return s;
  DropRepeats(items);
  if (existing != nullptr) {
    auto self = std::find_if(items.begin(), items.end(), [&](SourceItem& i) {
      return !i.IsFolder && existing->IdentityKnown && i.Size == existing->Size && Identified(i) &&
             i.Device == existing->Device && i.Identity == existing->Identity;
    });
    if (self != items.end()) {
      Warn(DisplayPath(self->DiskPath) + ": skipped: it is the output file");
      items.erase(self);
    }
  }
  return Success();
}

// Warnings for a Windows target about a name that differs from another only
// in case, or that will be too long in a deep folder of the recipient's.
void WarnAboutWindowsName(const SourceItem& item, const std::string& stored,
                          const std::vector<SourceItem>& items,
                          std::map<std::string, size_t>& byFoldedName, size_t index) {
  auto [folded, unique] = byFoldedName.emplace(LowerAscii(stored), index);
  if (!unique)
    Warn(DisplayPath(item.DiskPath) + " and " + DisplayPath(items[folded->second].DiskPath) +
         " differ only in case; on Windows the second replaces the first");
  const size_t length = Utf16Length(item.Relative);
  if (length + kRecipientFolderAllowance > kWindowsPathLimit)
    Warn(DisplayPath(item.DiskPath) + ": the stored name has " + std::to_string(length) +
         " characters; expanded in a folder whose path has more than " +
         std::to_string(length < kWindowsPathLimit ? kWindowsPathLimit - length - 1 : 0) +
         ", its full path passes the 260 characters that Windows file calls take");
}

// Every item's stored name and times. All names that cannot be stored are
// reported in one run, before anything is read or written.
Status NameItems(const std::vector<SourceItem>& items, const CodePage& page, TargetKind target,
                 std::vector<ArchiveEntry>& entries) {
  std::optional<FileTime> clamp;
  Status s;
  if ((s = SourceDateEpoch(clamp)); !s.Ok()) return s;
  entries.assign(items.size(), ArchiveEntry{});
  std::vector<std::string> refusals;
  std::map<std::string, size_t> byName;
  std::map<std::string, size_t> byFoldedName;
  for (size_t i = 0; i < items.size(); ++i) {
    ArchiveEntry& e = entries[i];
    if ((s = StoredName(items[i].Relative, items[i].DiskPath, page, target, e.Name)); !s.Ok()) {
      refusals.push_back(s.Message);
      continue;
    }
    auto [at, fresh] = byName.emplace(e.Name, i);
    if (!fresh) {
      refusals.push_back(DisplayPath(items[i].DiskPath) + " and " +
                         DisplayPath(items[at->second].DiskPath) + " would both be stored as " +
                         DisplayText(page, e.Name));
      continue;
    }
    if (target == TargetKind::kWindows)
      WarnAboutWindowsName(items[i], e.Name, items, byFoldedName, i);
    e.IsFolder = items[i].IsFolder;
    e.Creation = Clamped(items[i].Creation, clamp);
    e.LastAccess = Clamped(items[i].LastAccess, clamp);
    e.LastWrite = Clamped(items[i].LastWrite, clamp);
  }
  if (refusals.empty()) return Success();
  for (const std::string& r : refusals) fprintf(stderr, "varnow: %s\n", r.c_str());
  return Refused(std::to_string(refusals.size()) + (refusals.size() == 1 ? " name" : " names") +
                 " cannot be stored for the " +
                 (target == TargetKind::kWindows ? "Windows" : "Linux") +
                 " target; nothing was written");
}

// Every file's size as listed, refused at once when the format cannot hold it.
Status SizeFiles(const std::vector<SourceItem>& items, std::vector<ArchiveEntry>& entries) {
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].IsFolder) continue;
    if (items[i].Size >= (uint64_t{1} << 31))
      return Refused(DisplayPath(items[i].DiskPath) +
                     ": the file has 2^31 bytes or more, which the format cannot hold");
    entries[i].Size = items[i].Size;
  }
  if (entries.empty()) return Refused("there is nothing to pack in the sources given");
  return Success();
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A name that does not suit the target: Windows runs only .exe files, and a
// Linux program called .exe looks like one for Windows.
void WarnAboutOutputName(const std::string& output, TargetKind target) {
  const size_t slash = output.rfind('/');
  const std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  const size_t dot = base.rfind('.');
  const std::string extension =
      dot == std::string::npos || dot == 0 ? "" : LowerAscii(base.substr(dot + 1));
  if (target == TargetKind::kLinux && extension == "exe")
    Warn(DisplayPath(output) +
         ": a .exe name for a Linux distributable; Windows cannot run it (--target windows "
         "makes one for Windows)");
  if (target == TargetKind::kWindows &&
      (extension.empty() || extension == "run" || extension == "sh"))
    Warn(DisplayPath(output) + ": a Windows distributable " +
         (extension.empty() ? std::string("without the .exe extension") : "named ." + extension) +
         "; Windows runs it only as .exe, and Linux cannot run it (--target linux makes one "
         "for Linux)");
}

// The folder separators and a leading "./" of a run-after text as a stored
// name has them.
std::string AsStoredName(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  while (text.size() > 2 && text[0] == '.' && text[1] == '\\') text.erase(0, 2);
  return text;
}

bool IsAbsoluteCommand(const std::string& text) {
  return (!text.empty() && (text[0] == '/' || text[0] == '\\')) ||
         (text.size() > 1 && text[1] == ':' && isalpha(static_cast<unsigned char>(text[0])));
}

// The run-after text is opened whole, as one name, from the folder the
// recipient expands in: a text with blanks is not split into a program and
// its arguments, and a name that is neither in the archive nor absolute is
// found only if the recipient's system happens to have it.
void WarnAboutRunAfter(const std::string& runAfter, const std::vector<ArchiveEntry>& entries,
                       TargetKind target, const CodePage& page) {
  if (runAfter.empty()) return;
  const std::string wanted = AsStoredName(runAfter);
  const bool windows = target == TargetKind::kWindows;
  for (const ArchiveEntry& e : entries) {
    if (e.IsFolder) continue;
    if (e.Name == wanted || (windows && LowerAscii(e.Name) == LowerAscii(wanted))) return;
  }
  const std::string shown = "--run-after '" + DisplayText(page, runAfter) + "'";
  if (runAfter.find_first_of(" \t") != std::string::npos) {
    Warn(shown +
         ": the whole text is taken as one program name (no arguments are split off at "
         "blanks), and no file in the archive has that name; the recipient will see "
         "\"Couldn't run\" unless such a file exists there");
    return;
  }
  if (!IsAbsoluteCommand(runAfter))
    Warn(shown +
         ": names no file in the archive and no absolute path; it runs only if the "
         "recipient's system finds a program or document of that name");
}

// The distributable into a temporary file beside the output, verified when
// asked, then renamed into place.
Status WriteDistributable(const PackCommand& c, const std::vector<uint8_t>& core, TargetKind target,
                          const std::vector<SourceItem>& items,
                          const std::vector<ArchiveEntry>& entries, PackOptions& options,
                          const CodePage& page, PackResult& result) {
  TemporaryOutput temporary;
  Status s;
  if ((s = temporary.Create(c.Output)); !s.Ok()) return s;
  // Warnings once nothing more is refused before the files are read.
  WarnAboutOutputName(c.Output, target);
  WarnAboutRunAfter(options.RunAfter, entries, target, page);
  FileOutput output(temporary.File(), FolderOf(c.Output));
  std::vector<std::string> paths;
  std::vector<uint64_t> sizes;
  for (const SourceItem& item : items) {
    paths.push_back(item.DiskPath);
    sizes.push_back(item.Size);
  }
  std::vector<ReadRecord> records(items.size());
  SourceReader reader(std::move(paths), std::move(sizes), records);
  options.Reader = &reader;
  {
    ProgressLine progress(c.Quiet);
    options.Progress = [&](uint64_t done, uint64_t total, uint64_t packed, uint64_t finished) {
      progress.Update(
          static_cast<int64_t>(done), static_cast<int64_t>(total),
          finished > 0 ? static_cast<double>(packed) / static_cast<double>(finished) : -1);
    };
    result = WriteArchive(core, entries, options, output);
  }
  if (!result.Ok) {
    const std::string notWritten = "; " + DisplayPath(c.Output) + " was not written";
    if (result.Failure == PackFailure::kWrite)
      return Damaged(DisplayPath(c.Output) +
                     ": cannot write: " + (output.Error() ? output.Error().Text : result.Error));
    const bool named = result.ErrorEntry && *result.ErrorEntry < items.size();
    const std::string subject =
        named ? DisplayPath(items[*result.ErrorEntry].DiskPath) : DisplayPath(c.Output);
    if (result.Failure == PackFailure::kRead)
      return Damaged(subject + ": " + result.Error + notWritten);
    return Refused(subject + ": " + result.Error);
  }
  if ((s = temporary.Finish(c.Output)); !s.Ok()) return s;
  if (c.Verify) {
    s = VerifyArchive(temporary.Path(), c.Output, options.Password, result, entries, records, page);
    if (!s.Ok()) return s;
  }
  return temporary.RenameTo(c.Output, c.Force);
}

void ReportPacked(const PackCommand& c, const PackResult& result) {
  uint64_t input = 0;
  size_t files = 0, folders = 0;
  for (const EntryStats& e : result.Entries) {
    if (e.IsFolder) {
      ++folders;
    } else {
      ++files;
      input += e.FileSize;
    }
  }
  printf("%s: %zu files, %zu empty folders: %s%s\n", DisplayPath(c.Output).c_str(), files, folders,
         RatioText(input, result.ArchiveBytes).c_str(), c.Verify ? ", verified" : "");
}

// The refusals about the command line itself, before anything is read.
Status CheckCommandLine(const PackCommand& c) {
  if (!c.Output.empty() && c.Output[0] == '-' && !c.OutputAfterSeparator) {
    const std::string why = c.Output == "-" ? "varnow does not write to standard output, and a "
                                              "name '-' is usually a mistake"
                                            : "it looks like a mistyped option";
    return Refused("OUTPUT " + DisplayPath(c.Output) + " begins with '-': " + why +
                   "; to use that name, give it after -- (varnow pack [OPTIONS] -- " +
                   DisplayPath(c.Output) + " SOURCE...) or as ./" + DisplayPath(c.Output));
  }
  if (c.LevelFlag != 0 && c.LevelGiven)
    return Refused("-" + std::to_string(c.LevelFlag) +
                   " and --level both give the level; give one of them");
  if (c.Password.File == "-" && c.FilesFrom == "-")
    return Refused(
        "--password-file - and --files-from - cannot both read standard input; give one of "
        "them a FILE");
  return Success();
}

}  // namespace

Status RunPack(const PackCommand& c) {
  Status checked = CheckCommandLine(c);
  if (!checked.Ok()) return checked;
  std::vector<uint8_t> core;
  TargetKind target = TargetKind::kWindows;
  Status s = ChooseCore(c, core, target);
  if (!s.Ok()) return s;
  std::string pageName = c.CodePageName;
  if (pageName.empty())
    pageName = target == TargetKind::kWindows ? host::DefaultWindowsCodePage() : "UTF-8";
  std::optional<CodePage> page = ParseCodePage(pageName);
  if (!page) return Refused("--codepage " + pageName + ": no such code page");
  PackOptions options;
  if ((s = BuildOptions(c, *page, options)); !s.Ok()) return s;
  host::ItemInfo existing;
  bool exists = false;
  if ((s = CheckOutput(c, existing, exists)); !s.Ok()) return s;
  std::vector<SourceItem> items;
  if ((s = GatherItems(c, exists ? &existing : nullptr, items)); !s.Ok()) return s;
  std::vector<ArchiveEntry> entries;
  if ((s = NameItems(items, *page, target, entries)); !s.Ok()) return s;
  if ((s = SizeFiles(items, entries)); !s.Ok()) return s;
  PackResult result;
  if ((s = WriteDistributable(c, core, target, items, entries, options, *page, result)); !s.Ok())
    return s;
  if (!c.Quiet) ReportPacked(c, result);
  return Success();
}
