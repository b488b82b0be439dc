// WriteArchive: check, order and name every entry, write the core and the
// header, then code the files on a few threads while the records go out in
// stored order, and at last put the size into the header. Files are coded in
// parallel: a file's reference and prefix depend only on the raw bytes of
// earlier files, never on how they were coded, so each file's plan is
// independent of the others'. The threads take the files in stored order and
// stay within kFilesAhead of the first unfinished one, so the history holds
// a bounded number of files' first bytes, however many files there are.
#include "writer/archive_writer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

#include "writer/archive_layout.h"
#include "writer/history_planner.h"
#include "writer/ordered_payload.h"
#include "writer/parallel_for.h"

namespace {

constexpr uint64_t kSizeLimit = uint64_t{1} << 31;  // sizes are signed 32-bit in the expander
// How far the coding threads may run ahead of the first unfinished file, in
// files; their first bytes are held meanwhile (some 28 KiB each).
constexpr int32_t kFilesAhead = 1024;

// A spill in memory, for outputs that offer none of their own.
class MemorySpill : public SpillFile {
 public:
  bool Append(std::span<const uint8_t> bytes) override {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return true;
  }
  bool ReadBack(const std::function<bool(std::span<const uint8_t>)>& take) override {
    return take(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
};

PackResult Refuse(std::string message, std::optional<size_t> entry = std::nullopt,
                  PackFailure kind = PackFailure::kRefused) {
  PackResult r;
  r.Failure = kind;
  r.Error = std::move(message);
  r.ErrorEntry = entry;
  return r;
}

uint64_t SizeOf(const ArchiveEntry& e, const PackOptions& options) {
  return options.Reader != nullptr ? e.Size : e.Data.size();
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
                                       const PackOptions& options, uint64_t& inputTotal) {
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
    if (SizeOf(e, options) >= kSizeLimit)
      return Refuse("the file " + e.Name + " has 2^31 bytes or more, which the format cannot hold",
                    i);
    inputTotal += SizeOf(e, options);
  }
  return std::nullopt;
}

// The stored names in stored order, front-compressed, with the stats of
// each entry that do not depend on coding. A refusal here comes before any
// work.
std::optional<PackResult> NameEntries(std::span<const ArchiveEntry> entries,
                                      const std::vector<size_t>& order, const PackOptions& options,
                                      PackResult& result,
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
    s.FileSize = e.IsFolder ? 0 : static_cast<uint32_t>(SizeOf(e, options));
    result.Entries.push_back(std::move(s));
    previous = std::move(stored);
  }
  return std::nullopt;
}

// One file's bytes for the coder: the first ones from lead, the rest from
// the entry's data or its stream, which must then be finished.
class FileBytes {
 public:
  FileBytes(const ArchiveEntry& e, const PackOptions& options, std::unique_ptr<EntryStream> stream)
      : data_(options.Reader != nullptr ? std::span<const uint8_t>() : e.Data),
        stream_(std::move(stream)) {}
  // Reads the next out.size() bytes; false with Problem() set when they
  // cannot be had.
  bool Read(std::span<uint8_t> out) {
    if (!stream_) {
      if (!out.empty()) std::memcpy(out.data(), data_.data() + taken_, out.size());
      taken_ += out.size();
      return true;
    }
    problem_ = stream_->Read(out);
    return !problem_;
  }
  bool Finish() {
    if (stream_) problem_ = stream_->Finish();
    return !problem_;
  }
  const std::optional<std::string>& Problem() const { return problem_; }

 private:
  std::span<const uint8_t> data_;
  size_t taken_ = 0;
  std::unique_ptr<EntryStream> stream_;
  std::optional<std::string> problem_;
};

// The coding of all files on the option's threads, and what they share.
class FileCoder {
 public:
  FileCoder(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
            std::vector<size_t> files, const PackOptions& options, uint64_t inputTotal,
            OrderedPayload& payload)
      : entries_(entries),
        files_(std::move(files)),
        options_(options),
        inputTotal_(inputTotal),
        payload_(payload),
        history_(coreImage, static_cast<int32_t>(files_.size()), kFilesAhead + kHistorySlots),
        finished_(files_.size(), 0) {}

  // Codes every file; the first failure, if any.
  std::optional<PackResult> Run() {
    const unsigned threads = ThreadsFor(files_.size(), unsigned(std::max(0, options_.Threads)));
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back([this] { Work(); });
    Work();
    for (std::thread& t : pool) t.join();
    return failure_;
  }

