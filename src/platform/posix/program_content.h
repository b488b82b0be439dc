// Which expanded files Linux should be able to run. The archive keeps no
// permission bits, so the content decides: a script with an interpreter line
// ("#!") or an ELF image is made executable, every other file keeps the mode
// it was created with (0666 less the umask) or had before it was replaced.
// Shared by the Linux core and the writer.
#pragma once

#include <stdint.h>

inline constexpr int32_t kProgramHeadLength = 4;  // bytes the decision looks at

inline bool LooksLikeProgram(const uint8_t* head, int32_t length) {
  if (length >= 2 && head[0] == '#' && head[1] == '!') return true;
  return length >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

// Execute is added where reading is allowed and the umask lets it be: a new
// file (0666 less the umask) becomes 0777 less the umask, a replaced file
// that its owner kept private (0600) stays private (0700).
inline uint32_t WithExecute(uint32_t mode, uint32_t umask) {
  return mode | (((mode & 0444) >> 2) & ~umask);
}
