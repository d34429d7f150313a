// Process entry: builds every process-wide table in a fixed order, then
// either runs the benchmark ("bench" as the first argument) or starts the
// input thread and hands queued command lines to the command handler until
// the quit sequence ends the process.
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board/bitboard.h"
#include "board/position.h"
#include "engine/input.h"
#include "engine/options.h"
#include "engine/uci.h"
#include "eval/evaluate.h"
#include "search/flags.h"
#if __has_include("engine/bench.h")
#include "engine/bench.h"
#define ORVANE_HAS_BENCH 1
#endif

namespace {

double wallSeconds() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  return (double)tv.tv_sec + (double)(tv.tv_usec / 1000) / 1000.0;
}

bool queueIsEmpty() { return commandQueueEmpty(); }
void quitFromSearch() { runQuitSequence(); }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::fflush(nullptr);
  std::srand((unsigned)std::time(nullptr));
  startTime = wallSeconds();

  hasPopcnt = cpuHasPopcnt() ? 1 : 0;
  std::printf("Orvane %s 64-bit by %s\n", ORVANE_VERSION, EngineAuthors);
  if (hasPopcnt) std::printf("using hardware POPCNT\n");

  initBitboards();
  initZobrist();
  registerEngineOptions();
  buildSpecialMaterialTable();
  initTables();

  // The search reaches the command handler and the quit sequence only
  // through these callbacks.
  commandPoller = handleCommand;
  commandQueueIsEmpty = queueIsEmpty;
  quitSequence = quitFromSearch;

  if (argc > 1 && std::strcmp(argv[1], "bench") == 0) {
#ifdef ORVANE_HAS_BENCH
    runBenchmark(argc, argv);
#endif
    quitRequested.store(1, std::memory_order_relaxed);
    return 0;
  }

  startInputThread();
  for (;;) {
    if (commandQueueEmpty() && !hasDeferredCommands()) waitForWake();
    handleCommand();
  }
}
