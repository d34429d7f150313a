#include "search/threads.h"

#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"

int threadCount = 1;
int builtTableMemory = 256;
EvalCaches threadCaches[MaxThreads];

void stopPool() {}

void buildPool() {
  stopPool();
  threadCount = settings::threads < 1 ? 1 : settings::threads > MaxThreads ? MaxThreads : settings::threads;
  for (int t = 0; t < MaxThreads; t++) freeEvalCaches(threadCaches[t]);
  for (int t = 0; t < threadCount; t++) allocateEvalCaches(threadCaches[t], builtTableMemory, threadCount);
}

void startIteration(int) {}
void finishIteration() {}

void setAllStopFlags(bool stop) {
  for (int t = 0; t < threadCount; t++) threadSignals[t].stop.store(stop ? 1 : 0, std::memory_order_relaxed);
}

uint64_t totalNodes() {
  uint64_t n = 0;
  for (int t = 0; t < threadCount; t++) n += threadSignals[t].nodes.load(std::memory_order_relaxed);
  return n;
}
