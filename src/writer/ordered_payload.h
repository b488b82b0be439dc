// The entry records in stored order, while the files' coded data come from
// several coding threads in any order. The file whose turn it is writes
// straight into the block stream; later files wait in memory, up to a budget
// shared by all of them, and past it in a spill of their own, until every
// entry before them is out. So nothing of the payload is held whole, and the
// stream is the same whichever thread finished first.
#pragma once

#include <stdint.h>

#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "writer/archive_layout.h"
#include "writer/archive_writer.h"

class OrderedPayload {
 public:
  // What is known of each stored entry before coding: its front-compressed
  // name, and for a file its times and size. stats: the entries' stats in
  // stored order, filled in as records go out.
  struct Record {
    std::span<const uint8_t> Name;
    bool IsFolder = false;
    FileTime Creation{0, 0};
    FileTime LastAccess{0, 0};
    FileTime LastWrite{0, 0};
    uint32_t FileSize = 0;
  };
  // limit: stream bytes at which the distributable would be too big.
  OrderedPayload(std::vector<Record> records, std::vector<EntryStats>& stats,
                 BlockStreamWriter& stream, ArchiveOutput& output, size_t waitingBudget,
                 uint64_t limit);

  // File `file` (0-based among the files, in stored order) has its
  // reference; its record can go out when its turn comes.
  bool Begin(int32_t file, int32_t refBack, int32_t prefixLength);
  // The next coded bytes of the file.
  bool Put(int32_t file, std::span<const uint8_t> coded);
  // The file's coded data is complete.
  bool End(int32_t file);
  // After every file's End: the records of trailing folders. False when
  // something went wrong before (see Failure).
  bool Finish();

  // Why a call returned false: the output, a spill, or the size limit.
  struct Problem {
    PackFailure Kind;
    std::string Text;
  };
  std::optional<Problem> Failure() const;

 private:
  struct Waiting {
    bool Begun = false;
    bool Ended = false;
    int32_t RefBack = 0;
    int32_t PrefixLength = 0;
    uint64_t Packed = 0;
    std::vector<uint8_t> Bytes;        // coded bytes held in memory
    std::unique_ptr<SpillFile> Spill;  // and those beyond the budget, before Bytes
  };

  bool Fail(PackFailure kind, std::string text);
  bool Emit(std::span<const uint8_t> payload);
  bool EmitRecordHead(size_t entry, const Waiting& w);
  bool EmitWaiting(Waiting& w);
  bool Advance();

  std::vector<Record> records_;
  std::vector<EntryStats>& stats_;
  std::vector<int32_t> fileOf_;  // stored entry -> file number, -1 for folders
  BlockStreamWriter& stream_;
  ArchiveOutput& output_;
  size_t budget_;
  uint64_t limit_;

  std::mutex lock_;
  std::vector<Waiting> files_;
  size_t next_ = 0;       // the first stored entry not yet fully out
  bool headOut_ = false;  // its record's head (name and fields) is out
  size_t waitingBytes_ = 0;
  std::optional<Problem> failure_;
};
