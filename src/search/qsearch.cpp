// Quiescence search: stand pat on the static evaluation and resolve the
// captures (near the leaf also quiet checks and advanced pawn pushes, and all
// evasions in check) so that the main search never judges a position in the
// middle of an exchange.
#include <algorithm>

#include "board/movegen.h"
#include "eval/evaluate.h"
#include "search/picker.h"
#include "search/search.h"
#include "search/searchutil.h"
#include "search/tables.h"

namespace {

// Margins of the delta filter by victim type (0 = no capture): how much more
// than the victim a capture may still gain, and the band near alpha inside
// which a capture must at least not lose material.
constexpr int deltaMargin[7] = {120, 80, 120, 120, 120, 120, 0};
constexpr int lazyMargin[7] = {40, 40, 40, 50, 60, 70, 0};
// Small piece values for the exchange test of desperate captures.
constexpr int exchangeValue[7] = {0, 1, 4, 4, 6, 12, 999};
// Below this stand pat deficit nothing can rescue the node.
constexpr int HopelessMargin = 1200;
// Depth limits (qdepth, falling by 2 per ply): table use, only recaptures,
// and the point where the stand pat is final.
constexpr int TableMinQdepth = -6, RecaptureOnlyQdepth = -16, StandPatOnlyQdepth = -59;
constexpr int LazyWindowBelow = 151, LazyWindowAbove = 150;
// Fixed switches: the delta filters, and the check/push stages near the
// leaf (without them every node not in check tries captures only).
constexpr bool UseDeltaFilters = true;
constexpr bool UseCheckStages = true;

// Stages of the quiescence move loop.
enum QStage { TableMove, Captures, QuietChecks, AdvancedPushes, Evasions, BadEvasions, Done };

// Which stages a node runs: plan 7 captures only, 10 adds quiet checks, 8
// also advanced pawn pushes, 4 is the in-check plan.
constexpr QStage plan7[] = {Captures, Done};
constexpr QStage plan8[] = {TableMove, Captures, QuietChecks, AdvancedPushes, Done};
constexpr QStage plan10[] = {TableMove, Captures, QuietChecks, Done};
constexpr QStage plan4[] = {TableMove, Evasions, BadEvasions, Done};

// Least valuable piece of colour c attacking s through occupancy occ
// (its square, or -1), with its type.
int leastAttacker(const Position& pos, int c, Square s, Bitboard occ, int& type) {
  const Bitboard diag = bishopAttacks(s, occ), straight = rookAttacks(s, occ);
  const Bitboard sets[7] = {0,
                            pawnAttacks[other(c)][s] & pos.bb(c, Pawn),
                            knightAttacks[s] & pos.bb(c, Knight),
                            diag & pos.bb(c, Bishop),
                            straight & pos.bb(c, Rook),
                            (diag | straight) & pos.bb(c, Queen),
                            kingAttacks[s] & pos.bb(c, King)};
  for (int t = Pawn; t <= King; t++)
    if (sets[t] & occ) {
      type = t;
      return lsb(sets[t] & occ);
    }
  return -1;
}

}  // namespace

bool winsExchange(const Position& pos, Move m) {
  const Square from = moveFrom(m), to = moveTo(m);
  int side = other(pos.sideToMove());
  Bitboard occ = pos.occupied & ~squareBB[from];
  int gain[40];  // gain[n]: balance after capture n, from the view of the side making it
  int n = 0;
  gain[0] = exchangeValue[typeOfCode(pos.board[to])];
  int onSquare = exchangeValue[typeOfCode(pos.board[from])];
  while (n < 38) {
    int type = 0;
    const Square a = leastAttacker(pos, side, to, occ, type);
    if (a < 0) break;
    n++;
    gain[n] = onSquare - gain[n - 1];
    // The capturing side's own balance (gain[n] on its captures, -gain[n] on
    // the opponent's) falls below -100 only when its king is taken: a line
    // that leads the king onto a guarded square rules the capture out.
    if ((n & 1 ? -gain[n] : gain[n]) < -100) return false;
    onSquare = exchangeValue[type];
    occ &= ~squareBB[a];
    side = other(side);
  }
  // Each side stops when capturing on would leave it worse off.
  while (n > 0) {
    gain[n - 1] = -std::max(-gain[n - 1], gain[n]);
    n--;
  }
  return gain[0] > 0;
}

