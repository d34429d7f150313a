// Time management: how long a timed search may run, and the clock poll that
// stops it.
//
// The "go" command turns the clock into a target and a maximum time with the
// allocation functions; the driver turns those into absolute deadlines at the
// start of the search and moves the soft deadline after every iteration; the
// search calls checkTime on thread 0 every few thousand nodes.  The poll also
// hands queued command lines to the command handler, which is how "stop",
// "ponderhit", "isready" and "quit" reach a running search.  Everything here
// is written by the main thread only.
#pragma once

#include <cstdint>

#include "platform/clock.h"  // now(): the monotonic clock of every deadline

// Seconds standing for "no time limit" (366 days).
constexpr double NoTimeLimit = 31622400.0;
constexpr uint64_t NoNodeLimit = ~0ull;

struct TimeBudget {
  double target;   // seconds the search aims to use
  double maximum;  // seconds it may never exceed
};

extern int hardRatio;          // hard deadline as a percentage of the target
extern double moveTime;        // "go movetime" in seconds; 0 = none
extern int ponderCounter;      // > 0: this "go" and the next get extra time
// Thread 0 polls the clock when its node count AND this mask is 0: every
// 4096 nodes, more often while a level's small node budget must be kept.
constexpr uint32_t DefaultClockPollMask = 0xFFF;
constexpr uint32_t LevelClockPollMask = 0x3F;
extern uint32_t clockPollMask;
extern uint64_t nodeLimit;     // "go nodes"; NoNodeLimit = none
extern double hardDeadline;    // the search is stopped here, whatever it does
extern double extendedDeadline;  // stopped here while still on its first root move
extern double softDeadline;    // no new iteration starts after this
extern double mateDeadline;    // no new iteration after this once a mate is found

// Clock without a moves-to-go count: T remaining, I increment (seconds),
// moveNumber the game's move number.
TimeBudget allocateSuddenDeath(double remaining, double increment, int moveNumber);
// Clock with movesToGo moves to play in the remaining time.
TimeBudget allocateMovesToGo(double remaining, int movesToGo);

// Deadlines of a search started at `start` (seconds of now()).
void setDeadlines(double start, double target, double maximum);
// After an iteration: the next one may start until start + target * factor.
void moveSoftDeadline(double start, double target, double factor);

// The clock poll of thread `thread` (always 0): runs one queued command,
// enforces the deadlines and the node limit.  Returns 1 when the search is
// to stop.
int checkTime(int thread);
