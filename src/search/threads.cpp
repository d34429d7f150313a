// The search thread pool: blocks, caches, helper threads and the
// per-iteration start/finish hand-off.
//
// Helpers sleep on helperCondition between iterations.  startIteration gives
// every helper the iteration depth and wakes them; each helper then searches
// that depth again and again (with a warmer table each time) until its stop
// flag is set.  finishIteration sets the helpers' stop flags and waits on
// allDone until the last one has left its search.  Only the main thread
// writes workDepth, wake, the helpers' stop flags and exitFlag.
#include "search/threads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "board/output.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/searchthread.h"

// The cache registry must hold every thread's set and the "eval" command's.
static_assert(MaxCacheSets >= MaxThreads + 1, "room for every search thread's caches");

int threadCount = 1;
int builtTableMemory = 256;
EvalCaches threadCaches[MaxThreads];

namespace {

std::mutex helperMutex;
std::condition_variable helperCondition;
std::mutex countMutex;
std::condition_variable allDone;
int runningCount = 0;  // helpers still searching the current iteration
std::atomic<int> exitFlag{0};

bool helperStopped(int t) { return threadSignals[t].stop.load(std::memory_order_relaxed) != 0; }

// One helper has finished its share; the last one releases the main thread.
void helperDone() {
  std::lock_guard<std::mutex> lock(countMutex);
  if (--runningCount <= 0) allDone.notify_all();
}

void waitForHelpers() {
  std::unique_lock<std::mutex> lock(countMutex);
  allDone.wait(lock, [] { return runningCount <= 0; });
}

// Body of helper thread t: wait for work, search the given depth until
// stopped, report done, and end when the pool is torn down.
void helperMain(int t) {
  SearchThread& block = *searchThreads[t];
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(helperMutex);
      helperCondition.wait(lock, [&] { return block.wake != 0; });
      block.wake = 0;
    }
    const int depth = block.workDepth;
    if (depth >= 1)
      while (!exitFlag.load(std::memory_order_relaxed) && !helperStopped(t)) iterate(block.rootPosition, depth);
    block.workDepth = 0;
    helperDone();
    if (exitFlag.load(std::memory_order_relaxed)) return;
  }
}

// Wakes every helper with the given work depth.
void wakeHelpers(int depth, bool stop) {
  {
    std::lock_guard<std::mutex> lock(countMutex);
    runningCount = threadCount - 1;
  }
  std::lock_guard<std::mutex> lock(helperMutex);
  for (int t = 1; t < threadCount; t++) {
    searchThreads[t]->workDepth = depth;
    threadSignals[t].stop.store(stop ? 1 : 0, std::memory_order_relaxed);
    searchThreads[t]->wake = 1;
  }
  helperCondition.notify_all();
}

int helperCount() {
  int n = 0;
  for (int t = 1; t < MaxThreads; t++)
    if (searchThreads[t] && searchThreads[t]->threadHandle.joinable()) n++;
  return n;
}

// Starts helper t.  When the system refuses another thread (a process or
// memory limit), the pool keeps the threads it has and "Threads" says so.
bool startHelper(int t) {
  try {
    searchThreads[t]->threadHandle = std::thread(helperMain, t);
    return true;
  } catch (const std::system_error& e) {
    writeLine("info string could not start search thread %d (%s); searching with %d", t + 1, e.what(), t);
    threadCount = t;
    settings::threads = t;
    return false;
  }
}

}  // namespace

void stopPool() {
  if (helperCount() == 0) return;
  exitFlag.store(1, std::memory_order_relaxed);
  wakeHelpers(0, true);
  for (int t = 1; t < MaxThreads; t++)
    if (searchThreads[t] && searchThreads[t]->threadHandle.joinable()) searchThreads[t]->threadHandle.join();
  exitFlag.store(0, std::memory_order_relaxed);
  runningCount = 0;
}

void buildPool() {
  stopPool();
  threadCount = std::clamp(settings::threads, 1, MaxThreads);
  builtTableMemory = settings::tableMemory;
  for (int t = 0; t < MaxThreads; t++) freeEvalCaches(threadCaches[t]);
  // Blocks are allocated once and kept, so a thread's history survives a
  // rebuild; caches are sized for the new thread count.
  for (int t = 0; t < threadCount; t++) {
    if (!searchThreads[t]) searchThreads[t] = new SearchThread();
    searchThreads[t]->workDepth = 0;
    searchThreads[t]->wake = 0;
    allocateEvalCaches(threadCaches[t], builtTableMemory, threadCount);
  }
  for (int t = 1; t < threadCount; t++)
    if (!startHelper(t)) break;
}

void startIteration(int depth) {
  if (threadCount > 1) wakeHelpers(depth, false);
}

void finishIteration() {
  if (threadCount <= 1) return;
  for (int t = 1; t < threadCount; t++) threadSignals[t].stop.store(1, std::memory_order_relaxed);
  waitForHelpers();
  for (int t = 1; t < threadCount; t++) threadSignals[t].stop.store(0, std::memory_order_relaxed);
}

void setAllStopFlags(bool stop) {
  for (int t = 0; t < threadCount; t++) threadSignals[t].stop.store(stop ? 1 : 0, std::memory_order_relaxed);
}

uint64_t totalNodes() {
  uint64_t n = 0;
  for (int t = 0; t < threadCount; t++) n += threadSignals[t].nodes.load(std::memory_order_relaxed);
  return n;
}
