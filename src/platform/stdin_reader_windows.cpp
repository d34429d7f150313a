// Standard input on Windows may be an anonymous pipe (a GUI or match
// runner), a console (a user typing) or a file.  Every kind is read with
// one blocking ReadFile: a pipe read returns as soon as the writer's bytes
// are in, a console read when the user presses Enter.  Nothing here sleeps
// or waits with a time limit, so no answer waits for the scheduler's timer
// tick (15.6 ms by default): a Sleep(10) between looks at a pipe sleeps
// until the next tick, which "stop", "ponderhit" and "isready" would pay on
// every command.
//
// The quit sequence ends a read that is under way with CancelSynchronousIo
// on the reading thread, which makes ReadFile fail at once with
// ERROR_OPERATION_ABORTED.  It works on pipes, and on consoles since
// Windows 8 (their reads go through the console driver); Wine cancels both
// too.  Where a console read cannot be cancelled (Windows 7, whose console
// host serves reads over a private channel), an Enter key written into the
// console's input ends the read instead.  A Unix pipe that Wine hands over
// as standard input is read by Wine with a plain blocking system call that
// nothing can cancel; the engine then ends without waiting for its input
// thread (the thread leaves without touching anything once its read
// returns, see stdin_reader.h).
#include <windows.h>

#include <atomic>

#include "platform/stdin_reader.h"

namespace {

std::atomic<bool> interrupted{false};
// The reading thread is inside ReadFile (or about to enter it).
std::atomic<bool> reading{false};
// A handle of the reading thread, taken at its first read.
std::atomic<HANDLE> readerThread{nullptr};

// How often the interrupt asks again while the reader is between marking
// itself as reading and entering ReadFile; each try yields the processor.
constexpr int CancelTries = 100;

bool isConsole(HANDLE input) {
  DWORD mode = 0;
  return GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode);
}

// The id of the thread whose handle readerThread holds.
std::atomic<DWORD> readerThreadId{0};

// Keeps a real handle of the calling thread (GetCurrentThread's handle
// means "the caller" in whichever thread uses it), taken again when another
// thread reads, so the interrupt cancels the read of the latest reader.
void rememberReaderThread() {
  if (readerThread.load() != nullptr && readerThreadId.load() == GetCurrentThreadId()) return;
  HANDLE self = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return;
  // The handle of an earlier reader stays open: the interrupt may be using
  // it (in the engine only the input thread ever reads).
  readerThreadId.store(GetCurrentThreadId());
  readerThread.store(self);
}

// Puts a press and release of Enter into the console's input, which ends a
// line read the way the user's Enter does.
void pressEnter(HANDLE console) {
  INPUT_RECORD keys[2] = {};
  for (int i = 0; i < 2; ++i) {
    keys[i].EventType = KEY_EVENT;
    keys[i].Event.KeyEvent.bKeyDown = i == 0;
    keys[i].Event.KeyEvent.wRepeatCount = 1;
    keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
    keys[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
  }
  DWORD written = 0;
  WriteConsoleInputW(console, keys, 2, &written);
}

}  // namespace

long readStandardInput(char* buffer, size_t size) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return -1;
  if (size > 65536) size = 65536;
  rememberReaderThread();
  // The interrupt sets its flag and then looks at this one; the reader sets
  // this one and then looks at the interrupt's, so either the reader sees
  // the interrupt here or the interrupt sees the reader in its read.
  reading.store(true);
  if (interrupted.load()) {
    reading.store(false);
    return -1;
  }
  DWORD n = 0;
  const BOOL ok = ReadFile(input, buffer, (DWORD)size, &n, nullptr);
  const DWORD error = ok ? 0 : GetLastError();
  reading.store(false);
  if (interrupted.load()) return -1;
  // A message-mode pipe's message longer than the buffer: its first part
  // is here, the next reads take the rest.
  if (error == ERROR_MORE_DATA) return (long)n;
  // A broken pipe is the end of a pipe, no bytes the end of a file, of a
  // Unix pipe under Wine, or Ctrl+Z typed on a console.
  return ok && n > 0 ? (long)n : -1;
}

void interruptStandardInput() {
  interrupted.store(true);
  const HANDLE reader = readerThread.load();
  if (reader == nullptr) return;  // no read was ever made: the first one sees the flag
  for (int i = 0; i < CancelTries && reading.load(); ++i) {
    if (CancelSynchronousIo(reader)) return;
    // ERROR_NOT_FOUND: no read to cancel yet (the reader is about to enter
    // ReadFile or has just left it), or one that cannot be cancelled.
    if (GetLastError() != ERROR_NOT_FOUND) break;
    SwitchToThread();
  }
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (reading.load() && isConsole(input)) pressEnter(input);
}
