// The header reads. They go to the file itself, past the block stream's
// buffer, which is not in use yet.
#include "container/archive_header.h"

#include "format/signed_core.h"
#include "runtime/stop.h"

void ReadHeaderBytes(BlockStream& s, void* buffer, int32_t count) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int32_t n = SysReadFile(s.ArchiveFile, out, count);
    if (n <= 0) ReadError(n < 0 ? kStopReadFailed : kStopArchiveEnds);
    out += n;
    count -= n;
  }
}

uint8_t ReadHeaderByte(BlockStream& s) {
  uint8_t b;
  ReadHeaderBytes(s, &b, 1);
  return b;
}

int32_t ReadOriginalSize(BlockStream& s) {
  uint8_t size[4];
  ReadHeaderBytes(s, size, 4);
  return static_cast<int32_t>(LittleEndian32(size));
}

bool ReadHeaderString(BlockStream& s, char* text, int32_t capacity) {
  int32_t length = 0;
  for (uint8_t b = ReadHeaderByte(s); b != 0; b = ReadHeaderByte(s)) {
    if (length >= capacity - 1) return false;
    text[length++] = static_cast<char>(b);
  }
  text[length] = 0;
  return true;
}

void ReadProtectionHeader(BlockStream& s) {
  uint8_t flag = ReadHeaderByte(s);
  if (flag == 0) {
    s.IsProtected = false;
    return;
  }
  s.IsProtected = true;
  s.KeyPosition = 1;
  uint8_t low = ReadHeaderByte(s);
  uint8_t high = ReadHeaderByte(s);
  s.CheckValue = static_cast<uint16_t>(((flag ^ high) << 8) | (flag ^ low));
}

#ifndef VARNOW_NO_SIGNATURES
SizeVerdict CheckArchiveSize(BlockStream& s, const uint8_t* core, int32_t originalSize) {
  int32_t fileSize = s.ArchiveSize;
  if (fileSize == originalSize) return kSizeMatches;
  if (fileSize < originalSize) return kFileSmaller;
  SignedFields fields = FindSignedFields(core);
  if (fields.CheckSum == 0 || originalSize <= kCoreSize) return kFileLarger;
  // The table starts at a multiple of 8, fewer than 8 bytes after the
  // archive, and ends the file. Its size, taken as signed, is positive: a
  // file of 2^31 bytes or more is never opened, and a table that ends
  // before the file is no table.
  uint32_t offset = LittleEndian32(core + fields.CertificateEntry);
  int32_t size = static_cast<int32_t>(LittleEndian32(core + fields.CertificateEntry + 4));
  uint32_t padding = offset - static_cast<uint32_t>(originalSize);
  if ((offset & (kCertificateAlign - 1)) != 0 || padding >= kCertificateAlign || size <= 0 ||
      static_cast<uint32_t>(fileSize) - offset != static_cast<uint32_t>(size))
    return kFileLarger;
  uint8_t zeros[kCertificateAlign];
  if (SysReadAt(s.ArchiveFile, originalSize, zeros, static_cast<int32_t>(padding)) !=
      static_cast<int32_t>(padding))
    ReadError(kStopReadFailed);
  while (padding > 0)
    if (zeros[--padding] != 0) return kFileLarger;
  s.ArchiveSize = originalSize;
  s.CertificateFollows = true;
  return kSizeSigned;
}
#endif
