// Which expanded files Linux should be able to run. The archive keeps no
// permission bits, so the content decides: a script with an interpreter line
// ("#!") or an ELF image is made executable (0777 less the umask), every
// other file keeps 0666 less the umask. Shared by the Linux core and the writer.
#pragma once

#include <stdint.h>

inline constexpr int32_t kProgramHeadLength = 4;  // bytes the decision looks at

inline bool LooksLikeProgram(const uint8_t* head, int32_t length) {
  if (length >= 2 && head[0] == '#' && head[1] == '!') return true;
  return length >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}