 private:
  // Takes the files in stored order, one at a time, until none is left or
  // one failed.
  void Work() {
    EncoderContext context;
    for (;;) {
      int32_t f;
      {
        std::unique_lock<std::mutex> hold(lock_);
        ready_.wait(hold, [&] {
          return failure_ || next_ == int32_t(files_.size()) || next_ - lowest_ < kFilesAhead;
        });
        if (failure_ || next_ == int32_t(files_.size())) return;
        f = next_++;
      }
      std::optional<PackResult> failed = CodeFile(f, context);
      std::lock_guard<std::mutex> hold(lock_);
      if (failed || stopped_) {
        if (failed && !failure_) failure_ = std::move(failed);
        stopped_ = true;
        history_.Abandon();
        ready_.notify_all();
        return;
      }
      finished_[size_t(f)] = 1;
      while (lowest_ < int32_t(files_.size()) && finished_[size_t(lowest_)]) ++lowest_;
      // Files before lowest_ are done, and no later file refers further back.
      history_.Release(lowest_ - (kHistorySlots - 1));
      ready_.notify_all();
    }
  }

  // Why the payload refused, as the result to report.
  PackResult PayloadFailure(size_t input) {
    std::optional<OrderedPayload::Problem> p = payload_.Failure();
    if (!p) return Refuse("stopped", input);
    return Refuse(p->Text, p->Kind == PackFailure::kWrite ? std::nullopt : std::optional(input),
                  p->Kind);
  }

  // Reads, plans and codes file f (its number among the files in stored
  // order); a failure, or nothing.
  std::optional<PackResult> CodeFile(int32_t f, EncoderContext& context) {
    const size_t input = files_[size_t(f)];
    const ArchiveEntry& e = entries_[input];
    const int64_t size = static_cast<int64_t>(SizeOf(e, options_));
    std::unique_ptr<EntryStream> stream;
    if (options_.Reader != nullptr) {
      if (std::optional<std::string> problem = options_.Reader->Open(input, stream))
        return Refuse(*problem, input, PackFailure::kRead);
    }
    FileBytes bytes(e, options_, std::move(stream));
    std::vector<uint8_t> lead(size_t(std::min<int64_t>(size, kLeadBytes)));
    if (!bytes.Read(lead)) return Refuse(*bytes.Problem(), input, PackFailure::kRead);
    history_.Publish(f, lead);
    if (!history_.WaitForReferences(f)) {
      stopped_ = true;  // another file failed; this one ends without a failure of its own
      return std::nullopt;
    }

    FilePlan plan = PlanFile(history_, f, lead, size, options_.Level, context);
    if (!payload_.Begin(f, plan.RefBack, plan.PrefixLength)) return PayloadFailure(input);
    int64_t reported = 0;  // data bytes reported as coded
    uint64_t packed = 0;
    if (plan.DataIsFinal) {
      packed = plan.Data.size();
      if (!payload_.Put(f, plan.Data)) return PayloadFailure(input);
    } else {
      size_t fromLead = size_t(plan.PrefixLength);
      DataReader read = [&](std::span<uint8_t> out) {
        if (stopped_) return false;
        size_t n = std::min(out.size(), lead.size() - fromLead);
        if (n > 0) std::memcpy(out.data(), lead.data() + fromLead, n);
        fromLead += n;
        return n == out.size() || bytes.Read(out.subspan(n));
      };
      CodedWriter write = [&](std::span<const uint8_t> coded) {
        packed += coded.size();
        return payload_.Put(f, coded);
      };
      EncodeProgress progress;
      if (options_.Progress) {
        progress = [&](int64_t done) {
          Report(uint64_t(done - reported), 0, 0);
          reported = done;
        };
      }
      if (!context.Encode(PlanDictionary(history_, f, plan), size - plan.PrefixLength, read,
                          options_.Level, write, progress, PlanFences(history_, f, plan))) {
        if (bytes.Problem()) return Refuse(*bytes.Problem(), input, PackFailure::kRead);
        if (payload_.Failure()) return PayloadFailure(input);
        stopped_ = true;
        return std::nullopt;
      }
    }
    if (!bytes.Finish()) return Refuse(*bytes.Problem(), input, PackFailure::kRead);
    if (!payload_.End(f)) return PayloadFailure(input);
    if (options_.Progress) Report(uint64_t(size - reported), packed, uint64_t(size));
    return std::nullopt;
  }

  // Progress from any thread: input bytes coded, and the coded and input
  // bytes of a file just finished.
  void Report(uint64_t input, uint64_t packedFinished, uint64_t inputFinished) {
    std::lock_guard<std::mutex> hold(progressLock_);
    inputDone_ += input;
    packedDone_ += packedFinished;
    inputFinished_ += inputFinished;
    options_.Progress(inputDone_, inputTotal_, packedDone_, inputFinished_);
  }

  std::span<const ArchiveEntry> entries_;
  const std::vector<size_t> files_;  // input index of each file, in stored order
  const PackOptions& options_;
  const uint64_t inputTotal_;
  OrderedPayload& payload_;
  HistoryView history_;

