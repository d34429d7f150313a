/* Starts a Windows program with a Windows pipe as its standard input and
   copies this program's own standard input into that pipe.  Under Wine a
   program started from Linux reads its input from a Unix pipe, which Wine
   serves differently from the anonymous pipes a Windows GUI hands to an
   engine; through this relay the engine reads a pipe as on Windows.
   Standard output and error are passed on unchanged, and the relay ends
   with the program, with its exit status.

   Build: x86_64-w64-mingw32-gcc -O2 -static -o win_pipe_relay.exe win_pipe_relay.c
   Use:   wine win_pipe_relay.exe orvane.exe [arguments]                */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static HANDLE child;

/* Ends the relay when the program ends, whatever the copy is waiting for. */
static DWORD WINAPI followChild(LPVOID unused) {
  DWORD status = 1;
  WaitForSingleObject(child, INFINITE);
  GetExitCodeProcess(child, &status);
  ExitProcess(status);
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: win_pipe_relay PROGRAM [ARGUMENTS]\n");
    return 2;
  }
  char command[32768] = "";
  for (int i = 1; i < argc; ++i) {
    if (strlen(command) + strlen(argv[i]) + 4 >= sizeof command) return 2;
    strcat(command, i > 1 ? " \"" : "\"");
    strcat(command, argv[i]);
    strcat(command, "\"");
  }
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE childInput, toChild;
  if (!CreatePipe(&childInput, &toChild, &inherit, 0)) return 2;
  SetHandleInformation(toChild, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start = {sizeof start};
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = childInput;
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started;
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &start, &started)) {
    fprintf(stderr, "win_pipe_relay: cannot start %s (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  CloseHandle(childInput);
  child = started.hProcess;
  if (!CreateThread(NULL, 0, followChild, NULL, 0, NULL)) return 2;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[4096];
  DWORD got, put;
  while (ReadFile(input, buffer, sizeof buffer, &got, NULL) && got > 0)
    if (!WriteFile(toChild, buffer, got, &put, NULL)) break;
  CloseHandle(toChild);
  WaitForSingleObject(child, INFINITE);
  Sleep(INFINITE); /* followChild ends the process */
  return 0;
}
