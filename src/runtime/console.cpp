// Console output and the three input operations. The end of input is sticky:
// once standard input has ended (or delivered Ctrl-Z), every read yields
// kEndOfInput, so no loop that waits for an answer can spin on it unnoticed.
#include "runtime/console.h"

#include "platform/platform.h"

ConsoleState gConsole;

void ResetConsole() {
  gConsole.InputEnded = false;
  gConsole.DropLineFeed = false;
}

static int32_t TextLength(const char* text) {
  int32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

void WriteText(const char* text) { SysConsoleWrite(text, TextLength(text)); }
void WriteArchiveText(const char* text, int32_t count) { SysConsoleWriteText(text, count); }
void EndLine() { WriteText(kLineEnd); }
void WriteLine(const char* text) {
  WriteText(text);
  EndLine();
}

static int32_t ReadRawByte() {
  ConsoleState& c = gConsole;
  for (;;) {
    if (c.InputEnded) return kEndOfInput;
    int32_t b = SysConsoleReadByte();
    if (b < 0 || b == kEndOfInput) {
      c.InputEnded = true;
      return kEndOfInput;
    }
    bool drop = c.DropLineFeed && b == kLineFeed;
    c.DropLineFeed = false;
    if (!drop) return b;
  }
}

int32_t ReadInputChar() {
  int32_t b = ReadRawByte();
  if (b == kCarriageReturn) {
    // The line feed of a CR LF pair is dropped when it arrives, so that a
    // lone carriage return does not wait for more input.
    gConsole.DropLineFeed = true;
    return kCarriageReturn;
  }
  if (b == kLineFeed && kLineFeedEndsInput) return kCarriageReturn;
  return b;
}

int32_t ReadLine(char* text, int32_t capacity) {
  int32_t length = 0;
  bool fits = true;
  for (;;) {
    int32_t c = ReadInputChar();
    if (c == kCarriageReturn || c == kEndOfInput) break;
    if (length < capacity - 1) {
      text[length++] = static_cast<char>(c);
    } else {
      fits = false;
    }
  }
  text[length] = 0;
  return fits ? length : -1;
}

void WaitForEnter() {
  for (;;) {
    int32_t c = ReadInputChar();
    if (c == kCarriageReturn || c == kEndOfInput) return;
  }
}

int32_t ReadAnswerChar() {
  int32_t answer = ReadInputChar();
  if (answer != kEndOfInput) WaitForEnter();
  return answer;
}
