// Time allocation, deadlines and the clock poll.
#include "search/timeman.h"

#include <algorithm>
#include <cmath>

#include "board/position.h"
#include "board/settings.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/search.h"
#include "search/threads.h"

int hardRatio = 500;
double moveTime = 0.0;
int ponderCounter = 0;
uint64_t nodeLimit = NoNodeLimit;
uint32_t clockPollMask = DefaultClockPollMask;
double hardDeadline = 0.0;
double extendedDeadline = 0.0;
double softDeadline = 0.0;
double mateDeadline = 0.0;

// Without a moves-to-go count the engine spends a share of the clock that
// shrinks as the game goes on (the divisor rises with the move number when
// there is an increment, because the increment then carries the long game),
// plus most of the increment.  A ponder search gets a little more, since its
// time partly overlaps the opponent's.
TimeBudget allocateSuddenDeath(double remaining, double increment, int moveNumber) {
  const double usage = settings::timeUsage;
  double divisor;
  if (increment > 0)
    divisor = moveNumber <= 29 ? 30.0 + 12.0 * moveNumber / 30.0 : 18.0 - usage;
  else
    divisor = moveNumber <= 29 ? 48.0 - 16.0 * moveNumber / 30.0 - usage : 32.0 - usage;
  double alloc = (remaining - increment) / divisor + 130.0 * increment / 100.0;
  if (ponderCounter > 0) alloc *= 1.3;
  hardRatio = 600;
  double target = std::min(remaining / 3.3, alloc);
  target = std::trunc(target * 1000.0) / 1000.0 - (settings::overheadMs + 5) / 1000.0;
  target = std::max(target, 0.004);
  return {target, 0.9 * remaining};
}

// With a moves-to-go count the time is split evenly over the moves left,
// weighted up when many moves remain (early moves matter more); the last
// move of a period may use nearly all of it.
TimeBudget allocateMovesToGo(double remaining, int movesToGo) {
  const double base = remaining / (movesToGo + 2);
  double alloc = movesToGo <= 40 ? base * std::pow(2.0, std::pow(movesToGo / 40.0, 3.75)) : 2.0 * base;
  if (ponderCounter > 0) alloc *= 1.33;
  const double hardLimit = movesToGo == 1 ? 0.9 * remaining : std::min(5.0 * alloc, 0.5 * remaining);
  // Whole percent, truncated; a quotient that is whole in exact arithmetic
  // (five times the allocation over the allocation) must not come out one
  // short through the rounding of the division.
  hardRatio = alloc > 0 ? (int)(hardLimit / alloc * 100.0 + 1e-9) : 100;
  double target = alloc - (settings::overheadMs + 3) / 1000.0;
  target = std::max(target, 0.005);
  return {target, NoTimeLimit};
}

// The hard deadline also keeps "Overhead ms" clear of the maximum: the
// maximum is a share of what the clock shows, and the time the move spends
// in transit is taken from that same clock.  Without this a short clock
// could be spent to within a few milliseconds of a loss.
void setDeadlines(double start, double target, double maximum) {
  hardDeadline = std::min(start + hardRatio / 100.0 * target, start + maximum - settings::overheadMs / 1000.0);
  extendedDeadline = start + 3.0 * target;
  if (moveTime > 0) {
    hardDeadline = softDeadline = mateDeadline = start + target;
  } else {
    softDeadline = start + 0.75 * target;
    mateDeadline = start + 0.075 * target;
  }
}

void moveSoftDeadline(double start, double target, double factor) { softDeadline = start + target * factor; }

// Stops the search of `thread` unless it is pondering (a ponder search runs
// until "ponderhit" or "stop", the deadlines then apply from its start).
namespace {
int stopUnlessPondering(int thread) {
  if (pondering.load(std::memory_order_relaxed)) return 0;
  threadSignals[thread].stop.store(1, std::memory_order_relaxed);
  return 1;
}
}  // namespace

int checkTime(int thread) {
  if (!commandQueueIsEmpty()) commandPoller();
  stopOpenSearchAtEndOfInput();
  // "quit" ends the search at once; the driver then ends the process.
  if (quitRequested.load(std::memory_order_relaxed)) {
    threadSignals[thread].stop.store(1, std::memory_order_relaxed);
    return 1;
  }
  if (threadSignals[thread].stop.load(std::memory_order_relaxed) && !pondering.load(std::memory_order_relaxed))
    return 1;
  if (nodeLimit != NoNodeLimit && totalNodes() >= nodeLimit) return stopUnlessPondering(thread);
  const double t = now();
  if (t >= hardDeadline) return stopUnlessPondering(thread);
  if (t < extendedDeadline) return 0;
  // Past three times the target the search is cut short only while the root
  // is on its first move, and not when the root's last published score (on
  // a first move: the previous iteration's) is 0 or below: a side that is
  // not ahead goes on looking up to the hard deadline.
  if (rootMovesSearched.load(std::memory_order_relaxed) != 1) return 0;
  const int best = rootBestScore.load(std::memory_order_relaxed);
  if (best > -NoScore && best <= 0) return 0;
  return stopUnlessPondering(thread);
}
