// Tablebases at the root (move filter and root score) and in the search
// (win/draw/loss scores of tree nodes).
#include "tb/tbsearch.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "board/movegen.h"
#include "board/settings.h"
#include "tb/probe.h"

namespace {

// DTZ of a position whose zeroing move was just made, by its win/draw/loss
// value (indexed by wdl + 2): the fifty-move counter starts afresh, so a
// cursed win or blessed loss lies beyond the 100-ply horizon.
constexpr int wdlToDtz[5] = {-1, -101, 0, 101, 1};
// The fifty-move rule in plies, and the last ply count at which a won game
// can still make its zeroing move in time.
constexpr int FiftyMovePlies = 100;
constexpr int LastSafePly = 99;
// Smallest positive DTZ when no move wins: larger than any real distance.
constexpr int NoWinningMove = 65535;

// The legal moves of pos in generation order, each with score 0.
int legalMoves(const Position& pos, TbRootMove* list) {
  int entries[MaxMoves];
  const int n = generateAll(pos, entries);
  int count = 0;
  Position child;
  for (int i = 0; i < n; i++) {
    const Move m = entryMove(entries[i]);
    if (makeMove(pos, child, m)) list[count++] = {m, 0};
  }
  return count;
}

bool hasLegalMove(const Position& pos) {
  int entries[MaxMoves];
  const int n = generateAll(pos, entries);
  Position child;
  for (int i = 0; i < n; i++)
    if (makeMove(pos, child, entryMove(entries[i]))) return true;
  return false;
}

// Plays m from root into child with its check flag set.
void playRootMove(const Position& root, Position& child, Move m) {
  makeMove(root, child, m);
  child.inCheck = kingAttacked(child, child.sideToMove());
}

// Keeps the moves whose score lies in [low, high] and sorts them by
// ascending score with an exchange sort (each entry trades places with any
// later one that scores less).  Returns how many are kept.
int selectAndSort(TbRootMove* list, int n, int low, int high) {
  int kept = 0;
  for (int i = 0; i < n; i++)
    if (list[i].score >= low && list[i].score <= high) list[kept++] = list[i];
  for (int i = 0; i < kept; i++)
    for (int j = i + 1; j < kept; j++)
      if (list[j].score < list[i].score) std::swap(list[i], list[j]);
  return kept;
}

// The DTZ filter.  Every legal move is scored by the signed plies to the
// next zeroing move after it (positive when the mover wins; 1 for a mate).
// A won root keeps the winning moves that still convert within the
// fifty-move rule, and only the fastest once the game has started to repeat
// (so shuffling between winning positions cannot go on for ever); a lost
// root keeps every move while the fifty-move horizon is far, else only the
// longest resistance; a drawn root keeps the drawing moves.  Returns the
// number kept (best first), or -1 when a probe failed.
int dtzFilter(const Position& root, TbRootMove* list, int n, int* rootScore) {
  int success = 1;
  const int dtz = probeDtz(root, &success);
  if (!success) return -1;
  Position child;
  for (int i = 0; i < n; i++) {
    playRootMove(root, child, list[i].move);
    int v;
    if (child.inCheck && dtz > 0 && !hasLegalMove(child)) {
      v = 1;
    } else if (child.rule50 != 0) {
      v = -probeDtz(child, &success);
      v += v > 0 ? 1 : v < 0 ? -1 : 0;
    } else {
      v = wdlToDtz[-probeWdl(child, &success) + 2];
    }
    if (!success) return -1;
    list[i].score = v;
  }

  // A root whose fifty-move counter already stands high may be past saving
  // (or past losing): such scores shrink towards the draw but never cross it.
  const int cnt50 = root.rule50;
  if (dtz > 0) {
    *rootScore = dtz + cnt50 <= FiftyMovePlies ? TbWinScore
                 : dtz <= FiftyMovePlies       ? std::max(0, (2 * FiftyMovePlies - dtz - cnt50) / 2)
                                               : 2;
    int best = NoWinningMove;
    for (int i = 0; i < n; i++)
      if (list[i].score > 0) best = std::min(best, list[i].score);
    int max = best;
    if (!repetitionSinceZeroing(root) && best + cnt50 <= LastSafePly) max = LastSafePly - cnt50;
    return selectAndSort(list, n, 1, max);
  }
  if (dtz < 0) {
    *rootScore = -dtz + cnt50 <= FiftyMovePlies ? -TbWinScore
                 : dtz >= -FiftyMovePlies       ? std::min(0, -((dtz + 2 * FiftyMovePlies - cnt50) / 2))
                                                : -2;
    int best = 0;
    for (int i = 0; i < n; i++) best = std::min(best, list[i].score);
    if (cnt50 - 2 * best <= LastSafePly) return selectAndSort(list, n, INT_MIN, INT_MAX);
    return selectAndSort(list, n, best, best);
  }
  *rootScore = 0;
  return selectAndSort(list, n, 0, 0);
}

// The WDL filter, when DTZ could not rank the root: keeps the moves that
// reach the best win/draw/loss value.  Returns the number kept (0 when a
// probe failed).
int wdlFilter(const Position& root, TbRootMove* list, int n, int* rootScore) {
  int success = 1;
  const int wdl = probeWdl(root, &success);
  if (!success) return 0;
  *rootScore = wdlToValue[wdl + 2];
  int best = -2;
  Position child;
  for (int i = 0; i < n; i++) {
    playRootMove(root, child, list[i].move);
    const int v = -probeWdl(child, &success);
    if (!success) return 0;
    list[i].score = v;
    best = std::max(best, v);
  }
  int kept = 0;
  for (int i = 0; i < n; i++)
    if (list[i].score == best) list[kept++] = list[i];
  return kept;
}

}  // namespace

