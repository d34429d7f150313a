#include "board/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
// Room for every usual line; longer ones (long paths) are built on the heap.
constexpr int LineRoom = 512;
}  // namespace

void writeLine(const char* format, ...) {
  char text[LineRoom];
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int length = std::vsnprintf(text, LineRoom - 1, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (length < LineRoom - 1) {
    text[length] = '\n';
    std::fwrite(text, 1, (size_t)length + 1, stdout);
  } else {
    std::string line((size_t)length + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, again);
    line.back() = '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  va_end(again);
  std::fflush(stdout);
}

void fatalError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::fflush(nullptr);
  std::_Exit(1);
}
