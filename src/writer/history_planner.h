// The cross-file history as the writer sees it. The expander keeps the first
// min(FileSize, 24576) bytes of each file entry in the ring slot k mod 256
// (k = 1, 2, ... in stored order; folder entries take no slot), with the core
// image in slot 0 until the 256th file replaces it. A slot holds source
// bytes, never coded ones, so once the 255 files before file k have been
// read, its references are known, and every file can be planned and coded
// on its own, in parallel with the others.
// A Windows core's header fields that signing rewrites are fenced off: no
// prefix and no match takes them from slot 0, so a signed distributable
// expands the same bytes.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "format/format.h"
#include "writer/file_encoder.h"
#include "writer/level_params.h"

// Bytes of a file the planner reads before it decides: a slot's worth (no
// prefix is longer) and the longest stretch a trial codes after the prefix.
constexpr int32_t LongestTrial() {
  int32_t longest = 0;
  for (const LevelParams& p : kLevelTable)
    longest = p.TrialLength > longest ? p.TrialLength : longest;
  return longest;
}
inline constexpr int32_t kLeadBytes = kSlotCapacity + LongestTrial();

// The history seen by the file entries of one archive, in stored order. A
// file's first bytes are published when it is read; they stay until Release
// says that no file which may refer to them is left to plan. Publishing,
// waiting and releasing may come from several threads.
class HistoryView {
 public:
  // core: the 20480-byte core image (the caller keeps it alive); fileCount:
  // the file entries; capacity: how many files' first bytes are held at
  // once at most (the caller keeps every published and unreleased index
  // within capacity of each other).
  HistoryView(std::span<const uint8_t> core, int32_t fileCount, int32_t capacity);

  int32_t FileCount() const { return fileCount_; }
  // Keeps the slot bytes of file `index`, the first min(size, 24576) bytes
  // of lead, which begins at the file's start, and their signature.
  void Publish(int32_t index, std::span<const uint8_t> lead);
  // Waits until every file that `index` may refer to is published; false
  // when Abandon came first.
  bool WaitForReferences(int32_t index) const;
  // Files before `below` are no longer referred to: their bytes go.
  void Release(int32_t below);
  // Ends every wait, now and later, with false.
  void Abandon();

  // Sets *slot to the valid bytes of the slot that refBack (1 to 255) names
  // for the file with stored index `index` (0-based); false when that slot
  // holds neither the core image nor a file of this run.
  bool SlotFor(int32_t index, int32_t refBack, std::span<const uint8_t>* slot) const;
  // Sampled content hashes of the first bytes of a file (index >= 0) or of
  // the core image (index -1), sorted and without repeats.
  const std::vector<uint32_t>& Signature(int32_t index) const;
  // The core image's bytes that signing may rewrite (its CheckSum and
  // certificate-table entry), in increasing order; none for a core that is
  // no PE file.
  std::span<const SourceFence> CoreFences() const { return coreFences_; }

 private:
  struct Held {
    int32_t Index = -1;  // the file whose bytes these are; -1: none
    std::vector<uint8_t> Bytes;
    std::vector<uint32_t> Signature;
  };
  const Held& HeldFor(int32_t index) const { return held_[size_t(index % capacity_)]; }

  std::span<const uint8_t> core_;
  int32_t fileCount_;
  int32_t capacity_;
  std::vector<uint32_t> coreSignature_;
  std::vector<SourceFence> coreFences_;
  std::vector<Held> held_;  // file i at i mod capacity
  mutable std::mutex lock_;
  mutable std::condition_variable published_;
  int32_t released_ = 0;  // files before this one are gone
  bool abandoned_ = false;
};

struct FilePlan {
  int32_t RefBack = 0;        // as stored: 0 (previous slot, no prefix) or 1 to 255
  int32_t PrefixLength = 0;   // verbatim prefix taken from the reference slot
  bool DataIsFinal = false;   // a trial coded all of the rest: Data is the entry's data
  std::vector<uint8_t> Data;  // the compressed data of the rest, when DataIsFinal
};

// The reference and the prefix of file `index`, which has `size` bytes and
// begins with lead (its first min(size, kLeadBytes) bytes): the candidates
// most alike by content or by shared beginning are ranked by a cheap
// estimate; at the levels with trials the best few are measured by coding
// the stretch the dictionary helps most, and the smallest record wins.
// context: the calling thread's encoder context.
FilePlan PlanFile(const HistoryView& history, int32_t index, std::span<const uint8_t> lead,
                  int64_t size, int level, EncoderContext& context);
// The preset dictionary that the plan's reference gives file `index`.
std::span<const uint8_t> PlanDictionary(const HistoryView& history, int32_t index,
                                        const FilePlan& plan);
// The stretches of that dictionary that no match may copy (the core's
// fences, when the plan draws on the core), as offsets into it.
std::vector<SourceFence> PlanFences(const HistoryView& history, int32_t index,
                                    const FilePlan& plan);

// Record bytes that depend on the reference: RefBack and, unless it is 0,
// the two PrefixLength bytes.
inline int32_t ReferenceBytes(int32_t refBack) { return refBack == 0 ? 1 : 3; }
