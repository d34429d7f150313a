// Standard input on Windows may be an anonymous pipe (a GUI or match
// runner), a console (a user typing) or a file.  A pipe is polled with
// PeekNamedPipe so that the wait ends after the timeout; a console is
// waited on and then read a line at a time; anything else is read as it
// comes.
#include <windows.h>

#include "platform/stdin_reader.h"

namespace {

// Blocking read; -1 at the end of input or on an error.
long readBlocking(HANDLE input, char* buffer, size_t size) {
  DWORD n = 0;
  if (!ReadFile(input, buffer, (DWORD)size, &n, nullptr) || n == 0) return -1;
  return (long)n;
}

}  // namespace

long readStandardInput(char* buffer, size_t size, int timeoutMs) {
  static const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  static const DWORD kind = GetFileType(input);
  static bool peekable = kind == FILE_TYPE_PIPE;
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return -1;
  if (size > 65536) size = 65536;
  if (peekable) {
    DWORD available = 0;
    if (PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
      if (available == 0) {
        Sleep(timeoutMs < 10 ? (DWORD)timeoutMs : 10);
        return 0;
      }
      return readBlocking(input, buffer, available < size ? available : size);
    }
    if (GetLastError() == ERROR_BROKEN_PIPE) return -1;
    peekable = false;  // a pipe that cannot be peeked is read as it comes
  }
  DWORD mode = 0;
  if (kind == FILE_TYPE_CHAR && GetConsoleMode(input, &mode) &&
      WaitForSingleObject(input, (DWORD)timeoutMs) == WAIT_TIMEOUT)
    return 0;
  return readBlocking(input, buffer, size);
}
