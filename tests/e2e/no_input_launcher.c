/* Starts the program its command line names as a service or scheduler may on
   Windows: with no standard input handle at all (STARTF_USESTDHANDLES and a
   null hStdInput), standard output and error passed on, and what it was given
   on its own standard input kept from the program. Ends with the program's
   exit code, or 125 when it could not be started. */
#include <windows.h>

int main(int argc, char** argv) {
  STARTUPINFOA start;
  PROCESS_INFORMATION started;
  DWORD code = 125;
  ZeroMemory(&start, sizeof start);
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = NULL;
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  if (argc < 2 ||
      !CreateProcessA(NULL, argv[1], NULL, NULL, TRUE, 0, NULL, NULL, &start, &started))
    return 125;
  WaitForSingleObject(started.hProcess, INFINITE);
  GetExitCodeProcess(started.hProcess, &code);
  return (int)code;
}
