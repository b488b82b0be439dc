// The cross-file history as the writer sees it. The expander keeps the first
// min(FileSize, 24576) bytes of each file entry in the ring slot k mod 256
// (k = 1, 2, ... in stored order; folder entries take no slot), with the core
// image in slot 0 until the 256th file replaces it. All data is in memory, so
// the slot that any RefBack names for file k is known in advance, and every
// file can be planned and coded on its own, in parallel with the others.
// A Windows core's header fields that signing rewrites are fenced off: no
// prefix and no match takes them from slot 0, so a signed distributable
// expands the same bytes.
#pragma once

#include <stdint.h>

#include <span>
#include <string>
#include <vector>

#include "writer/file_encoder.h"

// The history seen by the file entries of one archive, in stored order.
class HistoryView {
 public:
  // core: the 20480-byte core image; files: the data of the file entries in
  // stored order (the caller keeps them alive). The signatures are made on
  // `threads` threads (0: one per processor).
  HistoryView(std::span<const uint8_t> core, std::vector<std::span<const uint8_t>> files,
              unsigned threads = 1);

  int32_t FileCount() const { return static_cast<int32_t>(files_.size()); }
  std::span<const uint8_t> FileData(int32_t index) const { return files_[size_t(index)]; }
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
  std::span<const uint8_t> core_;
  std::vector<std::span<const uint8_t>> files_;
  std::vector<uint32_t> coreSignature_;
  std::vector<SourceFence> coreFences_;
  std::vector<std::vector<uint32_t>> signatures_;
};

struct FilePlan {
  int32_t RefBack = 0;        // as stored: 0 (previous slot, no prefix) or 1 to 255
  int32_t PrefixLength = 0;   // verbatim prefix taken from the reference slot
  std::vector<uint8_t> Data;  // compressed data of the rest
};

// The reference, the prefix and the compressed data of file `index`: the
// candidates most alike by content or by shared beginning are ranked by a
// cheap estimate; at the levels with trials the best few are measured by
// coding the stretch the dictionary helps most, and the smallest record wins.
// context: the calling thread's encoder context.
FilePlan PlanFile(const HistoryView& history, int32_t index, int level, EncoderContext& context,
                  const EncodeProgress& progress = {});

// Record bytes that depend on the reference: RefBack and, unless it is 0,
// the two PrefixLength bytes.
inline int32_t ReferenceBytes(int32_t refBack) { return refBack == 0 ? 1 : 3; }
