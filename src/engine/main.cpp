// Process entry: builds every process-wide table in a fixed order, then
// either runs the benchmark ("bench" as the first argument) or starts the
// input thread and hands queued command lines to the command handler until
// the quit sequence ends the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "board/bitboard.h"
#include "board/output.h"
#include "board/position.h"
#include "board/settings.h"
#include "book/book.h"
#include "engine/bench.h"
#include "engine/input.h"
#include "engine/log.h"
#include "engine/options.h"
#include "engine/uci.h"
#include "eval/evaluate.h"
#include "platform/clock.h"
#include "platform/cpu.h"
#include "search/flags.h"
#include "search/threads.h"
#include "tb/probe.h"
#include "tt/tt.h"

namespace {

bool queueIsEmpty() { return commandQueueEmpty(); }
void quitFromSearch() { runQuitSequence(); }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::fflush(nullptr);
  std::srand((unsigned)std::time(nullptr));
  startTime = now();

  // The first pool is built before the options exist, so its caches are
  // sized from the initial "Table Memory" value.
  for (EvalCaches& caches : threadCaches) caches = EvalCaches{};
  settings::threads = 1;
  buildPool();

  hasPopcnt = cpuHasPopcnt() ? 1 : 0;
  writeLine("Orvane %s 64-bit by %s", ORVANE_VERSION, EngineAuthors);
  if (hasPopcnt) writeLine("using hardware POPCNT");

  initBitboards();
  initZobrist();
  registerEngineOptions();
  openBook();
  buildSpecialMaterialTable();
  initTables();
  tbInit(settings::syzygyPath);
  if (settings::hashMb != 0) ttAllocate(settings::hashMb);

  // The search reaches the command handler and the quit sequence only
  // through these callbacks.
  commandPoller = handleCommand;
  commandQueueIsEmpty = queueIsEmpty;
  quitSequence = quitFromSearch;
  waitForCommand = waitForWake;
  logMessage = logText;
  logIsActive = logIsOpen;

  if (argc > 1 && std::strcmp(argv[1], "bench") == 0) {
    int status = runBenchmark(argc, argv);
    quitRequested.store(1, std::memory_order_relaxed);
    stopPool();
    // exit, not return: in the single-threaded WebAssembly engine main has
    // handed control to the host and back, and its return value no longer
    // reaches the runtime.
    std::exit(status);
  }

  startInputThread();
  for (;;) {
    // A pending quit or end of input must reach the handler even when no
    // wake-up follows.
    if (commandQueueEmpty() && !hasDeferredCommands() && !quitRequested.load(std::memory_order_relaxed) &&
        !inputEnded.load(std::memory_order_relaxed))
      waitForWake();
    handleCommand();
  }
}
