// WriteArchive: check, order, plan and code every file, lay out the records,
// and only then write. Files are coded in parallel: a file's reference and
// prefix depend only on the raw bytes of earlier files, never on how they
// were coded, so each file's plan is independent of the others'.
#include "writer/archive_writer.h"

#include <algorithm>
#include <mutex>
#include <optional>

#include "writer/archive_layout.h"
#include "writer/history_planner.h"
#include "writer/parallel_for.h"

namespace {

constexpr uint64_t kSizeLimit = uint64_t{1} << 31;  // sizes are signed 32-bit in the expander

PackResult Refuse(std::string message, std::optional<size_t> entry = std::nullopt) {
  PackResult r;
  r.Error = std::move(message);
  r.ErrorEntry = entry;
  return r;
}

bool HasZero(const std::string& s) { return s.find('\0') != std::string::npos; }

bool EndsWithFolderMark(const std::string& s) {
  return s.size() >= 2 && s[s.size() - 2] == '\\' && s[s.size() - 1] == '.';
}

std::string FolderName(const std::string& name) {
  return name.back() == '\\' ? name + "." : name + "\\.";
}

// Lower-case ASCII extension of the last name part, empty when it has none.
std::string ExtensionOf(const std::string& name) {
  size_t slash = name.rfind('\\');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

// Stored order as input indices.
std::vector<size_t> OrderEntries(std::span<const ArchiveEntry> entries, bool keepOrder) {
  std::vector<size_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (keepOrder) return order;
  std::vector<size_t> folders, files;
  for (size_t i : order) (entries[i].IsFolder ? folders : files).push_back(i);
  // A folder that holds any other entry is made by the expander for it.
  std::vector<std::string> names;
  for (const ArchiveEntry& e : entries) names.push_back(e.Name);
  std::sort(names.begin(), names.end());
  std::vector<size_t> kept;
  for (size_t i : folders) {
    std::string inside = entries[i].Name.back() == '\\' ? entries[i].Name : entries[i].Name + "\\";
    auto it = std::lower_bound(names.begin(), names.end(), inside);
    if (it == names.end() || it->compare(0, inside.size(), inside) != 0) kept.push_back(i);
  }
  std::sort(kept.begin(), kept.end(),
            [&](size_t a, size_t b) { return entries[a].Name < entries[b].Name; });
  std::vector<std::string> ext(entries.size());
  for (size_t i : files) ext[i] = ExtensionOf(entries[i].Name);
  std::stable_sort(files.begin(), files.end(), [&](size_t a, size_t b) {
    if (ext[a] != ext[b]) return ext[a] < ext[b];
    return entries[a].Name < entries[b].Name;
  });
  kept.insert(kept.end(), files.begin(), files.end());
  return kept;
}

// The entries as given: names, sizes and kinds the format can hold. The sum
// of the files' sizes goes to inputTotal.
std::optional<PackResult> CheckEntries(std::span<const ArchiveEntry> entries,
                                       uint64_t& inputTotal) {
  if (entries.empty())
    return Refuse("there is nothing to pack: an archive needs at least one entry");
  inputTotal = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ArchiveEntry& e = entries[i];
    if (e.Name.empty()) return Refuse("an entry has an empty name", i);
    if (HasZero(e.Name))
      return Refuse("the name of entry " + std::to_string(i) + " contains a zero byte", i);
    if (e.IsFolder) {
      if (e.Name == "\\") return Refuse("the folder name \\ names no folder", i);
      continue;
    }
    if (EndsWithFolderMark(e.Name))
      return Refuse("the file name " + e.Name + " ends with \\. and would be taken for a folder",
                    i);
    if (e.Data.size() >= kSizeLimit)
      return Refuse("the file " + e.Name + " has 2^31 bytes or more, which the format cannot hold",
                    i);
    inputTotal += e.Data.size();
  }
  return std::nullopt;
}

// The stored names in stored order, front-compressed, with the stats of
// each entry that do not depend on coding. A refusal here comes before any
// work.
std::optional<PackResult> NameEntries(std::span<const ArchiveEntry> entries,
                                      const std::vector<size_t>& order, PackResult& result,
                                      std::vector<std::vector<uint8_t>>& names) {
  names.assign(order.size(), {});
  std::string previous;
  for (size_t k = 0; k < order.size(); ++k) {
    const ArchiveEntry& e = entries[order[k]];
    std::string stored = e.IsFolder ? FolderName(e.Name) : e.Name;
    if (stored.size() >= static_cast<size_t>(kNameLimit))
      return Refuse("the name " + stored.substr(0, 64) + "... is longer than the expander keeps (" +
                        std::to_string(kNameLimit - 1) + " bytes)",
                    order[k]);
    if (!AppendName(previous, stored, names[k]))
      return Refuse("the name " + stored +
                        " starts with * and shares fewer than 2 bytes with the name before it",
                    order[k]);
    EntryStats s;
    s.InputIndex = order[k];
    s.IsFolder = e.IsFolder;
    s.StoredName = stored;
    s.FileSize = e.IsFolder ? 0 : static_cast<uint32_t>(e.Data.size());
    result.Entries.push_back(std::move(s));
    previous = std::move(stored);
  }
  return std::nullopt;
}

// Every file's reference, prefix and data, in stored order of the files,
// coded on the option's threads, biggest files first so that no thread is
// left with a big one at the end. Progress goes out as the files are coded.
std::vector<FilePlan> CodeFiles(std::span<const uint8_t> coreImage,
                                std::span<const ArchiveEntry> entries,
                                const std::vector<size_t>& order, const PackOptions& options,
                                uint64_t inputTotal) {
  std::vector<std::span<const uint8_t>> fileData;
  for (size_t k : order)
    if (!entries[k].IsFolder) fileData.push_back(entries[k].Data);
  const unsigned threads = ThreadsFor(fileData.size(), unsigned(std::max(0, options.Threads)));
  const HistoryView history(coreImage, fileData, threads);
  std::vector<FilePlan> plans(fileData.size());

  std::vector<int32_t> work(fileData.size());
  for (size_t i = 0; i < work.size(); ++i) work[i] = static_cast<int32_t>(i);
  std::stable_sort(work.begin(), work.end(), [&](int32_t a, int32_t b) {
    return fileData[size_t(a)].size() > fileData[size_t(b)].size();
  });
  std::vector<EncoderContext> contexts(threads);
  std::mutex progressLock;
  uint64_t inputDone = 0;
  uint64_t packedDone = 0;
  uint64_t inputFinished = 0;
  ParallelFor(work.size(), threads, [&](unsigned thread, size_t w) {
    int32_t f = work[w];
    int64_t reported = 0;
    EncodeProgress inner;
    if (options.Progress) {
      inner = [&](int64_t bytes) {
        std::lock_guard<std::mutex> hold(progressLock);
        inputDone += uint64_t(bytes - reported);
        reported = bytes;
        options.Progress(inputDone, inputTotal, packedDone, inputFinished);
      };
    }
    plans[size_t(f)] = PlanFile(history, f, options.Level, contexts[thread], inner);
    if (options.Progress) {
      std::lock_guard<std::mutex> hold(progressLock);
      inputDone += fileData[size_t(f)].size() - uint64_t(reported);
      packedDone += plans[size_t(f)].Data.size();
      inputFinished += fileData[size_t(f)].size();
      options.Progress(inputDone, inputTotal, packedDone, inputFinished);
    }
  });
  return plans;
}

// The entry records in stored order: each name, and for a file its fields
// and coded data, whose memory is given back as it is copied.
std::vector<uint8_t> LayOutRecords(std::span<const ArchiveEntry> entries,
                                   const std::vector<size_t>& order,
                                   const std::vector<std::vector<uint8_t>>& names,
                                   std::vector<FilePlan>& plans, PackResult& result) {
  std::vector<uint8_t> payload;
  size_t nextFile = 0;
  for (size_t k = 0; k < order.size(); ++k) {
    const ArchiveEntry& e = entries[order[k]];
    EntryStats& s = result.Entries[k];
    size_t before = payload.size();
    payload.insert(payload.end(), names[k].begin(), names[k].end());
    if (!e.IsFolder) {
      FilePlan& plan = plans[nextFile++];
      AppendFileFields(e.Creation, e.LastAccess, e.LastWrite, s.FileSize, plan.RefBack,
                       plan.PrefixLength, payload);
      s.RefBack = plan.RefBack;
      s.PrefixLength = plan.PrefixLength;
      s.PackedBytes = static_cast<uint32_t>(plan.Data.size());
      s.RecordBytes = static_cast<uint32_t>(payload.size() - before);
      payload.insert(payload.end(), plan.Data.begin(), plan.Data.end());
      std::vector<uint8_t>().swap(plan.Data);
    } else {
      s.RecordBytes = static_cast<uint32_t>(payload.size() - before);
    }
  }
  return payload;
}

// The core, the header and the block stream to the sink, once the whole
// distributable is known to fit the size the expander can check.
PackResult WriteOut(std::span<const uint8_t> coreImage, const PackOptions& options,
                    const std::vector<uint8_t>& payload, const ByteSink& sink, PackResult result) {
  const std::string* password = options.Password ? &*options.Password : nullptr;
  const uint64_t headerSize =
      ArchiveHeaderSize(options.Comment, options.RunAfter, password != nullptr);
  const uint64_t total = uint64_t(kCoreSize) + headerSize + BlockStreamSize(payload.size());
  if (total >= kSizeLimit)
    return Refuse("the distributable would have " + std::to_string(total) +
                  " bytes, at or above the limit of 2^31 that the expander can check");
  std::vector<uint8_t> head;
  head.reserve(size_t(headerSize));
  AppendArchiveHeader(static_cast<uint32_t>(total), options.Comment, options.RunAfter, password,
                      options.ProtectionFlag, head);
  std::vector<uint8_t> stream;
  stream.reserve(size_t(BlockStreamSize(payload.size())));
  AppendBlockStream(payload, password, stream);
  if (!sink(coreImage.data(), coreImage.size()) || !sink(head.data(), head.size()) ||
      !sink(stream.data(), stream.size()))
    return Refuse("the distributable could not be written");
  result.Ok = true;
  result.PayloadBytes = payload.size();
  result.ArchiveBytes = total;
  return result;
}

}  // namespace

