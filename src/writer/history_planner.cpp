// Choosing each file's reference. A reference helps in two ways: the shared
// beginning becomes a verbatim prefix (free but for two bytes), and up to
// 16 KiB of the slot preset the window, which matters for the first 16 KiB of
// the file's coded part. Candidates are ranked by sampled content hashes in
// common and by shared beginning; the best few are then measured by coding
// that first stretch, and the smallest record wins.
#include "writer/history_planner.h"

#include <algorithm>
#include <cstring>

#include "format/format.h"
#include "format/signed_core.h"
#include "writer/common_length.h"

namespace {

constexpr int32_t kMaxPrefix = 65535;  // PrefixLength is stored in 16 bits

std::vector<uint32_t> MakeSignature(std::span<const uint8_t> bytes) {
  std::vector<uint32_t> out;
  const size_t span = std::min<size_t>(bytes.size(), kSignatureSpan);
  if (span < 8) return out;
  out.reserve(span / 12);
  for (size_t i = 0; i + 8 <= span; ++i) {
    uint64_t v;
    std::memcpy(&v, bytes.data() + i, 8);
    uint32_t h = static_cast<uint32_t>((v * 0x9E3779B97F4A7C15ull) >> 32);
    if (h % kSignatureSampling == 0) out.push_back(h);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

int32_t CommonCount(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  int32_t n = 0;
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i] < b[j]) {
      ++i;
    } else if (b[j] < a[i]) {
      ++j;
    } else {
      ++n;
      ++i;
      ++j;
    }
  }
  return n;
}

int32_t SharedBeginning(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t limit = std::min({a.size(), b.size(), size_t{kMaxPrefix}});
  return CommonLength(a.data(), b.data(), 0, static_cast<int32_t>(limit));
}

struct Candidate {
  int32_t RefBack;
  int32_t PrefixLength;
  int64_t Score;
};

// The core's fences as offsets into the dictionary that slot refBack (not
// as stored: 1 to 255) gives file `index` beside a prefix of prefixLength
// bytes; none when that slot is no longer the core.
std::vector<SourceFence> DictionaryFences(const HistoryView& history, int32_t index,
                                          int32_t refBack, int32_t prefixLength) {
  std::vector<SourceFence> fences;
  if (refBack != index + 1 || history.CoreFences().empty()) return fences;
  std::span<const uint8_t> slot;
  if (!history.SlotFor(index, refBack, &slot)) return fences;
  DictionaryChoice d = ChooseDictionary(static_cast<int32_t>(slot.size()), prefixLength);
  for (const SourceFence& f : history.CoreFences()) {
    const int32_t start = std::max(f.Start - d.DictionaryStart, 0);
    const int32_t end = std::min(f.End - d.DictionaryStart, d.DictionaryLength);
    if (start < end) fences.push_back({start, end});
  }
  return fences;
}

}  // namespace

HistoryView::HistoryView(std::span<const uint8_t> core, int32_t fileCount, int32_t capacity)
    : core_(core),
      fileCount_(fileCount),
      capacity_(std::max(1, std::min(capacity, fileCount))),
      coreSignature_(MakeSignature(core)),
      held_(size_t(capacity_)) {
  if (core_.size() == size_t(kCoreSize)) {
    const SignedFields fields = FindSignedFields(core_.data());
    if (fields.CheckSum != 0)
      coreFences_ = {{fields.CheckSum, fields.CheckSum + kCheckSumBytes},
                     {fields.CertificateEntry, fields.CertificateEntry + kCertificateEntryBytes}};
  }
}

void HistoryView::Publish(int32_t index, std::span<const uint8_t> lead) {
  Held& h = held_[size_t(index % capacity_)];
  h.Bytes.assign(lead.begin(),
                 lead.begin() + std::min<ptrdiff_t>(ptrdiff_t(lead.size()), kSlotCapacity));
  h.Signature = MakeSignature(h.Bytes);
  std::lock_guard<std::mutex> hold(lock_);
  h.Index = index;
  published_.notify_all();
}

bool HistoryView::WaitForReferences(int32_t index) const {
  std::unique_lock<std::mutex> hold(lock_);
  const int32_t first = std::max(0, index - (kHistorySlots - 1));
  for (;;) {
    if (abandoned_) return false;
    int32_t i = first;
    while (i < index && HeldFor(i).Index == i) ++i;
    if (i == index) return true;
    published_.wait(hold);
  }
}

void HistoryView::Release(int32_t below) {
  std::lock_guard<std::mutex> hold(lock_);
  for (; released_ < below; ++released_) {
    Held& h = held_[size_t(released_ % capacity_)];
    if (h.Index != released_) continue;
    h.Index = -1;
    std::vector<uint8_t>().swap(h.Bytes);
    std::vector<uint32_t>().swap(h.Signature);
  }
}

void HistoryView::Abandon() {
  std::lock_guard<std::mutex> hold(lock_);
  abandoned_ = true;
  published_.notify_all();
}

