// The ways out of a run. Every unrecoverable failure of the expansion calls one
// of these; none returns, so no caller can forget an error. The core defines
// them as the fatal stop; the writer's reader defines its own, which report the
// failure to its caller instead.
#pragma once

// "File read error." and the fatal stop.
[[noreturn]] void ReadError();
// "File write error." and the fatal stop.
[[noreturn]] void WriteError();
// "This file is broken." and the fatal stop: a damaged block, or archive
// content that no well-formed archive holds.
[[noreturn]] void BrokenError();
// Closes the files, deletes a partly written output file, waits for Enter and
// ends the process with exit code 2.
[[noreturn]] void FatalStop();
