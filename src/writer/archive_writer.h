// The writer's public interface: turns a core image and a list of entries into
// a distributable file (core image, archive header, checked block stream of
// entry records). Every entry is checked before the first byte goes out, so a
// refused input writes nothing; then the distributable is written as the
// files are coded, each file read a window at a time, so the memory used
// depends on the work, not on the size of the input. Errors are values.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "writer/file_encoder.h"

struct ArchiveEntry {
  // Stored name: bytes in the target's code page, backslash as separator,
  // relative, not ending in a separator. A folder's name is given without
  // the "\." that marks it in the archive; the writer adds it.
  std::string Name;
  bool IsFolder = false;
  FileTime Creation{0, 0};  // the three times, carried unchanged
  FileTime LastAccess{0, 0};
  FileTime LastWrite{0, 0};
  // File contents (the caller keeps them alive); unused for folders, and
  // when PackOptions::Reader reads the files.
  std::span<const uint8_t> Data;
  uint64_t Size = 0;  // the file's size, when PackOptions::Reader reads the files
};

// One file's bytes as PackOptions::Reader gives them, from the start, in
// order, a window at a time.
class EntryStream {
 public:
  virtual ~EntryStream() = default;
  // Fills out with the file's next out.size() bytes; the reason when they
  // cannot be had (the file shrank, say).
  virtual std::optional<std::string> Read(std::span<uint8_t> out) = 0;
  // After the entry's Size bytes: the reason when the file turns out to hold
  // other bytes than those read (it grew, say).
  virtual std::optional<std::string> Finish() = 0;
};

// Reads the files for WriteArchive: each file entry is opened once, read
// through to its Size and finished. Several files may be open at once, on
// different threads; all calls about one file come from one thread.
class EntryReader {
 public:
  virtual ~EntryReader() = default;
  // Opens the file entry with input index `entry`; the reason when it cannot.
  virtual std::optional<std::string> Open(size_t entry, std::unique_ptr<EntryStream>& stream) = 0;
};

// Room for coded data that has to wait while the files before it are coded.
class SpillFile {
 public:
  virtual ~SpillFile() = default;
  virtual bool Append(std::span<const uint8_t> bytes) = 0;
  // Hands everything appended back to take, in order, a piece at a time.
  virtual bool ReadBack(const std::function<bool(std::span<const uint8_t>)>& take) = 0;
};

// Where the distributable goes as it is made.
class ArchiveOutput {
 public:
  virtual ~ArchiveOutput() = default;
  virtual bool Append(std::span<const uint8_t> bytes) = 0;
  // Writes bytes again at offset, over bytes already appended: the size
  // field, which is known only when the last block is out.
  virtual bool Overwrite(uint64_t offset, std::span<const uint8_t> bytes) = 0;
  // A new spill; by default one in memory. Null when none can be made.
  virtual std::unique_ptr<SpillFile> NewSpill();
};

// The whole distributable in a vector (empty at the start), spills in memory.
class MemoryOutput : public ArchiveOutput {
 public:
  explicit MemoryOutput(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  bool Append(std::span<const uint8_t> bytes) override;
  bool Overwrite(uint64_t offset, std::span<const uint8_t> bytes) override;

 private:
  std::vector<uint8_t>& bytes_;
};

// Input bytes coded so far and in all; the coded bytes of the files finished
// so far and those files' input bytes, whose quotient is the ratio so far.
// Calls come from the coding threads, one at a time.
using PackProgress = std::function<void(uint64_t inputDone, uint64_t inputTotal,
                                        uint64_t packedFinished, uint64_t inputFinished)>;
// Receives the distributable in pieces; false stops the writing as failed.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

struct PackOptions {
  int Level = kDefaultLevel;  // 1 (fastest) to 9 (smallest)
  // Store the entries exactly in the given order, every folder entry
  // included. Otherwise folders that hold other entries are dropped (the
  // expander makes them for their contents), the remaining folders come
  // first, and files are grouped by extension, then by name.
  bool KeepOrder = false;
  std::string Comment;                  // shown before expansion; no zero byte
  std::string RunAfter;                 // launched after expansion; no zero byte
  std::optional<std::string> Password;  // protects the archive; not empty, no CR or LF
  uint8_t ProtectionFlag = 1;           // the header's flag of a protected archive, not 0
  int Threads = 0;                      // coding threads; 0: one per processor
  PackProgress Progress;
  EntryReader* Reader = nullptr;  // reads the files (sizes in ArchiveEntry::Size); null: Data
  // Coded bytes of later files held in memory while an earlier one is coded;
  // past this they go to the output's spills. Tests lower it.
  size_t WaitingBudget = size_t{32} << 20;
};

struct EntryStats {
  size_t InputIndex = 0;  // position in the caller's list
  bool IsFolder = false;
  std::string StoredName;  // full name as the expander sees it (a folder ends in "\.")
  uint32_t FileSize = 0;
  int32_t RefBack = 0;       // as stored, 0 to 255
  int32_t PrefixLength = 0;  // verbatim bytes taken from the reference slot
  uint32_t RecordBytes = 0;  // name, times, size and reference, as stored
  uint32_t PackedBytes = 0;  // compressed data bytes
};

enum class PackFailure {
  kRefused,  // the input or the options cannot be packed
  kRead,     // a file could not be read as it was listed (EntryReader's reason)
  kWrite,    // the output or a spill refused bytes
};

struct PackResult {
  bool Ok = false;
  PackFailure Failure = PackFailure::kRefused;  // when not Ok
  std::string Error;                            // when not Ok: what was refused, and why
  std::optional<size_t> ErrorEntry;             // input index of the entry concerned, if any
  std::vector<EntryStats> Entries;              // in stored order
  uint64_t PayloadBytes = 0;                    // entry records before cutting into blocks
  uint64_t ArchiveBytes = 0;                    // size of the whole distributable
};

// What the options hold that the format or the expander cannot take, in the
// words a user reads; none when they can be packed. WriteArchive refuses
// them the same; a caller may ask first, before it gathers the files.
std::optional<std::string> PackOptionsProblem(const PackOptions& options);

// Packs the entries behind coreImage (exactly 20480 bytes) into output, as
// the files are coded. Refuses, before writing: a core image of another
// size, no entries, a level outside 1-9, a file of 2^31 bytes or more, an
// empty name, a name with a zero byte, a file name ending in "\.", a name
// starting with '*' that cannot be front-compressed, texts with a zero byte,
// a bad password. Fails part way (the caller discards what was written) when
// the distributable would reach 2^31 bytes, a file cannot be read as listed,
// or output refuses bytes.
PackResult WriteArchive(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
                        const PackOptions& options, ArchiveOutput& output);
// The same, the whole distributable gathered in memory and handed to sink
// only when it is complete: a failure writes nothing.
PackResult WriteArchive(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
                        const PackOptions& options, const ByteSink& sink);

// The same, appending the distributable to out.
PackResult WriteArchiveToVector(std::span<const uint8_t> coreImage,
                                std::span<const ArchiveEntry> entries, const PackOptions& options,
                                std::vector<uint8_t>& out);
