// The ways out of a run. Every unrecoverable failure of the expansion calls one
// of these with the reason; none returns, so no caller can forget an error.
// The core defines them as the fatal stop, whose message depends only on the
// routine; the writer's reader defines its own, which report the reason to its
// caller instead.
#pragma once

#include <stdint.h>

enum StopReason : int32_t {
  kStopReadFailed,        // a read, a size or a position of the own file failed
  kStopArchiveEnds,       // the archive ends where more of it is needed
  kStopCloseFailed,       // the own file could not be closed after the last entry
  kStopRunAfterTooLong,   // a run-after command of kRunAfterLimit bytes or more
  kStopWriteFailed,       // an output file could not be created, written, dated or closed
  kStopWriteThroughLink,  // consent to replace a link, which is never written through
  kStopBlockCheck,        // a block fails its check
  kStopNameTooLong,       // an entry name of kNameLimit bytes or more
  kStopUnsafeName,        // an entry name that leaves the current folder
  kStopNegativeSize,      // a file entry's size of 2^31 or more
  kStopUnfilledSlot,      // a reference to a slot that no file has filled
  kStopPrefixTooLong,     // a prefix longer than its reference or its file
  kStopDistanceTooFar,    // a match reaching before the first byte of its data
  kStopMatchTooLong,      // a match past what a size can count
};

// "File read error." and the fatal stop.
[[noreturn]] void ReadError(StopReason reason);
// "File write error." and the fatal stop.
[[noreturn]] void WriteError(StopReason reason);
// "This file is broken." and the fatal stop: a damaged block, or archive
// content that no well-formed archive holds.
[[noreturn]] void BrokenError(StopReason reason);