  std::mutex lock_;
  std::condition_variable ready_;
  int32_t next_ = 0;    // the next file to take
  int32_t lowest_ = 0;  // the first file not finished
  std::vector<uint8_t> finished_;
  std::atomic<bool> stopped_{false};
  std::optional<PackResult> failure_;

  std::mutex progressLock_;
  uint64_t inputDone_ = 0;
  uint64_t packedDone_ = 0;
  uint64_t inputFinished_ = 0;
};

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

std::unique_ptr<SpillFile> ArchiveOutput::NewSpill() { return std::make_unique<MemorySpill>(); }

bool MemoryOutput::Append(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return true;
}

bool MemoryOutput::Overwrite(uint64_t offset, std::span<const uint8_t> bytes) {
  if (offset + bytes.size() > bytes_.size()) return false;
  if (!bytes.empty()) std::memcpy(bytes_.data() + offset, bytes.data(), bytes.size());
  return true;
}

PackResult WriteArchive(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
                        const PackOptions& options, ArchiveOutput& output) {
  if (coreImage.size() != size_t(kCoreSize))
    return Refuse("the core image has " + std::to_string(coreImage.size()) + " bytes instead of " +
                  std::to_string(kCoreSize));
  if (std::optional<std::string> problem = PackOptionsProblem(options)) return Refuse(*problem);
  uint64_t inputTotal = 0;
  if (std::optional<PackResult> refusal = CheckEntries(entries, options, inputTotal))
    return *refusal;
  PackResult result;
  const std::vector<size_t> order = OrderEntries(entries, options.KeepOrder);
  std::vector<std::vector<uint8_t>> names;
  if (std::optional<PackResult> refusal = NameEntries(entries, order, options, result, names))
    return *refusal;

  // The core and the header, its size field written again at the end.
  const std::string* password = options.Password ? &*options.Password : nullptr;
  const uint64_t headerSize =
      ArchiveHeaderSize(options.Comment, options.RunAfter, password != nullptr);
  std::vector<uint8_t> head;
  AppendArchiveHeader(0, options.Comment, options.RunAfter, password, options.ProtectionFlag, head);
  if (!output.Append(coreImage) || !output.Append(head))
    return Refuse("the distributable could not be written", std::nullopt, PackFailure::kWrite);

  std::vector<OrderedPayload::Record> records;
  std::vector<size_t> files;
  for (size_t k = 0; k < order.size(); ++k) {
    const ArchiveEntry& e = entries[order[k]];
    records.push_back(
        {names[k], e.IsFolder, e.Creation, e.LastAccess, e.LastWrite, result.Entries[k].FileSize});
    if (!e.IsFolder) files.push_back(order[k]);
  }
  BlockStreamWriter stream(password,
                           [&](std::span<const uint8_t> blocks) { return output.Append(blocks); });
  const uint64_t streamLimit = kSizeLimit - uint64_t(kCoreSize) - headerSize;
  OrderedPayload payload(std::move(records), result.Entries, stream, output, options.WaitingBudget,
                         streamLimit);
  FileCoder coder(coreImage, entries, std::move(files), options, inputTotal, payload);
  if (std::optional<PackResult> failure = coder.Run()) return *failure;
  if (!payload.Finish() || !stream.Finish()) {
    std::optional<OrderedPayload::Problem> p = payload.Failure();
    if (p) return Refuse(p->Text, std::nullopt, p->Kind);
    return Refuse("the distributable could not be written", std::nullopt, PackFailure::kWrite);
  }
  const uint64_t total = uint64_t(kCoreSize) + headerSize + stream.StreamBytes();
  if (total >= kSizeLimit)
    return Refuse("the distributable would have " + std::to_string(total) +
                  " bytes, at or above the limit of 2^31 that the expander can check");
  std::vector<uint8_t> size;
  for (int i = 0; i < 4; ++i) size.push_back(static_cast<uint8_t>(total >> (8 * i)));
  if (!output.Overwrite(uint64_t(kCoreSize), size))
    return Refuse("the distributable could not be written", std::nullopt, PackFailure::kWrite);
  result.Ok = true;
  result.PayloadBytes = stream.PayloadBytes();
  result.ArchiveBytes = total;
  return result;
}

PackResult WriteArchive(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
                        const PackOptions& options, const ByteSink& sink) {
  std::vector<uint8_t> bytes;
  MemoryOutput output(bytes);
  PackResult result = WriteArchive(coreImage, entries, options, output);
  if (result.Ok && !sink(bytes.data(), bytes.size()))
    return Refuse("the distributable could not be written", std::nullopt, PackFailure::kWrite);
  return result;
}

PackResult WriteArchiveToVector(std::span<const uint8_t> coreImage,
                                std::span<const ArchiveEntry> entries, const PackOptions& options,
                                std::vector<uint8_t>& out) {
  return WriteArchive(coreImage, entries, options, [&](const uint8_t* data, size_t size) {
    out.insert(out.end(), data, data + size);
    return true;
  });
}
