// The checked block stream: the payload after the archive header, cut into
// blocks of 4096 data bytes each followed by its Crc16 (high byte first), the
// data XOR-scrambled with the password when the archive is protected. Blocks
// are read lazily, so EndOfArchive is set exactly when the last payload byte
// is handed out.
#pragma once

#include <stdint.h>

#include "format/format.h"
#include "platform/platform.h"

struct BlockStream {
  FileHandle ArchiveFile;  // the program's own file, read-only
  int32_t ArchiveSize;     // where the archive ends: as checked at opening
#ifndef VARNOW_NO_SIGNATURES
  bool CertificateFollows;  // a signature follows the archive: read no further
#endif
  uint8_t BlockBuffer[kBlockSize];  // the current block, unscrambled in place
  int32_t BlockDataLength;          // data bytes in the current block
  int32_t ConsumedCount;            // payload bytes handed out so far
  bool EndOfArchive;                // the last payload byte has been handed out
  bool IsProtected;                 // payload scrambled with the password
  uint16_t CheckValue;              // Crc16 that the password must have
  int32_t KeyPosition;              // 1-based index of the next password character
  char Password[kPasswordLimit];    // the accepted password, zero-terminated
  int32_t PasswordLength;           // its length in bytes
};

// The next payload byte; a damaged block or a request past the end stops the run.
uint8_t NextArchiveByte(BlockStream& s);

// Bytes of the current block that may be taken at once: those after the next
// one up to, not including, the block's last byte. None when the next byte
// starts a new block (it is read only when NextArchiveByte needs it).
inline int32_t BytesInBlock(const BlockStream& s) {
  int32_t p = s.ConsumedCount & (kBlockDataSize - 1);  // the count is never negative
  return p == 0 ? 0 : s.BlockDataLength - 1 - p;
}
inline const uint8_t* NextBlockBytes(const BlockStream& s) {
  return s.BlockBuffer + (s.ConsumedCount & (kBlockDataSize - 1));
}
// count <= BytesInBlock.
inline void TakeBlockBytes(BlockStream& s, int32_t count) { s.ConsumedCount += count; }
// The last count bytes handed out are handed out again. They must all lie in
// the block held now: bytes taken with TakeBlockBytes (or by NextArchiveByte
// after them, in the same block) and not yet used; the block's bytes are
// still in the buffer, so nothing is read again.
inline void GiveBackBytes(BlockStream& s, int32_t count) { s.ConsumedCount -= count; }
