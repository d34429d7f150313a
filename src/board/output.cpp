#include "board/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/stdout_writer.h"

namespace {
// Room for every usual line; longer ones (long paths) are built on the heap.
constexpr int LineRoom = 512;

// Keeps each text whole when threads write at once: a write that waits for
// a slow reader may go out in several pieces.
std::mutex outputMutex;

// Formats the text, with a line feed after it when asked, and writes it.
void writeFormatted(bool lineFeed, const char* format, va_list args) {
  char text[LineRoom];
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(text, LineRoom - 1, format, args);
  if (length < 0) {
    va_end(again);
    return;
  }
  std::string longText;
  const char* bytes = text;
  if (length >= LineRoom - 1) {
    longText.resize((size_t)length + 1);
    std::vsnprintf(longText.data(), longText.size(), format, again);
    bytes = longText.data();
  }
  va_end(again);
  size_t count = (size_t)length;
  if (lineFeed) {
    if (bytes == text) text[count] = '\n';
    else longText.back() = '\n';
    ++count;
  }
  writeText(bytes, count);
}

}  // namespace

void writeText(const char* bytes, size_t count) {
  std::lock_guard<std::mutex> lock(outputMutex);
  writeStandardOutput(bytes, count);
}

void writeText(const std::string& text) { writeText(text.data(), text.size()); }

void writeLine(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeFormatted(true, format, args);
  va_end(args);
}

void writePart(const char* format, ...) {
  va_list args;
  va_start(args, format);
  writeFormatted(false, format, args);
  va_end(args);
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
