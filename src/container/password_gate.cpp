// The password gate: at most three tries; the Crc16 of the typed line must
// equal the stored check value. A line too long to keep for unscrambling is a
// wrong answer.
#include "container/archive_header.h"
#include "container/crc16.h"
#include "driver/expander_state.h"
#include "driver/messages.h"

void PasswordGate() {
  BlockStream& s = gState.Stream;
  if (!s.IsProtected) return;
  for (int32_t tries = 0; tries < 3; ++tries) {
    WriteText(kPasswordPrompt);
    int32_t length = ReadLine(s.Password, kPasswordLimit);
    if (length < 0) continue;
    if (Crc16Of(reinterpret_cast<const uint8_t*>(s.Password), length) == s.CheckValue) {
      s.PasswordLength = length;
      return;
    }
  }
  SysExit(kExitRefused);
}
