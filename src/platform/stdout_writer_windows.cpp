// Standard output on Windows: a pipe, a console or a file, written with
// WriteFile until every byte is out.  A pipe in no-wait mode takes none of
// the bytes while it is full (WriteFile succeeds with zero written); the
// writer then yields a millisecond and tries again.  Line feeds go out as
// CR LF, as the C library's text mode wrote them before.
#include <windows.h>

#include "platform/stdout_writer.h"

namespace {

// Bytes translated per WriteFile call.
constexpr size_t ChunkRoom = 4096;

// Writes a translated chunk whole.
bool writeWhole(HANDLE out, const char* bytes, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(out, bytes, count, &written, nullptr)) return false;
    if (written == 0) Sleep(1);
    bytes += written;
    count -= written;
  }
  return true;
}

}  // namespace

bool writeStandardOutput(const char* bytes, size_t count) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  char chunk[ChunkRoom];
  size_t used = 0;
  for (size_t i = 0; i < count; ++i) {
    if (used + 2 > ChunkRoom) {
      if (!writeWhole(out, chunk, (DWORD)used)) return false;
      used = 0;
    }
    if (bytes[i] == '\n') chunk[used++] = '\r';
    chunk[used++] = bytes[i];
  }
  return writeWhole(out, chunk, (DWORD)used);
}
