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
#include "writer/parallel_for.h"

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

}  // namespace

HistoryView::HistoryView(std::span<const uint8_t> core, std::vector<std::span<const uint8_t>> files,
                         unsigned threads)
    : core_(core), files_(std::move(files)) {
  coreSignature_ = MakeSignature(core_);
  if (core_.size() == size_t(kCoreSize)) {
    const SignedFields fields = FindSignedFields(core_.data());
    if (fields.CheckSum != 0)
      coreFences_ = {{fields.CheckSum, fields.CheckSum + kCheckSumBytes},
                     {fields.CertificateEntry, fields.CertificateEntry + kCertificateEntryBytes}};
  }
  signatures_.resize(files_.size());
  ParallelFor(files_.size(), threads,
              [&](unsigned, size_t i) { signatures_[i] = MakeSignature(files_[i]); });
}

bool HistoryView::SlotFor(int32_t index, int32_t refBack, std::span<const uint8_t>* slot) const {
  if (refBack < 1 || refBack >= kHistorySlots) return false;
  int32_t source = index - refBack;
  if (source < -1) return false;
  // source -1 is slot 0 before any file replaced it: refBack equals the file
  // number index + 1, at most 255, so the 256th file has not come yet.
  std::span<const uint8_t> bytes = source < 0 ? core_ : files_[size_t(source)];
  *slot = bytes.first(std::min<size_t>(bytes.size(), kSlotCapacity));
  return true;
}

const std::vector<uint32_t>& HistoryView::Signature(int32_t index) const {
  return index < 0 ? coreSignature_ : signatures_[size_t(index)];
}

FilePlan PlanFile(const HistoryView& history, int32_t index, int level, EncoderContext& context,
                  const EncodeProgress& progress) {
  FilePlan plan;
  const std::span<const uint8_t> data = history.FileData(index);
  if (data.empty()) return plan;
  level = ClampLevel(level);
  const LevelParams& lp = ParamsOf(level);

  std::vector<Candidate> candidates;
  const std::vector<uint32_t>& own = history.Signature(index);
  const int32_t coreBack = index + 1;  // RefBack that names the core image, while it is in slot 0
  for (int32_t r = 1; r < kHistorySlots; ++r) {
    if (r > lp.Reach && r != coreBack) continue;
    std::span<const uint8_t> slot;
    if (!history.SlotFor(index, r, &slot)) break;
    int32_t prefix =
        std::min<int32_t>(SharedBeginning(slot, data), static_cast<int32_t>(data.size()));
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
    std::vector<SourceFence> fences;
    if (c.RefBack != coreBack) return fences;
    std::span<const uint8_t> slot;
    history.SlotFor(index, c.RefBack, &slot);
    DictionaryChoice d = ChooseDictionary(static_cast<int32_t>(slot.size()), c.PrefixLength);
    for (const SourceFence& f : history.CoreFences()) {
      const int32_t start = std::max(f.Start - d.DictionaryStart, 0);
      const int32_t end = std::min(f.End - d.DictionaryStart, d.DictionaryLength);
      if (start < end) fences.push_back({start, end});
    }
    return fences;
  };

  size_t best = 0;
  std::vector<uint8_t> bestData;
  bool bestIsFinal = false;
  if (tries > 1) {
    int64_t bestCost = INT64_MAX;
    for (size_t i = 0; i < tries; ++i) {
      const Candidate& c = candidates[i];
      std::span<const uint8_t> rest = data.subspan(size_t(c.PrefixLength));
      bool whole = rest.size() <= size_t(lp.TrialLength);
      int trialLevel = lp.TrialLevel;
      std::vector<uint8_t> coded =
          context.Encode(dictionaryOf(c), rest.first(std::min(rest.size(), size_t(lp.TrialLength))),
                         trialLevel, {}, fencesOf(c));
      int64_t cost = int64_t(coded.size()) + ReferenceBytes(storedBack(c));
      if (cost < bestCost) {
        bestCost = cost;
        best = i;
        bestIsFinal = whole && trialLevel == level;
        bestData = std::move(coded);
      }
    }
  }
  const Candidate& choice = candidates[best];
  plan.RefBack = storedBack(choice);
  plan.PrefixLength = choice.PrefixLength;
  if (bestIsFinal) {
    plan.Data = std::move(bestData);
  } else {
    plan.Data = context.Encode(dictionaryOf(choice), data.subspan(size_t(choice.PrefixLength)),
                               level, progress, fencesOf(choice));
  }
  return plan;
}
