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
enum SizeVerdict : int32_t {
  kSizeMatches,  // the file is the archive
  kFileSmaller,  // refused: cut short
  kFileLarger,   // refused: bytes added
  kSizeSigned,   // the archive, then a certificate table appended by signing
};
#ifndef VARNOW_NO_SIGNATURES
// The one size rule of the Windows core and the writer's reader;
// s.ArchiveSize holds the file's size. A longer file is sound only when the
// excess is exactly the certificate table that core's header points at: it
// starts at originalSize rounded up to 8, after zero bytes only, is not
// empty, and ends the file. Then the archive ends at originalSize:
// ArchiveSize becomes that and CertificateFollows is set, so the block
// stream reads no further.
SizeVerdict CheckArchiveSize(BlockStream& s, const uint8_t* core, int32_t originalSize);
inline bool SizeRefused(SizeVerdict v) { return v != kSizeMatches && v != kSizeSigned; }
#else
// The Linux core (VARNOW_NO_SIGNATURES): its image is no PE file and can
// never be signed, so every longer file is refused, as it always was.
inline SizeVerdict CheckArchiveSize(BlockStream& s, const uint8_t*, int32_t originalSize) {
  if (s.ArchiveSize == originalSize) return kSizeMatches;
  return s.ArchiveSize < originalSize ? kFileSmaller : kFileLarger;
}
inline bool SizeRefused(SizeVerdict v) { return v != kSizeMatches; }
#endif
