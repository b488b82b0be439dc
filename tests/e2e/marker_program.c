/* The program that the Windows run-after tests start: it leaves the file
   marker.txt holding "ran" in its working folder, so a test can see that the
   launch happened. A plain console program with the C runtime. */
#include <stdio.h>

int main(void) {
  FILE* out = fopen("marker.txt.part", "wb");
  if (out == NULL) return 1;
  fputs("ran", out);
  if (fclose(out) != 0) return 1;
  /* Renamed only when complete, so the test never reads half a file. */
  return rename("marker.txt.part", "marker.txt") == 0 ? 0 : 1;
}