bool repetitionSinceZeroing(const Position& root) {
  for (const Position* p = &root; p && p->rule50 != 0; p = p->previous) {
    int distance = 1;
    for (const Position* q = p->previous; q; q = q->previous, distance++) {
      if (distance % 2 == 0 && q->key == p->key) return true;
      if (q->rule50 == 0) break;
    }
  }
  return false;
}

TbRootResult tbRootFilter(const Position& root, double targetTime, TbRootMove* moves, int capacity) {
  // Step 1. How many pieces the tables serve in this search: none when they
  // are switched off or the move must be played almost at once.
  int limit = 0;
  if (settings::useSyzygy) limit = std::min(std::clamp(settings::syzygyProbeLimit, 0, 6), maxMen);
  if (targetTime <= TbMinTarget) limit = 0;
  TbRootResult result{limit, limit, 0, TbNoRootScore};
  tbHits.store(0, std::memory_order_relaxed);
  if (capacity > 0) moves[0].move = 0;

  // Step 2. A root beyond the tables is searched normally, probing the
  // positions that reach the limit.
  if (limit < (int)root.pieceCount || capacity < 2) return result;

  // Step 3-5. Rank by DTZ, or failing that by WDL.
  TbRootMove list[MaxMoves];
  int score = 0;
  int kept = dtzFilter(root, list, legalMoves(root, list), &score);
  if (kept <= 0) kept = wdlFilter(root, list, legalMoves(root, list), &score);
  if (kept == 0) return result;

  // Step 6. The root is resolved: only the selected moves are searched and
  // the search needs no more probes.
  if (!settings::syzygy50MoveRule) score = score > 0 ? TbWinScore : score < 0 ? -TbWinScore : 0;
  kept = std::min(kept, capacity - 1);
  std::copy(list, list + kept, moves);
  moves[kept].move = 0;
  result.probeLimit = 0;
  result.moveCount = kept;
  result.rootScore = score;
  return result;
}

bool tbScore(const Position& pos, int ply, int* score) {
  int success = 1;
  const int wdl = probeWdl(pos, &success);
  if (!success) return false;
  // A win counts as a little less than a mate; with the fifty-move rule the
  // cursed wins and blessed losses are draws, kept apart from a plain draw
  // by a small margin so the search still prefers the cursed win.
  if (wdl > (settings::syzygy50MoveRule ? 1 : 0))
    *score = MateBound - ply;
  else if (wdl < (settings::syzygy50MoveRule ? -1 : 0))
    *score = ply - MateBound;
  else
    *score = settings::syzygy50MoveRule ? 2 * wdl : 0;
  return true;
}
