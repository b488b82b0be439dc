// The files `varnow pack` reads and writes while the writer codes: each
// source read a window at a time through its open file (never mapped, so a
// file cut short under the reader is an error with the file's name, not a
// signal), checked against the size it was listed with, and digested for
// the verify; the distributable written straight into its temporary file,
// with the writer's spills in unnamed temporary files beside it, which
// vanish with the process however it ends.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "stream_digest.h"
#include "writer/archive_writer.h"

// What became of one source as it was read.
struct ReadRecord {
  uint64_t Bytes = 0;   // bytes read, all of them when the read finished
  uint64_t Digest = 0;  // of those bytes, when finished
  bool Finished = false;
};

// Reads the file entries' DiskPath, each expected to hold Size bytes.
// records: by input index, kept for the verify.
class SourceReader : public EntryReader {
 public:
  SourceReader(std::vector<std::string> paths, std::vector<uint64_t> sizes,
               std::vector<ReadRecord>& records)
      : paths_(std::move(paths)), sizes_(std::move(sizes)), records_(records) {}
  std::optional<std::string> Open(size_t entry, std::unique_ptr<EntryStream>& stream) override;

 private:
  std::vector<std::string> paths_;
  std::vector<uint64_t> sizes_;
  std::vector<ReadRecord>& records_;
};

// The distributable into an open file, spills in the folder.
class FileOutput : public ArchiveOutput {
 public:
  FileOutput(host::File& file, std::string folder) : file_(file), folder_(std::move(folder)) {}
  bool Append(std::span<const uint8_t> bytes) override;
  bool Overwrite(uint64_t offset, std::span<const uint8_t> bytes) override;
  std::unique_ptr<SpillFile> NewSpill() override;
  // The first failure to write, if any.
  const host::Error& Error() const { return error_; }

 private:
  // Keeps the first error; true when there was none.
  bool Took(host::Error error);

  host::File& file_;
  std::string folder_;
  host::Error error_;
};

// The test seam: VARNOW_TEST_CHANGE_WHILE_READING names what happens to the
// first source once its first window is read ("shrink", "grow", "remove" or
// "signal"), or just before it is opened ("remove-before-open"), so that the
// tests change a file under the reader at a known moment.