bool HistoryView::SlotFor(int32_t index, int32_t refBack, std::span<const uint8_t>* slot) const {
  if (refBack < 1 || refBack >= kHistorySlots) return false;
  int32_t source = index - refBack;
  if (source < -1) return false;
  // source -1 is slot 0 before any file replaced it: refBack equals the file
  // number index + 1, at most 255, so the 256th file has not come yet.
  std::span<const uint8_t> bytes = source < 0 ? core_ : HeldFor(source).Bytes;
  *slot = bytes.first(std::min<size_t>(bytes.size(), kSlotCapacity));
  return true;
}

const std::vector<uint32_t>& HistoryView::Signature(int32_t index) const {
  return index < 0 ? coreSignature_ : HeldFor(index).Signature;
}

FilePlan PlanFile(const HistoryView& history, int32_t index, std::span<const uint8_t> lead,
                  int64_t size, int level, EncoderContext& context) {
  FilePlan plan;
  if (size <= 0) return plan;
  level = ClampLevel(level);
  const LevelParams& lp = ParamsOf(level);

  std::vector<Candidate> candidates;
  const std::vector<uint32_t>& own = history.Signature(index);
  const int32_t coreBack = index + 1;  // RefBack that names the core image, while it is in slot 0
  for (int32_t r = 1; r < kHistorySlots; ++r) {
    if (r > lp.Reach && r != coreBack) continue;
    std::span<const uint8_t> slot;
    if (!history.SlotFor(index, r, &slot)) break;
    // No prefix is longer than the slot, and lead holds at least a slot's worth.
    int32_t prefix = static_cast<int32_t>(std::min<int64_t>(SharedBeginning(slot, lead), size));
    // A prefix is copied verbatim: from the core it stops before the first fence.
    if (r == coreBack && !history.CoreFences().empty())
      prefix = std::min(prefix, history.CoreFences().front().Start);
    int32_t common = CommonCount(own, history.Signature(index - r));
    candidates.push_back({r, prefix, common * kSignatureWeight + prefix});
  }
  // Candidate 0 is RefBack 1, which stays in the race whatever its score:
  // with no prefix it is stored as RefBack 0 and saves two bytes. Without
  // trials the better of it and the best score is taken.
  std::stable_sort(candidates.begin() + 1, candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.Score > b.Score; });
  if (candidates.size() > 1 && candidates[1].Score > candidates[0].Score && lp.Trials <= 1)
    std::swap(candidates[0], candidates[1]);
  const size_t tries = std::min<size_t>(candidates.size(), std::max<size_t>(1, size_t(lp.Trials)));

  auto storedBack = [](const Candidate& c) {
    return c.RefBack == 1 && c.PrefixLength == 0 ? 0 : c.RefBack;
  };
  auto dictionaryOf = [&](const Candidate& c) {
    std::span<const uint8_t> slot;
    history.SlotFor(index, c.RefBack, &slot);
    DictionaryChoice d = ChooseDictionary(static_cast<int32_t>(slot.size()), c.PrefixLength);
    return slot.subspan(size_t(d.DictionaryStart), size_t(d.DictionaryLength));
  };
  // The core's fences as offsets into the dictionary taken from it.
  auto fencesOf = [&](const Candidate& c) {
    return DictionaryFences(history, index, c.RefBack, c.PrefixLength);
  };

  size_t best = 0;
  if (tries > 1) {
    int64_t bestCost = INT64_MAX;
    for (size_t i = 0; i < tries; ++i) {
      const Candidate& c = candidates[i];
      // The trial's stretch lies within lead: prefix + TrialLength <= kLeadBytes.
      const int64_t rest = size - c.PrefixLength;
      const size_t trial = size_t(std::min<int64_t>(rest, lp.TrialLength));
      bool whole = rest <= lp.TrialLength;
      int trialLevel = lp.TrialLevel;
      std::vector<uint8_t> coded =
          context.Encode(dictionaryOf(c), lead.subspan(size_t(c.PrefixLength), trial), trialLevel,
                         {}, fencesOf(c));
      int64_t cost = int64_t(coded.size()) + ReferenceBytes(storedBack(c));
      if (cost < bestCost) {
        bestCost = cost;
        best = i;
        plan.DataIsFinal = whole && trialLevel == level;
        plan.Data = std::move(coded);
      }
    }
  }
  const Candidate& choice = candidates[best];
  plan.RefBack = storedBack(choice);
  plan.PrefixLength = choice.PrefixLength;
  if (!plan.DataIsFinal) std::vector<uint8_t>().swap(plan.Data);
  return plan;
}

std::span<const uint8_t> PlanDictionary(const HistoryView& history, int32_t index,
                                        const FilePlan& plan) {
  std::span<const uint8_t> slot;
  // RefBack 0 is stored for the previous slot without a prefix.
  history.SlotFor(index, plan.RefBack == 0 ? 1 : plan.RefBack, &slot);
  DictionaryChoice d = ChooseDictionary(static_cast<int32_t>(slot.size()), plan.PrefixLength);
  return slot.subspan(size_t(d.DictionaryStart), size_t(d.DictionaryLength));
}

std::vector<SourceFence> PlanFences(const HistoryView& history, int32_t index,
                                    const FilePlan& plan) {
  return DictionaryFences(history, index, plan.RefBack == 0 ? 1 : plan.RefBack, plan.PrefixLength);
}
