// Shared by the fuzz targets: a reader of parameters from the front of an
// input, the repairs that let a mutated archive get past its size and block
// checks (so the fuzzer reaches the entry records and the decoder), and the
// checks every run must pass on the fake file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive_builder.h"
#include "fake_platform.h"

// Takes bytes from the front of a fuzz input; past its end every byte is 0.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t Little(int bytes);
  Bytes Take(size_t count);
  Bytes Rest() { return Take(size_ - at_); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Positions in a distributable of the fields that follow the core image.
struct HeaderLayout {
  bool Complete = false;   // the file holds the whole header
  size_t FlagOffset = 0;   // the protection flag
  size_t StreamStart = 0;  // first byte of the block stream
};
HeaderLayout FindHeader(const Bytes& file);

// Stores the real size as OriginalSize (when the file is long enough to hold it).
void FixOriginalSize(Bytes& file);
// Stores the check word that makes password the right answer.
void FixCheckWord(Bytes& file, const HeaderLayout& layout, const std::string& password);
// Rewrites the check bytes of every block of three bytes or more so that it
// passes, its data unscrambled with key (empty: stored plain).
void FixBlockChecks(Bytes& file, size_t streamStart, const std::string& key);

// The repairs a whole-archive target's mode byte may ask for.
inline constexpr uint8_t kRepairSize = 0x01;      // store the real size as OriginalSize
inline constexpr uint8_t kRepairChecks = 0x02;    // make every block pass its check
inline constexpr uint8_t kRepairPassword = 0x04;  // make password the right one
// The fixed test core followed by body, with the repairs that mode asks for.
Bytes RepairedDistributable(const Bytes& body, uint8_t mode, const std::string& password);

// A name as the fake stores it stays inside the folder the expander runs in:
// not absolute, no colon, no component that names a parent folder.
bool StaysInside(const std::string& name, bool doubleByte);

// Empties the fake when an input's run is over, so that every run frees what
// it allocated. libFuzzer runs an input again, looking for a leak, whenever
// its run ends with more allocations than frees; a fake left full until the
// next input's reset made that happen for many inputs.
struct EmptyFakeAtEnd {
  EmptyFakeAtEnd() = default;
  EmptyFakeAtEnd(const EmptyFakeAtEnd&) = delete;
  EmptyFakeAtEnd& operator=(const EmptyFakeAtEnd&) = delete;
  ~EmptyFakeAtEnd() { ResetFake(); }
};

// Stops the process with a message when a run breaks an invariant, so that
// the fuzzer saves the input.
[[noreturn]] void InvariantBroken(const char* what);

// When set, the fake's RunExpander runs this instead of the whole expander
// (linked with --wrap=ExpanderMain; see direct_run.cpp).
extern int (*gDirectBody)();
