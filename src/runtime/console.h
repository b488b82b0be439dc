// Console conventions: every write statement is flushed; a line end is the
// backend's own; input is read as lines ended by a carriage return (and, on
// the Linux port, a line feed), with the end of input sticky.
#pragma once

#include <stdint.h>

inline constexpr int32_t kCarriageReturn = 13;
inline constexpr int32_t kLineFeed = 10;
inline constexpr int32_t kEndOfInput = 26;  // Ctrl-Z; every read after the end yields it
inline constexpr char kBell = 7;

struct ConsoleState {
  bool InputEnded;    // standard input has ended
  bool DropLineFeed;  // a line feed right after the last carriage return belongs to it
};
// The console's state is the process's, like the console itself.
extern ConsoleState gConsole;
void ResetConsole();

void WriteText(const char* text);                        // the program's own text
void WriteArchiveText(const char* text, int32_t count);  // text from the archive
void EndLine();
void WriteLine(const char* text);

// Next input character; a line end of any accepted form comes as one carriage return.
int32_t ReadInputChar();
// Reads one line into text (capacity with the zero); returns its length, or -1
// when the line did not fit (it is consumed all the same).
int32_t ReadLine(char* text, int32_t capacity);
// The first character of a line (a carriage return for an empty line), then
// input discarded through the next line end.
int32_t ReadAnswerChar();
void WaitForEnter();
