// The archive header after the 20480-byte core image: OriginalSize, the
// comment, the run-after command and the protection header. None of it is
// checked or scrambled; it is read straight from the program's own file, a
// byte at a time, by the expander and by the writer's reader alike. A file
// that ends inside the header stops the run as a read error.
#pragma once

#include <stdint.h>

#include "container/block_stream.h"
#include "format/format.h"

// Reads exactly count bytes of the file or stops the run.
void ReadHeaderBytes(BlockStream& s, void* buffer, int32_t count);
uint8_t ReadHeaderByte(BlockStream& s);
// The little-endian size that the archive records for the whole file.
int32_t ReadOriginalSize(BlockStream& s);
// Reads one zero-terminated header text into text (capacity bytes with the
// zero); the bool result is false when the text does not fit.
bool ReadHeaderString(BlockStream& s, char* text, int32_t capacity);
// The protection flag and, when it is not 0, the check value of the password.
void ReadProtectionHeader(BlockStream& s);

// How the file's size compares with the size its header records. A file of
// exactly kCoreSize bytes is a bare core and holds no header at all.
enum SizeVerdict : int32_t { kSizeMatches, kFileSmaller, kFileLarger };
inline SizeVerdict CheckArchiveSize(int32_t fileSize, int32_t originalSize) {
  if (fileSize == originalSize) return kSizeMatches;
  return fileSize < originalSize ? kFileSmaller : kFileLarger;
}
