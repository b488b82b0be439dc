// Entry point of the Linux core.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

int main() {
  // Standard input, output and error are open before the core opens anything:
  // one that came closed gets /dev/null, which reads as the end of input. A
  // file opened in its place would be taken for the console, and the answers
  // read from the archive itself. When /dev/null cannot be had, the run is
  // refused rather than risked. The name is built on the stack: as a literal
  // it would cost the sanitized core a checked global.
  char null[] = "/dev/null";
  struct stat st;
  for (int fd = 0; fd < 3; ++fd)
    if (fstat(fd, &st) != 0 && open(null, O_RDWR) != fd) SysExit(1);
  // A closed console must not kill the run in the middle of a file.
  signal(SIGPIPE, SIG_IGN);
  SysExit(ExpanderMain());
}
