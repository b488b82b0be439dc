// The block stream: hands out payload bytes from checked blocks. A block is
// read when its first byte is wanted, unscrambled with the password running on
// across blocks, and checked in the same pass; check bytes are never
// scrambled. Readers that take several bytes at once (the bit reader) get the
// current block's bytes short of its last one, so that the last byte, and the
// test for the end of the archive with it, always goes through NextArchiveByte.
#include "container/block_stream.h"

#include "format/crc16.h"
#include "runtime/stop.h"

static void ReadBlock(BlockStream& s) {
  int32_t want = kBlockSize;
#ifndef VARNOW_NO_SIGNATURES
  // A signed file goes on after the archive: the last block ends where it does.
  if (s.CertificateFollows) {
    int32_t position = SysFilePosition(s.ArchiveFile);
    if (position < 0) ReadError(kStopReadFailed);
    if (s.ArchiveSize - position < want) want = s.ArchiveSize - position;
  }
#endif
  int32_t n = 0;
  while (n < want) {
    int32_t got = SysReadFile(s.ArchiveFile, s.BlockBuffer + n, want - n);
    if (got < 0) ReadError(kStopReadFailed);
    if (got == 0) break;
    n += got;
  }
  // An empty password (accepted only when the check value is 0) cannot
  // scramble anything: the payload is then taken as stored.
  bool scrambled = s.IsProtected && s.PasswordLength > 0;
  uint16_t crc = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (scrambled && i < n - 2) {
      s.BlockBuffer[i] ^= static_cast<uint8_t>(s.Password[s.KeyPosition - 1]);
      s.KeyPosition = s.KeyPosition == s.PasswordLength ? 1 : s.KeyPosition + 1;
    }
    crc = Crc16UpdateByTable(crc, s.BlockBuffer[i]);
  }
  if (crc != 0) BrokenError(kStopBlockCheck);
  s.BlockDataLength = n - 2;
}

uint8_t NextArchiveByte(BlockStream& s) {
  int32_t p = s.ConsumedCount % kBlockDataSize;
  if (p == 0) ReadBlock(s);
  if (p >= s.BlockDataLength) ReadError(kStopArchiveEnds);
  if (p == s.BlockDataLength - 1) {
    int32_t position = SysFilePosition(s.ArchiveFile);
    if (position < 0) ReadError(kStopReadFailed);
    if (position >= s.ArchiveSize) s.EndOfArchive = true;
  }
  ++s.ConsumedCount;
  return s.BlockBuffer[p];
}
