// The root node: walks the thread's root move list, keeps the best line of
// the iteration where the driver can read it even after a stop, prints the
// root reports on thread 0 (current move, PV line or the MultiPV lines) and
// reorders the list for the next iteration.
#include <algorithm>

#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/flags.h"
#include "search/driver.h"
#include "search/level.h"
#include "search/picker.h"
#include "search/report.h"
#include "search/search.h"
#include "search/searchutil.h"
#include "search/tables.h"

namespace {

// One MultiPV row: a root move with its latest score, depth and line.
struct MultiPVLine {
  int score;
  int depth;
  Move move;
  Move pv[PvLength];
};
MultiPVLine multiPVLines[MaxRootMoves];
int multiPVCount = 0;

// Whether thread 0 prints "info currmove" in the running iteration, and the
// iteration that choice was made for (aspiration re-searches keep it).
bool printCurrentMove = false;
int currentMoveIteration = 0;

// Seconds of search after which the current root move is worth showing.
constexpr double CurrentMoveDelay = 3.0;
constexpr int CurrentMoveMinIteration = 6;
constexpr int MultiPVSortIteration = 5;
// Ordering score that keeps the best two moves and the captures right
// behind them in front of every quiet move.
constexpr int RootFrontScore = 65000;

bool isRootCapture(const Position& pos, Move m) { return isTacticalMove(pos, m); }

void copyPv(Move* dst, const Move* src) {
  int i = 0;
  for (; i < PvLength - 1 && src[i]; i++) dst[i] = src[i];
  dst[i] = 0;
}

// [m] followed by the child's line, 63 moves at most.
void joinPv(Move* dst, Move m, const Move* childPv) {
  dst[0] = m;
  int i = 0;
  for (; i < PvLength - 2 && childPv[i]; i++) dst[i + 1] = childPv[i];
  dst[i + 1] = 0;
}

// Records a root move's result in the MultiPV table and, from iteration 5
// on, prints the best lines the "MultiPV" option asks for; returns the new
// alpha (the score of the lines-th best line found in this iteration) or
// the old one.
int updateMultiPV(Move m, int v, int alpha, int beta, int iteration, const Move* childPv, int movesSearched,
                  int lines) {
  if (iteration == 1) {
    if (multiPVCount < MaxRootMoves) {
      MultiPVLine& row = multiPVLines[multiPVCount++];
      row.score = -NoScore;
      row.depth = 1;
      row.move = m;
      row.pv[0] = m;
      row.pv[1] = 0;
    }
    return alpha;
  }
  int r = 0;
  while (r < multiPVCount && multiPVLines[r].move != m) r++;
  if (r == multiPVCount) {
    if (multiPVCount == MaxRootMoves) return alpha;
    multiPVCount++;
    multiPVLines[r].move = m;
  }
  MultiPVLine& row = multiPVLines[r];
  row.score = v > alpha && v < beta ? v : -NoScore;
  row.depth = iteration;
  joinPv(row.pv, m, childPv);
  if (iteration < MultiPVSortIteration) return alpha;

  // Exchange sort, highest score first; equal rows keep their order.
  for (int i = 0; i < multiPVCount; i++)
    for (int j = i + 1; j < multiPVCount; j++)
      if (multiPVLines[j].score > multiPVLines[i].score) std::swap(multiPVLines[i], multiPVLines[j]);
  if (!benchMode.load(std::memory_order_relaxed) && settings::multiPV > 1)
    for (int k = 0; k < settings::multiPV && k < multiPVCount && k <= movesSearched; k++)
      reportMultiPVLine(k + 1, multiPVLines[k].depth, multiPVLines[k].score, multiPVLines[k].pv);
  for (int k = 0, seen = 0; k < multiPVCount; k++)
    if (multiPVLines[k].depth == iteration && ++seen == lines) return multiPVLines[k].score;
  return alpha;
}

// Next iteration's order: the best move first, the old first move second,
// then the captures that followed, then the quiet moves by history.
void reorderRootMoves(const Position& pos, SearchThread& thread, Move best) {
  RootMove* moves = thread.rootMoves;
  int n = 0;
  while (n < MaxRootMoves && moves[n].move) n++;
  int i = 0;
  while (i < n && moves[i].move != best) i++;
  if (i == n) return;
  const RootMove chosen = moves[i];
  for (; i > 0; i--) moves[i] = moves[i - 1];
  moves[0] = chosen;

  int score[MaxRootMoves];
  bool quiet[MaxRootMoves];
  const int side = pos.sideToMove();
  int k = 0;
  for (; k < n && k < 2; k++) score[k] = RootFrontScore, quiet[k] = false;
  for (; k < n && isRootCapture(pos, moves[k].move); k++) score[k] = RootFrontScore, quiet[k] = false;
  for (; k < n; k++) {
    const Move m = moves[k].move;
    quiet[k] = !isRootCapture(pos, m);
    score[k] = pos.historyTable->v[side][typeOfCode(pos.board[moveFrom(m)])][moveTo(m)];
  }
  for (int a = 2; a < n; a++) {
    if (!quiet[a]) continue;
    for (int b = a + 1; b < n; b++)
      if (quiet[b] && score[b] > score[a]) {
        std::swap(moves[a], moves[b]);
        std::swap(score[a], score[b]);
      }
  }
}

}  // namespace

