// The header reads. They go to the file itself, past the block stream's
// buffer, which is not in use yet.
#include "container/archive_header.h"

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
  return static_cast<int32_t>(static_cast<uint32_t>(size[0]) | static_cast<uint32_t>(size[1]) << 8 |
                              static_cast<uint32_t>(size[2]) << 16 |
                              static_cast<uint32_t>(size[3]) << 24);
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
