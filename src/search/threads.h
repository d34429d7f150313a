// The pool of search threads.
//
// Thread 0 is the main thread; it searches inside the command handler.  The
// pool owns every thread's search block and evaluation caches (sized from
// "Table Memory" and the thread count) and the per-iteration hand-off: the
// driver calls startIteration before thread 0 searches an iteration and
// finishIteration after it, so helper threads can join in without changing
// the driver.  Only the main thread builds, stops or rebuilds the pool, and
// never while a search runs.
#pragma once

#include <cstdint>

#include "eval/evaluate.h"

constexpr int MaxThreads = 64;

extern int threadCount;        // threads of the current pool (1..64)
extern int builtTableMemory;   // "Table Memory" the caches were last built with
extern EvalCaches threadCaches[MaxThreads];  // per-thread evaluation caches

// (Re)creates the pool from "Threads" and "Table Memory": stops the old
// helpers, allocates the search blocks, sizes and zero-fills every thread's
// caches.
void buildPool();
// Ends and joins every helper thread (quit sequence, rebuild, benchmark end).
void stopPool();
// Per-iteration hand-off around thread 0's search of depth d.
void startIteration(int depth);
void finishIteration();
// Sets or clears the stop flag of every pool thread.
void setAllStopFlags(bool stop);
// Sum of the node counters of all pool threads.
uint64_t totalNodes();