std::optional<std::string> PackOptionsProblem(const PackOptions& options) {
  if (options.Level < kMinLevel || options.Level > kMaxLevel)
    return "level " + std::to_string(options.Level) + " is outside 1 to 9";
  if (HasZero(options.Comment))
    return "the comment holds a zero byte, which ends it in the archive";
  if (HasZero(options.RunAfter))
    return "the run-after command holds a zero byte, which ends it in the archive";
  if (options.RunAfter.size() >= static_cast<size_t>(kRunAfterLimit))
    return "the run-after command has " + std::to_string(kRunAfterLimit) +
           " bytes or more, more than the core keeps";
  if (!options.Password) return std::nullopt;
  if (options.Password->empty()) return "the password is empty";
  if (options.Password->size() >= static_cast<size_t>(kPasswordLimit))
    return "the password has " + std::to_string(kPasswordLimit) +
           " bytes or more, more than the core keeps";
  if (options.Password->find_first_of("\r\n") != std::string::npos)
    return "the password contains a line break, which cannot be typed at the prompt";
  if (options.ProtectionFlag == 0)
    return "the protection flag of a protected archive must not be 0";
  return std::nullopt;
}

PackResult WriteArchive(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
                        const PackOptions& options, const ByteSink& sink) {
  if (coreImage.size() != size_t(kCoreSize))
    return Refuse("the core image has " + std::to_string(coreImage.size()) + " bytes instead of " +
                  std::to_string(kCoreSize));
  if (std::optional<std::string> problem = PackOptionsProblem(options)) return Refuse(*problem);
  uint64_t inputTotal = 0;
  if (std::optional<PackResult> refusal = CheckEntries(entries, inputTotal)) return *refusal;
  PackResult result;
  const std::vector<size_t> order = OrderEntries(entries, options.KeepOrder);
  std::vector<std::vector<uint8_t>> names;
  if (std::optional<PackResult> refusal = NameEntries(entries, order, result, names))
    return *refusal;
  std::vector<FilePlan> plans = CodeFiles(coreImage, entries, order, options, inputTotal);
  const std::vector<uint8_t> payload = LayOutRecords(entries, order, names, plans, result);
  return WriteOut(coreImage, options, payload, sink, std::move(result));
}

PackResult WriteArchiveToVector(std::span<const uint8_t> coreImage,
                                std::span<const ArchiveEntry> entries, const PackOptions& options,
                                std::vector<uint8_t>& out) {
  return WriteArchive(coreImage, entries, options, [&](const uint8_t* data, size_t size) {
    out.insert(out.end(), data, data + size);
    return true;
  });
}
