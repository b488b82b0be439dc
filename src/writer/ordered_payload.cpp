// One lock guards the order: the thread whose call lets the next entries go
// out writes them, spills included, while the others wait at the lock; a
// failure is kept and every later call refuses.
#include "writer/ordered_payload.h"

OrderedPayload::OrderedPayload(std::vector<Record> records, std::vector<EntryStats>& stats,
                               BlockStreamWriter& stream, ArchiveOutput& output,
                               size_t waitingBudget, uint64_t limit)
    : records_(std::move(records)),
      stats_(stats),
      stream_(stream),
      output_(output),
      budget_(waitingBudget),
      limit_(limit) {
  int32_t files = 0;
  for (const Record& r : records_) fileOf_.push_back(r.IsFolder ? -1 : files++);
  files_.resize(size_t(files));
}

bool OrderedPayload::Fail(PackFailure kind, std::string text) {
  if (!failure_) failure_ = Problem{kind, std::move(text)};
  return false;
}

std::optional<OrderedPayload::Problem> OrderedPayload::Failure() const { return failure_; }

bool OrderedPayload::Emit(std::span<const uint8_t> payload) {
  if (!stream_.Put(payload))
    return Fail(PackFailure::kWrite, "the distributable could not be written");
  if (stream_.StreamBytes() >= limit_) {
    const uint64_t sofar = stream_.StreamBytes() + ((uint64_t{1} << 31) - limit_);
    return Fail(PackFailure::kRefused,
                "the distributable would have " + std::to_string(sofar) +
                    " bytes or more, at or above the limit of 2^31 that the expander can check");
  }
  return true;
}

bool OrderedPayload::EmitRecordHead(size_t entry, const Waiting& w) {
  const Record& r = records_[entry];
  std::vector<uint8_t> head(r.Name.begin(), r.Name.end());
  if (!r.IsFolder)
    AppendFileFields(r.Creation, r.LastAccess, r.LastWrite, r.FileSize, w.RefBack, w.PrefixLength,
                     head);
  EntryStats& s = stats_[entry];
  s.RecordBytes = static_cast<uint32_t>(head.size());
  if (!r.IsFolder) {
    s.RefBack = w.RefBack;
    s.PrefixLength = w.PrefixLength;
  }
  return Emit(head);
}

bool OrderedPayload::EmitWaiting(Waiting& w) {
  if (w.Spill) {
    bool ok = w.Spill->ReadBack([&](std::span<const uint8_t> bytes) { return Emit(bytes); });
    w.Spill.reset();
    if (!ok) return failure_ ? false : Fail(PackFailure::kWrite, "a spill could not be read back");
  }
  if (!w.Bytes.empty() && !Emit(w.Bytes)) return false;
  waitingBytes_ -= w.Bytes.size();
  std::vector<uint8_t>().swap(w.Bytes);
  return true;
}

// Writes out every entry whose turn has come and whose record is known; the
// file left at the front (begun, not ended) takes its coded bytes directly
// from then on.
bool OrderedPayload::Advance() {
  while (next_ < records_.size()) {
    const int32_t f = fileOf_[next_];
    if (f < 0) {
      if (!EmitRecordHead(next_, Waiting{})) return false;
      ++next_;
      continue;
    }
    Waiting& w = files_[size_t(f)];
    if (!w.Begun) return true;
    if (!headOut_) {
      if (!EmitRecordHead(next_, w)) return false;
      headOut_ = true;
    }
    if (!EmitWaiting(w)) return false;
    if (!w.Ended) return true;
    stats_[next_].PackedBytes = static_cast<uint32_t>(w.Packed);
    ++next_;
    headOut_ = false;
  }
  return true;
}

bool OrderedPayload::Begin(int32_t file, int32_t refBack, int32_t prefixLength) {
  std::lock_guard<std::mutex> hold(lock_);
  if (failure_) return false;
  Waiting& w = files_[size_t(file)];
  w.Begun = true;
  w.RefBack = refBack;
  w.PrefixLength = prefixLength;
  return Advance();
}

bool OrderedPayload::Put(int32_t file, std::span<const uint8_t> coded) {
  std::lock_guard<std::mutex> hold(lock_);
  if (failure_) return false;
  Waiting& w = files_[size_t(file)];
  w.Packed += coded.size();
  if (next_ < records_.size() && fileOf_[next_] == file) return Emit(coded);
  if (waitingBytes_ + coded.size() <= budget_) {
    w.Bytes.insert(w.Bytes.end(), coded.begin(), coded.end());
    waitingBytes_ += coded.size();
    return true;
  }
  // Past the budget: this file's bytes go to its spill, those held first.
  if (!w.Spill) w.Spill = output_.NewSpill();
  if (!w.Spill) return Fail(PackFailure::kWrite, "no spill could be made for coded data");
  if ((!w.Bytes.empty() && !w.Spill->Append(w.Bytes)) || !w.Spill->Append(coded))
    return Fail(PackFailure::kWrite, "coded data could not be written to a spill");
  waitingBytes_ -= w.Bytes.size();
  std::vector<uint8_t>().swap(w.Bytes);
  return true;
}

bool OrderedPayload::End(int32_t file) {
  std::lock_guard<std::mutex> hold(lock_);
  if (failure_) return false;
  files_[size_t(file)].Ended = true;
  return Advance();
}

bool OrderedPayload::Finish() {
  std::lock_guard<std::mutex> hold(lock_);
  if (failure_) return false;
  if (!Advance()) return false;
  if (next_ != records_.size()) return Fail(PackFailure::kWrite, "entries are missing");
  return true;
}
