#include "engine/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "board/output.h"
#include "engine/uci.h"
#include "search/timeman.h"

namespace {
std::mutex logMutex;
FILE* logFile = nullptr;
constexpr int MaxMessage = 255;
}  // namespace

void logText(const char* message) {
  std::lock_guard<std::mutex> lock(logMutex);
  if (!logFile) return;
  std::fprintf(logFile, "%10.3f %.*s", now() - startTime, MaxMessage, message);
  std::fflush(logFile);
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

void setLogFile(const std::string& name, std::string* variable) {
  *variable = name == "<empty>" ? std::string() : name;
  std::lock_guard<std::mutex> lock(logMutex);
  if (logFile) std::fclose(logFile);
  logFile = nullptr;
  if (variable->empty()) return;
  writeLine("info string Log file is %s", variable->c_str());
  logFile = std::fopen(variable->c_str(), "a");
}