namespace {

// Ordering score of an evasion: promotions and en passant first, then
// captures by victim and attacker, then quiet moves by history.
int evasionScore(const Position& pos, Move m) {
  if (moveKind(m) == KindEnPassant) return 30000;
  if (isPromotion(m)) return 31000;
  const int victim = typeOfCode(pos.board[moveTo(m)]);
  const int attacker = typeOfCode(pos.board[moveFrom(m)]);
  if (victim && moveKind(m) != KindCastle) return 2 * (15000 + 8 * victim - attacker);
  return pos.historyTable->v[pos.sideToMove()][attacker][moveTo(m)] >> 1;
}

// Takes the remaining entry with the highest score (the first of equal ones)
// and swaps it to position next.
Move pickBest(int* list, int count, int next) {
  int best = next;
  for (int i = next + 1; i < count; i++)
    if (entryScore(list[i]) > entryScore(list[best])) best = i;
  std::swap(list[next], list[best]);
  return entryMove(list[next]);
}

}  // namespace

int qsearch(Position& pos, int alpha, int beta, int qdepth, int ply, Move* pv) {
  // Step 1. Entry: stop flag and clock poll.
  pv[0] = 0;
  if (stopped(pos)) return 0;
  if (pollClock(pos)) return 0;
  const bool inCheck = pos.inCheck;
  if (ply >= MaxPly) return evaluate(pos, -35000, 35000);

  // Step 2. Mate-distance pruning.
  const bool pvWindow = beta - alpha != 1;
  const int alphaIn = alpha;
  alpha = std::max(alpha, ply - MateScore);
  beta = std::min(beta, MateScore - 1 - ply);
  if (alpha >= beta) return alpha;

  // Step 3. The table, near the leaf only.
  TableHit tt;
  if (qdepth >= TableMinQdepth) {
    tt = probeTable(pos.key, ply);
    if (tt.found && tt.depth >= (qdepth == 0 ? 0 : -2)) {
      if ((tt.flags & 3) == BoundExact || (tt.flags & BoundTerminal)) return tt.value;
      if ((tt.flags & 3) == BoundLower && tt.value >= beta) return tt.value;
      if ((tt.flags & 3) == BoundUpper && tt.value <= alpha) return tt.value;
    }
  }

  // Step 4. Stand pat and the choice of move stages.
  int standPat = -NoScore, bestValue = -NoScore;
  const QStage* plan = plan4;
  pos.staticEval = NoScore;
  if (!inCheck) {
    pos.staticEval = pvWindow ? evaluate(pos, -35000, 35000)
                              : evaluate(pos, beta - LazyWindowBelow, beta + LazyWindowAbove);
    standPat = refineEval(pos.staticEval, tt);
    if (standPat < alpha - HopelessMargin) return alpha;
    if (qdepth < StandPatOnlyQdepth) return standPat;
    if (standPat >= beta) return standPat;
    alpha = std::max(alpha, standPat);
    bestValue = standPat;
    if (!UseCheckStages)
      plan = plan7;
    else if (qdepth == 0)
      plan = pvWindow ? plan8 : plan10;
    else if (qdepth == -2)
      plan = pvWindow ? plan8 : standPat >= beta - 9 ? plan10 : plan7;
    else if (qdepth == -4 && pvWindow && standPat >= alpha - 9)
      plan = plan8;
    else
      plan = plan7;
  }

  const int us = pos.sideToMove();
  const int phase = std::min<int>(std::max<int>(pos.phase, 0), 96);
  const int drawValue = drawValueAt(ply);
  const Move ttMove = plan == plan7 ? 0 : tt.move;
  int list[MaxMoves];
  int bad[64];
  int count = 0, next = 0, badCount = 0;
  int moveCount = inCheck ? 0 : 1;
  bool bestIsDraw = false;
  Position child;
  Move childPv[PvLength];

  // Step 5. The moves, stage by stage.
  for (const QStage* stage = plan; *stage != Done; stage++) {
    // Generate the stage's list (the table move is a list of one).
    count = next = 0;
    switch (*stage) {
      case TableMove:
        if (ttMove && isPseudoLegal(pos, ttMove)) list[count++] = ttMove;
        break;
      case Captures:
        count = generateCaptures(pos, list);
        // Children of the first few captures are fetched while the others
        // are ordered and filtered.
        if (qdepth - 2 >= TableMinQdepth)
          for (int i = 0; i < count && i < 4; i++) prefetchMoveTables(pos, entryMove(list[i]));
        break;
      case QuietChecks:
        count = generateQuietChecks(pos, list);
        for (int i = 0; i < count; i++)
          if (typeOfCode(pos.board[moveFrom(entryMove(list[i]))]) == Knight)
            list[i] = makeEntry(entryMove(list[i]), entryScore(list[i]) + 99);
        break;
      case AdvancedPushes:
        count = generateAdvancedPushes(pos, list);
        break;
      case Evasions:
        count = generateEvasions(pos, list);
        for (int i = 0; i < count; i++) list[i] = makeEntry(entryMove(list[i]), evasionScore(pos, entryMove(list[i])));
        break;
      case BadEvasions:
        std::copy(bad, bad + badCount, list);
        count = badCount;
        break;
      case Done:
        break;
    }

    for (; next < count; next++) {
      const Move m = *stage == BadEvasions || *stage == TableMove ? entryMove(list[next]) : pickBest(list, count, next);
      if (*stage != TableMove && m == ttMove) continue;
      const bool trusted = *stage == TableMove || *stage == BadEvasions;

      // Losing evasions wait until every other evasion has been tried.
      if (*stage == Evasions && moveKind(m) != KindEnPassant && badCount < 64 && losesMaterial(pos, m)) {
        bad[badCount++] = m;
        continue;
      }

      // Filter 1. Under-promotions are never worth it here.
      if (moveKind(m) >= KindPromoKnight) continue;

      const int victim = moveKind(m) == KindEnPassant ? Pawn
                         : moveKind(m) == KindCastle  ? 0
                                                      : typeOfCode(pos.board[moveTo(m)]);
      // Filter 2. Delta filters: skip captures that cannot lift the score to
      // alpha and, near alpha, those that lose material.
      if (!inCheck) {
        if (!UseDeltaFilters) {
          // no material filter
        } else if ((qdepth >= 0 && givesCheck(pos, m)) || moveKind(m) == KindPromoQueen) {
          if (!trusted && losesMaterial(pos, m)) continue;
        } else {
          if (qsearchPieceValue[phase][victim] + standPat + deltaMargin[victim] + 3 * qdepth < alpha) continue;
          if (moveKind(m) == KindEnPassant || standPat + lazyMargin[victim] >= alpha) {
            if (!trusted && losesMaterial(pos, m)) continue;
          } else {
            // Far below alpha only a clear material gain is worth a look.
            const int mover = typeOfCode(pos.board[moveFrom(m)]);
            if (mover != King) {
              if (exchangeValue[victim] == 0) continue;
              if (exchangeValue[victim] <= exchangeValue[mover] && !winsExchange(pos, m)) continue;
            }
          }
        }
        // Filter 3. Deep down only recaptures keep the line going.
        if (qdepth < RecaptureOnlyQdepth && moveTo(m) != moveTo(pos.lastMove)) continue;
      } else if (bestValue >= -(MateBound)) {
        // Filter 4. Once mate is averted, losing quiet evasions are dropped.
        const bool quietKind = moveKind(m) <= KindDouble && victim == 0;
        if (quietKind && (*stage == BadEvasions || (*stage == TableMove && losesMaterial(pos, m)))) continue;
      }

      // A child below the table's reach still evaluates: only its
      // evaluation lines are worth fetching ahead.
      const bool childProbes = qdepth - 2 >= TableMinQdepth;
      if (!(childProbes ? makeMove(pos, child, m) : makeMoveEvalOnly(pos, child, m))) continue;
      moveCount++;

      int v;
      bool isDraw = false;
      childPv[0] = 0;
      const bool quiet = moveKind(m) != KindEnPassant && moveKind(m) != KindPromoQueen && victim == 0;
      if (quiet && isDrawChild(child)) {
        v = drawValue;
        isDraw = true;
      } else {
        child.inCheck = kingAttacked(child, other(us));
        // Quiet moves of the check stages must really check (or push a pawn
        // to the seventh) to be worth a look.
        if ((plan == plan8 || plan == plan10) && !inCheck && quiet && m != ttMove && !child.inCheck &&
            !(typeOfCode(pos.board[moveFrom(m)]) == Pawn && relativeRank(us, moveTo(m)) == 6))
          continue;
        v = -qsearch(child, -beta, -alpha, qdepth - 2, ply + 1, childPv);
        if (stopped(pos)) return 0;
      }

      if (v > bestValue) {
        if (v > alpha) {
          pv[0] = m;
          pv[1] = 0;
          alpha = v;
        }
        bestValue = v;
        bestIsDraw = isDraw;
        if (v >= beta) goto searched;
      }
    }
  }
searched:

  // Step 6. Result and table store (never an upper bound).
  if (stopped(pos)) return 0;
  if (moveCount == 0) {
    const int v = ply - MateScore;
    if (!bestIsDraw && qdepth > -3) storeTable(pos.key, qdepth == 0 ? 0 : -2, v, BoundExact, 0, 0, ply);
    return v;
  }
  if (bestIsDraw) return bestValue;
  if (qdepth > -3) {
    if (bestValue >= beta)
      storeTable(pos.key, qdepth == 0 ? 0 : -2, bestValue, BoundLower, pv[0], 0, ply);
    else if (bestValue > alphaIn)
      storeTable(pos.key, qdepth == 0 ? 0 : -2, bestValue, BoundExact, pv[0], 0, ply);
  }
  return bestValue;
}
