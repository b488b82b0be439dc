// The writer's public interface: turns a core image and a list of entries into
// a distributable file (core image, archive header, checked block stream of
// entry records). Everything is checked and coded in memory before the first
// byte goes to the sink, so a refused input writes nothing. Errors are values.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
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
  std::span<const uint8_t> Data;  // file contents (the caller keeps them alive); unused for folders
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

struct PackResult {
  bool Ok = false;
  std::string Error;                 // when not Ok: what was refused, and why
  std::optional<size_t> ErrorEntry;  // input index of the entry concerned, if any
  std::vector<EntryStats> Entries;   // in stored order
  uint64_t PayloadBytes = 0;         // entry records before cutting into blocks
  uint64_t ArchiveBytes = 0;         // size of the whole distributable
};

// What the options hold that the format or the expander cannot take, in the
// words a user reads; none when they can be packed. WriteArchive refuses
// them the same; a caller may ask first, before it gathers the files.
std::optional<std::string> PackOptionsProblem(const PackOptions& options);

// Packs the entries behind coreImage (exactly 20480 bytes) and hands the
// distributable to sink. Refuses, before writing: a core image of another
// size, no entries, a level outside 1-9, a file of 2^31 bytes or more, a
// distributable that would reach 2^31 bytes, an empty name, a name with a
// zero byte, a file name ending in "\.", a name starting with '*' that
// cannot be front-compressed, texts with a zero byte, a bad password.
PackResult WriteArchive(std::span<const uint8_t> coreImage, std::span<const ArchiveEntry> entries,
                        const PackOptions& options, const ByteSink& sink);

// The same, appending the distributable to out.
PackResult WriteArchiveToVector(std::span<const uint8_t> coreImage,
                                std::span<const ArchiveEntry> entries, const PackOptions& options,
                                std::vector<uint8_t>& out);
