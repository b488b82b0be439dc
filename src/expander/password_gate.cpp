// The password gate: at most three tries; the Crc16 of the typed line must
// equal the stored check value. A line too long to keep for unscrambling is a
// wrong answer. On a console the typed line is not shown: echo is off for
// that line alone, and since the Enter key is not shown either, the line is
// ended here.
#include "expander/expander_state.h"
#include "expander/program.h"
#include "format/crc16.h"
#include "runtime/console.h"
#include "runtime/messages.h"

void PasswordGate() {
  BlockStream& s = gState.Loop.Stream;
  if (!s.IsProtected) return;
  uint32_t mode = 0;
  const bool console = SysGetInputMode(&mode);
  for (int32_t tries = 0; tries < 3; ++tries) {
    // A console whose echo is off already is left as it is, like a pipe.
    const bool hidden = console && (mode & kEchoInput) != 0 && SysSetInputMode(mode & ~kEchoInput);
    WriteText(kPasswordPrompt);
    int32_t length = ReadLine(s.Password, kPasswordLimit);
    if (hidden) {
      SysSetInputMode(mode);
      EndLine();
    }
    if (length < 0) continue;
    if (Crc16Of(reinterpret_cast<const uint8_t*>(s.Password), length) == s.CheckValue) {
      s.PasswordLength = length;
      return;
    }
  }
  SysExit(kExitRefused);
}