void clearRootLines() { multiPVCount = 0; }

int rootCandidates(Move best, LevelCandidate* out, int max) {
  int bestRow = 0;
  while (bestRow < multiPVCount && multiPVLines[bestRow].move != best) bestRow++;
  if (max < 1 || bestRow == multiPVCount || multiPVLines[bestRow].score <= -NoScore) return 0;
  const MultiPVLine& first = multiPVLines[bestRow];
  out[0] = {best, first.score, first.pv[1]};
  int count = 1;
  // Rows of the last two iterations only: an older score is not comparable.
  bool taken[MaxRootMoves] = {};
  taken[bestRow] = true;
  while (count < max) {
    int pick = -1;
    for (int r = 0; r < multiPVCount; r++) {
      const MultiPVLine& row = multiPVLines[r];
      if (taken[r] || row.score <= -NoScore || row.depth < first.depth - 1) continue;
      if (pick < 0 || row.score > multiPVLines[pick].score) pick = r;
    }
    if (pick < 0) break;
    taken[pick] = true;
    out[count++] = {multiPVLines[pick].move, multiPVLines[pick].score, multiPVLines[pick].pv[1]};
  }
  return count;
}

int searchRoot(Position& pos, int depth, int alpha, int beta, Move* pv) {
  // Step 1. Entry.
  if (stopped(pos)) return 0;
  pos.staticEval = pos.inCheck ? NoScore : evaluate(pos, -35000, 35000);
  pos.frontierExtended = 0;
  pos.reductionMark = 0;

  SearchThread& thread = threadOf(pos);
  const int t = pos.threadIndex;
  const int iteration = depth / 2;
  const int slot = std::min(iteration, MaxIterations - 1);
  const bool quiet = benchMode.load(std::memory_order_relaxed) != 0;
  // Lines kept exact: "MultiPV", or a playing level's candidates.
  const int lines = rootLineCount();

  // Step 2. Thread 0: MultiPV table, current-move reporting, clock poll.
  if (t == 0) {
    if (iteration == 1) multiPVCount = 0;
    if (iteration == 1 || iteration != currentMoveIteration) {
      currentMoveIteration = iteration;
      printCurrentMove = iteration >= CurrentMoveMinIteration && !settings::minimalReporting &&
                         now() - searchStart > CurrentMoveDelay;
    }
  }
  if (pollClock(pos)) return 0;

  // Step 3. Counters of this call.
  pv[0] = 0;
  int bestValue = -NoScore;
  int movesSearched = 0, countInWindow = 0;
  if (t == 0) rootMovesSearched.store(0, std::memory_order_relaxed);
  const int side = pos.sideToMove();
  const Bitboard zone = passedZone(pos);
  Position child;
  Move childPv[PvLength];

  // Step 4. The root moves in list order.
  for (int i = 0; i < MaxRootMoves && thread.rootMoves[i].move; i++) {
    RootMove& rm = thread.rootMoves[i];
    const Move m = rm.move;
    const uint64_t nodesBefore = threadSignals[t].nodes.load(std::memory_order_relaxed);
    if (!makeMove(pos, child, m)) continue;
    child.inCheck = kingAttacked(child, other(side));
    movesSearched++;
    if (t == 0) rootMovesSearched.store(movesSearched, std::memory_order_relaxed);
    if (t == 0 && printCurrentMove && !quiet) {
      reportCurrentMove(m, movesSearched);
      currentMoveNumber.store(movesSearched, std::memory_order_relaxed);
    }

    int v;
    childPv[0] = 0;
    bool reducedFailLow = false;
    if (isDrawChild(child)) {
      // Every root move is tested for a draw, captures included.
      v = drawScore;
    } else {
      // Extensions: checks, safe captures and promotions, safe passed pushes.
      const bool tactical = isTacticalMove(pos, m);
      // A passed push counts here only when it does not give the pawn away.
      const bool passedPush = typeOfCode(pos.board[moveFrom(m)]) == Pawn && (zone & squareBB[moveTo(m)]) &&
                              !losesMaterial(pos, m);
      int ext = 0;
      if (child.inCheck)
        ext = 1;
      else if (tactical && !losesMaterial(pos, m))
        ext = 1;
      if (passedPush && ext == 0) ext = 2;
      const int d = depth - 2 + ext;

      if (movesSearched <= lines || (lines > 1 && countInWindow < lines)) {
        v = -searchPV(child, -beta, -alpha, d, 1, childPv);
      } else {
        // Late quiet root moves are first tried with a reduced null window.
        bool fullDepth = true;
        if (!pos.inCheck && !child.inCheck && !passedPush && depth >= 6 && lines == 1 &&
            movesSearched >= 3 && !tactical && settings::useLmr && m != thread.killers[0].killer1 &&
            m != thread.killers[0].killer2 && bestValue >= -(MateBound - 1)) {
          const int r = reductionPV[1][std::min(depth, 63)][std::min(movesSearched, 63)];
          if (r >= 1) {
            pos.reductionMark = (uint8_t)r;
            v = -searchNonPV(child, -alpha, d - r, 1, childPv, 0, false, true);
            pos.reductionMark = 0;
            if (stopped(pos)) return 0;
            if (v <= alpha) {
              fullDepth = false;
              reducedFailLow = true;
            }
          }
        }
        if (fullDepth) {
          v = -searchNonPV(child, -alpha, d, 1, childPv, 0, false, true);
          if (v > alpha && !stopped(pos)) v = -searchPV(child, -beta, -alpha, d, 1, childPv);
        }
      }
      if (stopped(pos)) return 0;
    }

    // Step 5. Book-keeping of the move.
    const uint64_t spent = threadSignals[t].nodes.load(std::memory_order_relaxed) - nodesBefore;
    if (reducedFailLow) {
      rm.nodes = spent;
      continue;
    }
    if (lines > 1 && v > alpha && v < beta) countInWindow++;
    rm.score = v;
    rm.nodes = spent;
    int nextAlpha = alpha;
    if (t == 0 && lines > 1) nextAlpha = updateMultiPV(m, v, alpha, beta, iteration, childPv, movesSearched, lines);

    // Step 6. A new best move: publish it at once, so a stopped iteration
    // still answers with it.
    if (v > bestValue) {
      if (t == 0) rootBestScore.store(v, std::memory_order_relaxed);
      joinPv(pv, m, childPv);
      thread.iterScore[slot] = v;
      copyPv(thread.iterPV[slot], pv);
      updateKillers(thread.killers[0], m);
      bestValue = v;
      if (t == 0 && settings::multiPV == 1 && !quiet) {
        const int bound = v >= beta ? 1 : v <= alpha ? 2 : 0;
        reportLine(iteration, v, pv, bound);
        lastBoundType.store(bound, std::memory_order_relaxed);
      }
      if (lines == 1) {
        if (v >= beta) break;
        if (v > alpha) alpha = v;
      }
    }
    if (lines > 1) alpha = nextAlpha;
  }

  // Step 7. Next iteration's order, or the mate/stalemate answer.
  if (pv[0]) reorderRootMoves(pos, thread, pv[0]);
  if (movesSearched == 0) {
    bestValue = pos.inCheck ? -MateScore : 0;
    if (t == 0) rootBestScore.store(bestValue, std::memory_order_relaxed);
  }
  return bestValue;
}
