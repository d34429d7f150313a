#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

double now() {
  const auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count();
  return (double)ms / 1000.0;
}

// std::localtime fills one static record, so callers take turns.
std::string localDateTime() {
  static std::mutex localTimeMutex;
  const std::time_t seconds = std::time(nullptr);
  char text[32] = "unknown";
  std::lock_guard<std::mutex> lock(localTimeMutex);
  if (const std::tm* local = std::localtime(&seconds)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  return text;
}
