#include "search/flags.h"

std::atomic<int> quitRequested{0};
std::atomic<int> inputEnded{0};
std::atomic<int> searching{0};
std::atomic<int> pondering{0};
std::atomic<int> benchMode{0};
int maxIterationDepth = 1000;

namespace {
void noCommand() {}
bool alwaysEmpty() { return true; }
void noQuit() {}
void noLog(const char*) {}
bool noLogOpen() { return false; }
}  // namespace

void (*commandPoller)() = noCommand;
bool (*commandQueueIsEmpty)() = alwaysEmpty;
void (*waitForCommand)() = nullptr;
void (*quitSequence)() = noQuit;
void (*logMessage)(const char*) = noLog;
bool (*logIsActive)() = noLogOpen;
