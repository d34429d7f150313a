#include "engine/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "board/output.h"
#include "engine/uci.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {
std::mutex logMutex;
FILE* logFile = nullptr;
constexpr int MaxMessage = 255;

// The stamp is a duration on the monotonic clock, so the lines of one run
// stay in order whatever the wall clock does.
void writeStamped(FILE* file, const char* message) {
  std::fprintf(file, "%10.3f %.*s", now() - startTime, MaxMessage, message);
  std::fflush(file);
}
}  // namespace

void logText(const char* message) {
  std::lock_guard<std::mutex> lock(logMutex);
  if (logFile) writeStamped(logFile, message);
}

void logLine(const char* format, ...) {
  if (!logIsOpen()) return;
  char message[MaxMessage + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  logText(message);
}

bool logIsOpen() {
  std::lock_guard<std::mutex> lock(logMutex);
  return logFile != nullptr;
}

// The new file is opened before the old one is closed and never waits (a
// FIFO would block the open, and with it every thread that logs): a name
// that cannot be a log is refused with one line, and the log that was open
// stays open under its old name.
void setLogFile(const std::string& name, std::string* variable) {
  const std::string wanted = name == "<empty>" ? std::string() : name;
  FILE* opened = nullptr;
  if (!wanted.empty()) {
    std::string problem;
    opened = fopenWithoutWaiting(wanted.c_str(), "a", false, &problem);
    if (!opened) {
      writeLine("info string Log file %s not opened: %s", wanted.c_str(), problem.c_str());
      return;
    }
    writeLine("info string Log file is %s", wanted.c_str());
  }
  *variable = wanted;
  std::lock_guard<std::mutex> lock(logMutex);
  if (logFile) std::fclose(logFile);
  logFile = opened;
  // The stamps count from the engine's start; this line ties them to the
  // time of day once per opening.
  if (logFile) {
    const std::string opening = "log opened at " + localDateTime() + " local time\n";
    writeStamped(logFile, opening.c_str());
  }
}
