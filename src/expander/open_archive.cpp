// OpenArchive: the banner, then the own file and its checks. The header texts
// are read one byte at a time straight from the file; a file that ends inside
// them is a read error, and a run-after command longer than its buffer is
// refused the same way.
#include "container/archive_header.h"
#include "expander/expander_state.h"
#include "expander/program.h"
#include "runtime/console.h"
#include "runtime/messages.h"
#include "runtime/stop.h"

[[noreturn]] static void RefuseArchive() {
  SysCloseFile(gState.Loop.Stream.ArchiveFile);
  gState.Loop.Stream.ArchiveFile = kNoFile;
  SysExit(kExitRefused);
}

// A byte of the comment after some of it was shown: when the file ends inside
// the comment, the line is ended first so the message stands on its own line.
static uint8_t ReadShownCommentByte() {
  uint8_t b;
  int32_t n = SysReadFile(gState.Loop.Stream.ArchiveFile, &b, 1);
  if (n == 1) return b;
  EndLine();
  ReadError(n < 0 ? kStopReadFailed : kStopArchiveEnds);
}

void ShowComment() {
  // Streamed: each character (as the code page steps over it) is one write,
  // so the comment needs no buffer and no bound.
  char pair[3] = {0, 0, 0};
  pair[0] = static_cast<char>(ReadHeaderByte(gState.Loop.Stream));
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

void OpenArchive() {
  WriteText(kBannerStart);
  WriteText(kProductName);
  WriteText(kBannerEnd);
  WriteLine(kCreditText);

  BlockStream& s = gState.Loop.Stream;
  s.ArchiveFile = SysOpenOwnFile();
  if (s.ArchiveFile == kNoFile) ReadError(kStopReadFailed);
  s.ArchiveSize = SysFileSize(s.ArchiveFile);
  if (s.ArchiveSize < 0) ReadError(kStopReadFailed);
  if (s.ArchiveSize == kCoreSize) {
    WriteLine(kCoreProgramMessage);
    RefuseArchive();
  }
  ReadHeaderBytes(s, gState.CoreImage, kCoreSize);
  gState.OriginalSize = ReadOriginalSize(s);
  // A signed Windows distributable ends with its certificate table, which
  // the rule accepts and cuts off; every other size is refused.
  SizeVerdict verdict = CheckArchiveSize(s, gState.CoreImage, gState.OriginalSize);
  if (SizeRefused(verdict)) {
    WriteLine(verdict == kFileSmaller ? kSmallerMessage : kLargerMessage);
    WaitForEnter();
    RefuseArchive();
  }
  s.ConsumedCount = 0;
  ShowComment();
  if (!ReadHeaderString(s, gState.RunAfter, kRunAfterLimit)) ReadError(kStopRunAfterTooLong);
  ReadProtectionHeader(s);
}
