// OpenArchive and the header reads. The header texts are read one byte at a
// time straight from the file; a file that ends inside them is a read error,
// and a run-after command longer than its buffer is refused the same way.
#include "container/archive_header.h"

#include "driver/expander_state.h"
#include "driver/fatal_stop.h"
#include "driver/messages.h"

// Reads exactly count bytes or stops the run.
static void ReadExact(void* buffer, int32_t count) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int32_t n = SysReadFile(gState.Stream.ArchiveFile, out, count);
    if (n <= 0) ReadError();
    out += n;
    count -= n;
  }
}

static uint8_t ReadHeaderByte() {
  uint8_t b;
  ReadExact(&b, 1);
  return b;
}

[[noreturn]] static void RefuseArchive() {
  SysCloseFile(gState.Stream.ArchiveFile);
  gState.Stream.ArchiveFile = kNoFile;
  SysExit(kExitRefused);
}

bool ReadHeaderString(char* text, int32_t capacity) {
  int32_t length = 0;
  for (uint8_t b = ReadHeaderByte(); b != 0; b = ReadHeaderByte()) {
    if (length >= capacity - 1) return false;
    text[length++] = static_cast<char>(b);
  }
  text[length] = 0;
  return true;
}

// A byte of the comment after some of it was shown: when the file ends inside
// the comment, the line is ended first so the message stands on its own line.
static uint8_t ReadShownCommentByte() {
  uint8_t b;
  int32_t n = SysReadFile(gState.Stream.ArchiveFile, &b, 1);
  if (n == 1) return b;
  EndLine();
  ReadError();
}

void ShowComment() {
  // Streamed: each character (as the code page steps over it) is one write,
  // so the comment needs no buffer and no bound.
  char pair[3] = {0, 0, 0};
  pair[0] = static_cast<char>(ReadHeaderByte());
  if (pair[0] == 0) return;
  while (pair[0] != 0) {
    pair[1] = static_cast<char>(ReadShownCommentByte());
    int32_t step = static_cast<int32_t>(SysNextChar(pair) - pair);
    if (step < 1) step = 1;
    WriteArchiveText(pair, step);
    if (step == 2) {
      pair[0] = static_cast<char>(ReadShownCommentByte());
    } else {
      pair[0] = pair[1];
    }
  }
  EndLine();
}

void ReadProtectionHeader() {
  BlockStream& s = gState.Stream;
  uint8_t flag = ReadHeaderByte();
  if (flag == 0) {
    s.IsProtected = false;
    return;
  }
  s.IsProtected = true;
  s.KeyPosition = 1;
  uint8_t low = ReadHeaderByte();
  uint8_t high = ReadHeaderByte();
  s.CheckValue = static_cast<uint16_t>(((flag ^ high) << 8) | (flag ^ low));
}

void OpenArchive() {
  WriteText(kBannerStart);
  WriteText(kProductName);
  WriteText(kBannerEnd);
  WriteLine(kCreditText);

  BlockStream& s = gState.Stream;
  s.ArchiveFile = SysOpenOwnFile();
  if (s.ArchiveFile == kNoFile) ReadError();
  s.ArchiveSize = SysFileSize(s.ArchiveFile);
  if (s.ArchiveSize < 0) ReadError();
  if (s.ArchiveSize == kCoreSize) {
    WriteLine(kCoreProgramMessage);
    RefuseArchive();
  }
  ReadExact(gState.CoreImage, kCoreSize);
  uint8_t size[4];
  ReadExact(size, 4);
  gState.OriginalSize = static_cast<int32_t>(
      static_cast<uint32_t>(size[0]) | static_cast<uint32_t>(size[1]) << 8 |
      static_cast<uint32_t>(size[2]) << 16 | static_cast<uint32_t>(size[3]) << 24);
  if (s.ArchiveSize != gState.OriginalSize) {
    WriteLine(s.ArchiveSize < gState.OriginalSize ? kSmallerMessage : kLargerMessage);
    WaitForEnter();
    RefuseArchive();
  }
  s.ConsumedCount = 0;
  ShowComment();
  if (!ReadHeaderString(gState.RunAfter, kRunAfterLimit)) ReadError();
  ReadProtectionHeader();
}
