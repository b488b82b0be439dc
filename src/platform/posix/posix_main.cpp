// Entry point of the Linux core.
#include <signal.h>

#include "platform/platform.h"

int main() {
  // A closed console must not kill the run in the middle of a file.
  signal(SIGPIPE, SIG_IGN);
  SysExit(ExpanderMain());
}
