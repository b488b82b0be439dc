// The archive header after the 20480-byte core image: OriginalSize, the
// comment, the run-after command and the protection header. None of it is
// checked or scrambled; it is read straight from the program's own file.
#pragma once

#include <stdint.h>

inline constexpr int32_t kCoreSize = 20480;       // bytes of the core program
inline constexpr int32_t kRunAfterLimit = 32768;  // longest run-after command, with its zero

// Banner, own file, size checks, comment, run-after, protection header.
void OpenArchive();
// Reads one zero-terminated header text into text (capacity bytes with the
// zero); the bool result is false when the text does not fit.
bool ReadHeaderString(char* text, int32_t capacity);
void ShowComment();
void ReadProtectionHeader();
// Asks for the password of a protected archive, at most three times.
void PasswordGate();
