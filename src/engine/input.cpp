#include "engine/input.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "board/output.h"
#include "board/position.h"
#include "engine/hostinput.h"
#include "engine/log.h"
#include "platform/stdin_reader.h"
#include "search/flags.h"

namespace {

std::deque<std::string> commandQueue;
std::mutex queueMutex;
std::atomic<int> queuedLines{0};

int wakeFlag = 0;
std::mutex wakeMutex;
std::condition_variable wakeCondition;

std::thread inputThread;
// Becomes ready when the input thread's body has returned.
std::future<void> inputThreadEnded;
// The input thread is inside readStandardInput.
std::atomic<bool> readerInRead{false};
// How long the quit sequence waits for an interrupted read to return
// before it stops counting on it.
constexpr std::chrono::milliseconds InputThreadGrace{100};

// Raises every search thread's stop flag so a running search unwinds.
void stopAllThreads() {
  for (auto& signals : threadSignals) signals.stop.store(1, std::memory_order_relaxed);
}

}  // namespace

bool acceptLine(const std::string& line) {
  if (line.empty()) return true;
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    commandQueue.push_back(line);
    queuedLines.fetch_add(1, std::memory_order_relaxed);
  }
  logLine("uci inp: %s\n", line.c_str());
  if (line.compare(0, 4, "quit") == 0) return false;
  raiseWake();
  if (quitRequested.load(std::memory_order_relaxed)) stopAllThreads();
  return true;
}

void raiseWake() {
  std::lock_guard<std::mutex> lock(wakeMutex);
  wakeFlag = 1;
  wakeCondition.notify_one();
}

namespace {
// The end of input and a quit are raised once and stay: a wait that began
// after their wake-up was taken would never end, so they end every wait.
bool nothingMoreToWaitFor() {
  return inputEnded.load(std::memory_order_acquire) || quitRequested.load(std::memory_order_relaxed);
}
}  // namespace

void waitForWake() {
#ifdef ORVANE_INPUT_FROM_HOST
  // Without an input thread the wait reads the input itself (hostinput.h).
  while (wakeFlag == 0 && !nothingMoreToWaitFor()) takeHostInput(true);
#else
  std::unique_lock<std::mutex> lock(wakeMutex);
  wakeCondition.wait(lock, [] { return wakeFlag != 0 || nothingMoreToWaitFor(); });
#endif
  wakeFlag = 0;
}

bool commandQueueEmpty() {
#ifdef ORVANE_INPUT_FROM_HOST
  // Without an input thread, lines come in only when looked for (hostinput.h).
  takeHostInput(false);
#endif
  return queuedLines.load(std::memory_order_relaxed) == 0;
}

std::optional<std::string> popCommand() {
  std::lock_guard<std::mutex> lock(queueMutex);
  if (commandQueue.empty()) return std::nullopt;
  std::string line = std::move(commandQueue.front());
  commandQueue.pop_front();
  queuedLines.fetch_sub(1, std::memory_order_relaxed);
  return line;
}

void pushCommand(const std::string& line) {
  {
    std::lock_guard<std::mutex> lock(queueMutex);
    commandQueue.push_back(line);
    queuedLines.fetch_add(1, std::memory_order_relaxed);
  }
  raiseWake();
}

bool splitLines(LineSplitter& splitter, const char* bytes, size_t count, bool (*accept)(const std::string&)) {
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == '\n') {
      const bool goOn = accept(splitter.line);
      splitter.line.clear();
      splitter.overlong = false;
      if (!goOn) return false;
    } else if (!splitter.overlong) {
      if (splitter.line.size() < MaxLineLength) splitter.line.push_back(c);
      else splitter.overlong = true;
    }
  }
  return true;
}

bool finishLines(LineSplitter& splitter, bool (*accept)(const std::string&)) {
  return splitter.line.empty() || accept(splitter.line);
}

// Reads standard input in raw chunks and cuts it into lines.  The read
// blocks until bytes come; a quit that the handler recognised (the input
// thread only stops at lines beginning with "quit") makes the quit sequence
// interrupt it.
void inputThreadMain() {
  LineSplitter splitter;
  char buffer[4096];
  bool reading = true;
  while (reading) {
    if (quitRequested.load(std::memory_order_relaxed)) return;
    readerInRead.store(true);
    const long n = readStandardInput(buffer, sizeof buffer);
    readerInRead.store(false);
    if (n == 0) continue;
    if (n < 0) {
      // Interrupted by the quit sequence: the lines that matter are queued.
      if (quitRequested.load(std::memory_order_relaxed)) return;
      // End of input: a last line without a line feed still counts.
      finishLines(splitter, acceptLine);
      break;
    }
    reading = splitLines(splitter, buffer, (size_t)n, acceptLine);
  }
  if (!reading) {
    // "quit": a running search stops at once; the main thread carries out
    // the lines read before the quit and ends the process.
    quitRequested.store(1, std::memory_order_relaxed);
    raiseWake();
    stopAllThreads();
    return;
  }
  // End of input or a read error: the lines already read still run (a
  // script may pipe "go depth 5" and "isready" and close its end), then the
  // process ends.  The flag is raised only after the last line was queued.
  inputEnded.store(1, std::memory_order_release);
  raiseWake();
}

// Without its input thread the engine cannot hear a command, so a system
// that refuses the thread (a process or memory limit) ends it at once.
void startInputThread() {
#ifdef ORVANE_INPUT_FROM_HOST
  startHostInput();  // the input is read without a thread (hostinput.h)
#else
  std::promise<void> ended;
  inputThreadEnded = ended.get_future();
  try {
    inputThread = std::thread([ended = std::move(ended)]() mutable {
      inputThreadMain();
      ended.set_value();
    });
  } catch (const std::system_error& e) {
    fatalError("could not start the input thread (%s)", e.what());
  }
#endif
}

// Interrupts the input thread's read and joins the thread, which then ends
// at once.  Where the system may fail to end a read under way (a Unix pipe
// given to the Windows build by Wine), the thread still in its read after a
// grace period is left to the end of the process: after the interrupt its
// read can only return -1, and the thread then leaves without touching the
// queue, so the process may end around it.  A thread that is not in its
// read is always waited for (it may be queueing lines).
void joinInputThread() {
  if (!inputThread.joinable()) return;
  interruptStandardInput();
  if constexpr (InterruptMayLeaveReadBlocked) {
    while (inputThreadEnded.wait_for(InputThreadGrace) != std::future_status::ready) {
      if (readerInRead.load()) {
        inputThread.detach();
        return;
      }
    }
  }
  inputThread.join();
}
