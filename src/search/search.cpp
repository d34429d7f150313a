// The tree node routines searchPV and searchNonPV, written as numbered
// recipes.  Each node keeps its child Position, picker, quiet list and PV
// buffer in its own frame: nothing is allocated while searching.
#include "search/search.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/picker.h"
#include "search/searchutil.h"
#include "search/tables.h"
#include "tb/tbsearch.h"

SearchThread* searchThreads[MaxThreads];

int drawScore = 0;
int contempt = 0;
std::atomic<int> rootBestScore{0};
std::atomic<int> rootMovesSearched{0};
std::atomic<int> currentMoveNumber{0};
std::atomic<int> lastBoundType{0};

void clearSearchTables(SearchThread& thread) {
  std::memset(thread.killers, 0, sizeof thread.killers);
  std::memset(thread.counterMoves, 0, sizeof thread.counterMoves);
}

Bitboard passedZone(const Position& pos) {
  const int us = pos.sideToMove(), them = other(us);
  // Squares each enemy pawn can still reach or capture on: its own file and
  // the two beside it, from its rank onwards in its direction of travel.
  Bitboard contested = 0;
  Bitboard theirPawns = pos.bb(them, Pawn);
  Bitboard front = shiftUp(them, theirPawns);
  front |= besideBB(front);
  while (front) {
    contested |= front;
    front = shiftUp(them, front);
  }
  const Bitboard ranks678 = us == White ? 0xFFFFFF0000000000ull : 0x0000000000FFFFFFull;
  return ranks678 & ~contested;
}

namespace {

// Frontier (depth 1) windows: how close to beta the static evaluation must
// be for a null-window frontier node to look one full ply deeper instead of
// dropping into the quiescence search.
constexpr int FrontierBelow = 10, FrontierAbove = 30, FrontierCutNodeExtra = 45;
constexpr int FrontierLazyMargin = 200;
// PV frontier: the band around beta inside which a depth-1 node always
// searches one full ply, and the outer band where threats decide.
constexpr int PvFrontierBand = 99;
// Under-promotions are left out below these depths (half-plies).
constexpr int UnderPromotionDepthNonPV = 30, UnderPromotionDepthPV = 20;
// Internal iterative deepening in PV nodes: minimum depth, depth reduction,
// and how shallow a table move may be before it is not trusted.
constexpr int IidPvMinDepth = 10, IidPvReduction = 4, IidPvTrustDepth = 6;
// Quiet cut moves of a node whose static evaluation was this far below beta
// do not blame the quiet moves tried before them.
constexpr int HistoryBlameMargin = 74;
constexpr int HistoryMax = 32640;

// One quiet move tried at a node: the piece type moved and its destination
// (the history index besides the side to move).
struct QuietMove {
  int8_t type;
  int8_t to;
};

int fullEval(Position& pos) { return evaluate(pos, -35000, 35000); }

// Whether the opponent of the side to move has a pawn one step from promoting.
bool opponentPawnOnSeventh(const Position& pos) {
  const int them = other(pos.sideToMove());
  const Bitboard theirSeventh = them == White ? 0x00FF000000000000ull : 0x000000000000FF00ull;
  return pos.bb(them, Pawn) & theirSeventh;
}

// The largest material loss (small units, 0..19) the opponent threatens
// against any piece of the side to move; the scan stops early once a loss is
// found that no cheaper piece could exceed.
int threatScan(const Position& pos) {
  const int us = pos.sideToMove();
  static constexpr int order[5] = {Queen, Rook, Bishop, Knight, Pawn};
  static constexpr int enough[5] = {4, 3, 2, 1, 99};
  int worst = 0;
  for (int i = 0; i < 5; i++) {
    for (Bitboard b = pos.bb(us, order[i]); b;) {
      const int loss = -squareExchangeLoss(pos, popLsb(b));
      if (loss > worst) worst = loss;
    }
    if (worst > enough[i]) break;
  }
  return worst;
}

// A pawn move to a square no enemy pawn can contest any more.
bool isPassedPush(const Position& pos, Move m, Bitboard zone) {
  return typeOfCode(pos.board[moveFrom(m)]) == Pawn && (zone & squareBB[moveTo(m)]);
}
// The same once the game has thinned out: the null-window node extends such
// a push and reduces it less (in the middle game a passed pawn is one
// concern among many).
bool isLatePassedPush(const Position& pos, Move m, Bitboard zone) {
  return pos.phase < 49 && isPassedPush(pos, m, zone);
}

// The quiet-move history of a node after it found its best or cut move:
// the chosen quiet move gains, the blamed ones lose, both in proportion to
// what is left of their range and to the depth.
void rewardQuiet(HistoryTable& h, int side, const QuietMove& q, int factor) {
  int& v = h.v[side][q.type][q.to];
  v += (int)(((int64_t)(HistoryMax - v) * factor) >> 10);
}
void punishQuiet(HistoryTable& h, int side, const QuietMove& q, int factor) {
  int& v = h.v[side][q.type][q.to];
  v -= (int)(((int64_t)v * factor) >> 10);
}
int historyFactorFor(int index, int depth) {
  const int i = index / 12 + depth;
  return historyFactor[i < 0 ? 0 : i > 199 ? 199 : i];
}

// Whether the opponent piece on `from` wins something by capturing one of
// the targets (exchange value above 0).
bool winningCaptureAmong(const Position& pos, Square from, Bitboard targets) {
  while (targets) {
    const Square to = popLsb(targets);
    if (opponentExchangeValue(pos, makeMove16(from, to)) > 0) return true;
  }
  return false;
}

// Threat size (0..2) of the opponent's last move: 2 when the moved piece
// attacks something clearly bigger (or a pawn is about to promote safely),
// 1 when it can win material by a capture, else 0.
int lastMoveThreat(const Position& pos) {
  if (!pos.lastMove) return 0;
  const int us = pos.sideToMove(), them = other(us);
  const Square s = moveTo(pos.lastMove);
  const Bitboard occ = pos.occupied;
  const Bitboard knights = pos.bb(us, Knight), bishops = pos.bb(us, Bishop), rooks = pos.bb(us, Rook),
                 queens = pos.bb(us, Queen), pawns = pos.bb(us, Pawn);
  switch (typeOfCode(pos.board[s])) {
    case Pawn: {
      if (pawnAttacks[them][s] & (knights | bishops | rooks | queens)) return 2;
      const Square ahead = them == White ? s + 8 : s - 8;
      if (relativeRank(them, s) == 6 && pos.board[ahead] == 0)
        return opponentExchangeValue(pos, makeMove16(s, ahead)) >= 0 ? 2 : 0;
      return 0;
    }
    case Knight:
      if (knightAttacks[s] & (rooks | queens)) return 2;
      return winningCaptureAmong(pos, s, knightAttacks[s] & (bishops | pawns)) ? 1 : 0;
    case Bishop:
      if (bishopAttacks(s, occ) & (rooks | queens)) return 2;
      return winningCaptureAmong(pos, s, bishopAttacks(s, occ) & (knights | pawns)) ? 1 : 0;
    case Rook:
      if (rookAttacks(s, occ) & queens) return 2;
      return winningCaptureAmong(pos, s, rookAttacks(s, occ) & (knights | bishops | pawns)) ? 1 : 0;
    case Queen:
      return winningCaptureAmong(pos, s, queenAttacks(s, occ) & (knights | bishops | rooks | pawns)) ? 1 : 0;
    case King:
      return winningCaptureAmong(pos, s, kingAttacks[s] & (knights | bishops | rooks | queens | pawns)) ? 1 : 0;
    default:
      return 0;
  }
}

// A pawn move to the mover's relative 6th or 7th rank.
bool isAdvancedPawnMove(const Position& pos, Move m) {
  if (typeOfCode(pos.board[moveFrom(m)]) != Pawn) return false;
  const int rank = relativeRank(pos.sideToMove(), moveTo(m));
  return rank == 5 || rank == 6;
}

// Whether a null-window node skips m before making it.  Late quiet moves
// beyond the move-count limit are pruned unless they push a pawn far or
// give check; at very small depth losing moves are pruned too.  Early,
// special and killer moves are kept unless they lose material where that
// matters.
bool shouldPrune(const Position& pos, Move m, int stage, int depth, bool inCheck, bool searchedOne, bool capture,
                 int moveCount, int lmp, bool killerOrCounter) {
  bool late = false;  // true: the late-move exemption decides first
  if (!searchedOne) {
    if (inCheck) return false;
  } else if (!(inCheck || depth > 25 || stage == StageQuietChecks || capture)) {
    if (killerOrCounter || moveKind(m) >= KindEnPassant || moveCount <= lmp) {
      if (depth / 2 > 2) {
        if (depth > 11 || !losesMaterial(pos, m)) return false;
        late = true;
      }
    } else {
      late = true;
    }
  }
  if (late && !isAdvancedPawnMove(pos, m) && !givesCheck(pos, m)) return true;
  // Shallow SEE pruning (applies in check too, to losing evasions).
  if (depth / 2 >= 3) return false;
  return stage != StageGoodCaptures && stage != StageEvasions && (stage == StageBadMoves || losesMaterial(pos, m)) &&
         !exposesOwnKing(pos, m);
}

// Static evaluation above which a node far ahead is searched a little less deep.
constexpr int WayAheadEval = 400;
// A null-move result above this (a mate found after passing) only counts as beta.
constexpr int NullMateLimit = 29000;
// Null-move cuts at this depth or more are verified by a real search.
constexpr int NullVerifyDepth = 24;
// History score above which a late quiet move is trusted with less reduction.
constexpr int HistoryGood = 24000;

}  // namespace

int reductionNonPVFor(const Position& pos, Move m, const LateMove& late, Bitboard zone) {
  int r = reductionNonPV[late.improving][std::min(late.depth, 63)][std::min(late.legalMoves, 63)];
  if (late.counter) r -= 2;
  if (isLatePassedPush(pos, m, zone)) r -= 2;
  if (late.history > HistoryGood) r -= 2;
  if (late.cutNode) r += pos.inCheck ? 1 : 2;
  if (late.history < historyThreshold[std::min(late.moveCount, 399)] || late.badStage) r += 1;
  // A piece under attack that steps away safely deserves a real look.
  if (r >= 2 && pos.phase >= 49 && !pos.inCheck && typeOfCode(pos.board[moveFrom(m)]) != King &&
      pieceEnPrise(pos, m) && !losesMaterial(pos, m))
    r -= 2;
  return r;
}

namespace {

// Whether the node may try the static null move, the null move and
// razoring: well enough above beta, allowed by the caller and the option,
// outside mate scores, and with a piece besides pawns to move (so that
// passing is not refuted by zugzwang).
bool nullMoveAllowed(const Position& pos, int refinedEval, int beta, int depth, bool noNull, bool cutNode) {
  const int us = pos.sideToMove();
  const Bitboard pieces = pos.bb(us, Knight) | pos.bb(us, Bishop) | pos.bb(us, Rook) | pos.bb(us, Queen);
  return refinedEval >= beta + 15 - std::min(depth, 25) * (int)cutNode && !noNull && std::abs(beta) <= 31799 &&
         settings::nullMovePruning && pieces != 0;
}

// Writes [m] followed by the child's line into pv (63 moves at most).
void buildPv(Move* pv, Move m, const Move* childPv) {
  pv[0] = m;
  int i = 0;
  for (; i < PvLength - 2 && childPv[i]; i++) pv[i + 1] = childPv[i];
  pv[i + 1] = 0;
}

// Key of a singular test: the node's key shifted by the excluded move so the
// test never meets (or overwrites) the node's normal table entry.
Key excludedKey(const Position& pos, Move excluded) {
  if (!excluded) return pos.key;
  return pos.key ^ zobrist[pieceRow(White, King)][moveTo(excluded)] ^ zobrist[pieceRow(Black, King)][moveFrom(excluded)];
}

// The tablebase answer of a node: only with few enough pieces for this
// search's probe limit and enough depth left to be worth a table read.  The
// value also stands as the node's static evaluation.
bool tablebaseAnswer(Position& pos, int depth, int ply, int& value) {
  if (pos.pieceCount > (uint32_t)tbProbeLimit || depth < settings::syzygyProbeDepth) return false;
  if (!tbScore(pos, ply, &value)) return false;
  pos.staticEval = value;
  return true;
}

}  // namespace

int searchNonPV(Position& pos, int beta, int depth, int ply, Move* pv, Move excludedMove, bool noNull, bool cutNode) {
  pv[0] = 0;
  // Step 1. Entry: stop flag, reduction handshake, clock poll.
  if (stopped(pos)) return 0;
  pos.reductionMark = 0;
  if (pollClock(pos)) return 0;
  pos.staticEval = NoScore;
  if (ply >= MaxPly) return fullEval(pos);

  // Step 2. Mate-distance pruning: no line from here can beat a mate already
  // closer to the root.
  int alpha = beta - 1;
  alpha = std::max(alpha, ply - MateScore);
  beta = std::min(beta, MateScore - 1 - ply);
  if (alpha >= beta) return alpha;

  const Key key = excludedKey(pos, excludedMove);
  SearchThread& thread = threadOf(pos);
  const bool inCheck = pos.inCheck;

  // Step 3. Frontier: nodes without depth go to the quiescence search, except
  // that an evaluation just below beta earns one real ply of search.
  if (depth <= 0 || (depth == 1 && (pos.frontierExtended || inCheck))) return qsearch(pos, beta - 1, beta, 0, ply, pv);
  if (depth == 1) {
    const TableHit h = probeTable(key, ply);
    if (h.found && h.depth >= 3 && tableCutsNullWindow(h, beta)) return h.value;
    const int eval = evaluate(pos, beta - FrontierLazyMargin, beta + FrontierLazyMargin);
    pos.staticEval = eval;
    if (eval >= beta - FrontierBelow && eval < beta + FrontierAbove + FrontierCutNodeExtra * cutNode) {
      pos.frontierExtended = 1;
      return searchNonPV(pos, beta, 2, ply, pv, 0, noNull, cutNode);
    }
    const int refined = refineEval(eval, h);
    if (refined >= beta) return refined;
    return qsearch(pos, beta - 1, beta, 0, ply, pv);
  }

  // Step 4. Transposition table: a deep enough bound on the right side of
  // beta (or a known mate/stalemate) answers the node.
  TableHit tt = probeTable(key, ply);
  if (tt.found && tt.depth >= depth && tableCutsNullWindow(tt, beta)) {
    if ((tt.flags & BoundLower) && tt.value >= beta && tt.move && pos.board[moveTo(tt.move)] == 0 &&
        moveKind(tt.move) <= KindDouble) {
      updateCounterMoves(thread, pos, tt.move);
      updateKillers(thread.killers[ply], tt.move);
    }
    return tt.value;
  }
  bool singularCandidate = !excludedMove && tt.move && tt.depth >= depth / 2 && (tt.flags & BoundLower);

  // A deep node may try the null move: that child's lines can come in
  // while the node evaluates.
  if (depth >= 6 && !inCheck && !noNull) prefetchMoveTables(pos, 0);

  // Step 5. Tablebase probe: a known win, draw or loss ends the node.
  if (int value; tablebaseAnswer(pos, depth, ply, value)) return value;

  // Step 6. Static evaluation, lazy around beta at small depth.
  if (!inCheck) {
    const int margin = depth < 4 ? 200 : 250 + 8 * depth;
    pos.staticEval = depth > 17 ? fullEval(pos) : evaluate(pos, beta - margin, beta + margin);
  }
  const Position* grand = pos.previous ? pos.previous->previous : nullptr;
  const bool improving = ply < 2 || !grand || pos.staticEval >= grand->staticEval || grand->staticEval == NoScore;
  const int refinedEval = refineEval(pos.staticEval, tt);

  // Step 7. Way-ahead depth reduction, static null move, null move with
  // verification, razoring and the drop into the quiescence search.
  if (!inCheck) {
    const int us = pos.sideToMove(), them = other(us);
    // Far ahead with no enemy pawn near promotion: the node is worth less depth.
    const Bitboard theirRanks67 = them == White ? 0x00FFFF0000000000ull : 0x0000000000FFFF00ull;
    if (pos.staticEval > WayAheadEval && depth > 3 && pos.staticEval > beta && !(pos.bb(them, Pawn) & theirRanks67))
      depth -= pos.bb(them, Queen) ? 1 : 2;

    bool mayDrop = depth <= 7;
    if (nullMoveAllowed(pos, refinedEval, beta, depth, noNull, cutNode)) {
      // A pawn that just reached the seventh rank makes standing still riskier.
      const bool pawnOnSeventh = pos.lastMove && pos.movedType == Pawn && relativeRank(them, moveTo(pos.lastMove)) == 6;
      // Static null move: far enough above beta, a quiet move will hold it.
      const int staticNull = refinedEval - ((pawnOnSeventh ? 100 : 0) + (depth <= 13 ? futilityMargin[cutNode][depth] : 0));
      if (depth >= 6) {
        if (depth <= 9 && staticNull >= beta) return staticNull;
        // Null move: pass, and if the opponent still cannot reach beta with a
        // reduced search, this node is very likely a cut node.
        const int r = (std::min(refinedEval - beta, 500) / 25 + depth + 6 + (std::min((int)pos.phase, 96) > 23 ? 4 : 0)) / 4;
        Position child;
        Move childPv[PvLength];
        makeMoveNoPrefetch(pos, child, 0);  // its lines were fetched before the evaluation
        child.inCheck = 0;
        int v = depth - 2 - r < 2 ? -qsearch(child, -beta, 1 - beta, 0, ply + 1, childPv)
                                  : -searchNonPV(child, 1 - beta, depth - 2 - r, ply + 1, childPv, 0, true, true);
        if (stopped(pos)) return 0;
        if (v > NullMateLimit) v = beta;
        // Searched under a reduction and even a free move fails low badly:
        // end here under a small reduction, take part of a large one back.
        const int mark = pos.previous ? pos.previous->reductionMark : 0;
        if (mark != 0 && v < beta - 100) {
          if (mark < 4) return v;
          depth += 2;
        }
        if (v >= beta) {
          if (depth < NullVerifyDepth) return v;
          // Deep nodes confirm the null-move cut with a shallower real search
          // (guards against zugzwang).
          const int savedEval = pos.staticEval;
          const int verified = searchNonPV(pos, beta, depth - 12, ply, childPv, 0, true, false);
          if (stopped(pos)) return 0;
          pos.staticEval = savedEval;
          if (verified >= beta) return v;
          mayDrop = false;
        } else {
          mayDrop = depth <= 7;
        }
      } else {
        if (staticNull >= beta) return staticNull;
        // Razoring: above beta by more than what the opponent threatens.
        if (refinedEval - razorMargin[depth] >= beta) {
          const Position* parent = pos.previous;
          int threat;
          if (depth < 4 && parent && !parent->inCheck && parent->capturedType == 0)
            threat = lastMoveThreat(pos);
          else
            threat = opponentPawnOnSeventh(pos) ? 15 : threatScan(pos);
          const int v = refinedEval - (razorMargin[depth] + threatMargin[std::min(threat, 19)]);
          if (v >= beta) return v;
        }
        mayDrop = true;
      }
    }
    // Hopelessly below beta at small depth without a table move: only
    // captures can help, so the quiescence search decides.  A node entered
    // by a null move never drops.
    if (mayDrop && depth <= 7 && !tt.move && refinedEval < beta - qsearchRazorMargin[depth] && pos.lastMove)
      return qsearch(pos, beta - 1, beta, 0, ply, pv);
  }

  // Step 8. Internal iterative deepening: without a table move, a cheap
  // shallower search of this node finds one to try first.
  Move pickerTtMove = tt.move;
  if (depth >= 14 && !noNull && !tt.move && !inCheck && (cutNode || refinedEval + 50 >= beta) && refinedEval <= beta + 149) {
    Move iidPv[PvLength];
    searchNonPV(pos, beta, depth - 8, ply, iidPv, 0, true, true);
    if (stopped(pos)) return 0;
    tt = probeTable(key, ply);
    if (tt.found) {
      pickerTtMove = tt.move;
      singularCandidate = !excludedMove && tt.move && tt.depth >= depth / 2 && (tt.flags & BoundLower);
    } else {
      pickerTtMove = iidPv[0];
    }
  }

  // Step 9. Move loop set-up.
  const int side = pos.sideToMove();
  const Move counter0 = pos.movedType && pos.lastMove ? *counterSlot(thread, pos, 0) : 0;
  const Move counter1 = pos.movedType && pos.lastMove ? *counterSlot(thread, pos, 1) : 0;
  KillerSlots& killers = thread.killers[ply];
  // In check: evasions with the check killer first.  Far below beta at
  // small depth (futility mode) quiet moves cannot help: only the table
  // move, captures, checks and advanced pushes are tried, and the static
  // evaluation stands as the node's floor.
  const bool futilityMode =
      !inCheck && depth / 2 <= 7 && pos.staticEval + moveFutilityMargin[depth / 2][cutNode] < beta;
  const int plan = inCheck ? PlanInCheck : !futilityMode ? PlanNormal : depth / 2 < 5 ? PlanFutilityShallow : PlanFutilityDeep;
  MovePicker picker(pos, plan, pickerTtMove,
                    inCheck ? killers.checkKiller : killers.killer1, inCheck ? killers.killer1 : killers.killer2,
                    counter0, counter1, depth);
  int bestValue = futilityMode ? pos.staticEval : -NoScore;
  thread.killers[ply + 2].killer1 = thread.killers[ply + 2].killer2 = 0;
  const int drawValue = drawValueAt(ply);
  const Bitboard zone = passedZone(pos);
  const int lmp = lmpCount[std::clamp(depth - (int)cutNode - (improving ? 0 : 3), 0, 25)];
  const Move ownLastMove = pos.previous ? pos.previous->lastMove : 0;
  bool valuedUnmade = false;

  QuietMove quiets[MaxMoves];
  int quietCount = 0, cutIndex = -1;
  int legalMoves = 0, moveCount = 0;
  bool prunedAny = false, bestIsDraw = false;
  Move unsearchedPruned[MaxMoves];  // moves pruned before any move was searched
  int prunedUnsearched = 0;
  Position child;
  Move childPv[PvLength];
  Move prefetched = 0;

  // Step 10. The moves, best first.
  for (Move m; (m = picker.next());) {
    // 10.1 The excluded move of a singular test and (at small depth)
    // under-promotions are not searched.
    if (m == excludedMove) continue;
    if (moveKind(m) >= KindPromoKnight && depth < UnderPromotionDepthNonPV) continue;
    // Fetch the child's table lines as soon as the move is known, and the
    // next move's while this one is searched; making the move then need not
    // ask for them again (castling's lines come only with the move itself).
    const bool linesFetched = moveCount < lmp && moveKind(m) != KindCastle;
    if (moveCount < lmp) {
      if (m != prefetched) prefetchMoveTables(pos, m);
      prefetched = moveCount + 1 < lmp ? picker.peek() : 0;
      if (prefetched) prefetchMoveTables(pos, prefetched);
    }

    // 10.2 Reversal, late-move and shallow SEE pruning.
    const bool capture = moveKind(m) != KindCastle && pos.board[moveTo(m)] != 0;
    // Undoing our own last move at small depth at best repeats: it is
    // scored as the draw without being searched.
    if (!inCheck && pos.rule50 > 1 && moveKind(m) == KindNormal && drawValue < beta && depth < 10 && ownLastMove &&
        moveFrom(m) == moveTo(ownLastMove) && moveTo(m) == moveFrom(ownLastMove) && !capture) {
      // A piece pinned meanwhile cannot go back: an illegal move is no value.
      if (!isLegalUnmade(pos, child, m)) continue;
      if (drawValue > bestValue) {
        bestValue = drawValue;
        bestIsDraw = false;
      }
      valuedUnmade = true;
      continue;
    }
    if (shouldPrune(pos, m, picker.stage, depth, inCheck, legalMoves > 0, capture, moveCount, lmp,
                    m == killers.killer1 || m == killers.killer2 || m == counter0)) {
      // Pruned unmade (the count includes any illegal ones); while nothing
      // has been searched the node remembers them for its final verdict.
      moveCount++;
      prunedAny = true;
      if (legalMoves == 0 && prunedUnsearched < MaxMoves) unsearchedPruned[prunedUnsearched++] = m;
      continue;
    }

    // 10.3 Make the move.
    const bool quiet = isQuietMove(pos, m);
    if (!(linesFetched ? makeMoveNoPrefetch(pos, child, m) : makeMove(pos, child, m))) continue;
    legalMoves++;
    moveCount++;
    if (quiet && !inCheck && quietCount < MaxMoves) quiets[quietCount++] = {(int8_t)child.movedType, (int8_t)moveTo(m)};

    int v;
    bool isDraw = false;
    childPv[0] = 0;
    // 10.4 A quiet move that repeats or reaches the fifty-move limit is a draw.
    if (quiet && isDrawChild(child)) {
      v = drawValue;
      isDraw = true;
    } else {
      child.inCheck = kingAttacked(child, other(side));

      // 10.5 Extensions.
      int ext = 0;
      if (child.inCheck) {
        ext = m == pickerTtMove ? 2 : 1;
        if (pos.previous && pos.previous->inCheck && beta <= contempt) ext++;
      }
      if (isLatePassedPush(pos, m, zone)) {
        ext++;
        if (pos.phase < 25 && (depth / 2 < 3 || picker.stage == StageGoodCaptures || picker.stage == StageEvasions ||
                               (picker.stage != StageBadMoves && !losesMaterial(pos, m))))
          ext++;
      }
      if (m == pickerTtMove && pos.lastMove && moveTo(m) == moveTo(pos.lastMove) && pos.capturedType > Pawn &&
          child.capturedType > Pawn)
        ext++;
      if (m == tt.move) {
        bool trySingular;
        if ((depth < 11 || !inCheck) && depth >= 6 && (depth <= 13 || !(tt.flags & BoundLower)) && ext == 0) {
          if ((quiet || refinedEval <= beta + 19) && refinedEval > -400 && refinedEval < 400 && tt.depth >= depth - 11)
            ext = 1;
          trySingular = true;
        } else {
          trySingular = !child.inCheck && ext <= 1;
        }
        // Singular extension: when every other move fails well below the
        // table move's score, the table move is the only good one and is
        // searched deeper.
        if (trySingular && singularCandidate && tt.value >= -3899 && tt.value <= 3898 && depth > 13) {
          const int sBeta = std::min(tt.value, beta) - depth / 2;
          const int savedEval = pos.staticEval;
          Move singularPv[PvLength];
          const int sv = searchNonPV(pos, sBeta, depth / 2, ply, singularPv, m, true, cutNode);
          if (stopped(pos)) return 0;
          pos.staticEval = savedEval;
          if (sv < sBeta) ext += 2;
        }
      }
      ext = std::min(ext, 2);
      if (child.phase == 0 && child.capturedType > Pawn) ext = 4;

      // 10.6 Search the move: late quiet moves first with a reduced depth;
      // only a reduced search that fails high is repeated at full depth.
      const int newDepth = depth + ext;
      bool done = false;
      if (newDepth >= 6 && quiet && m != killers.killer1 && m != killers.killer2 &&
          m != pickerTtMove && settings::useLmr) {
        const int r = reductionNonPVFor(pos, m, {depth, legalMoves, moveCount, improving, cutNode,
                                                 m == counter0 || m == counter1, picker.stage == StageBadMoves,
                                                 thread.history.v[side][child.movedType][moveTo(m)]}, zone);
        if (r >= 2) {
          pos.reductionMark = (uint8_t)r;
          v = -searchNonPV(child, 1 - beta, newDepth - 2 - r, ply + 1, childPv, 0, false, true);
          pos.reductionMark = 0;
          if (stopped(pos)) return 0;
          if (v >= beta && r > 7) {
            pos.reductionMark = 4;
            v = -searchNonPV(child, 1 - beta, newDepth - 6, ply + 1, childPv, 0, false, true);
            pos.reductionMark = 0;
            if (stopped(pos)) return 0;
          }
          done = v < beta;
        }
      }
      if (!done) {
        v = -searchNonPV(child, 1 - beta, newDepth - 2, ply + 1, childPv, 0, false, !cutNode);
        if (stopped(pos)) return 0;
      }
    }

    // 10.7 Keep the best value; a fail high ends the node.
    if (v > bestValue) {
      bestValue = v;
      bestIsDraw = isDraw;
    }
    if (v >= beta) {
      pv[0] = m;
      pv[1] = 0;
      if (inCheck) killers.checkKiller = m;
      if (quiet && !inCheck && !excludedMove) {
        updateCounterMoves(thread, pos, m);
        updateKillers(killers, m);
        cutIndex = quietCount - 1;
      }
      break;
    }
  }

  // Step 11. Result and table store.
  if (stopped(pos)) return 0;
  // A node that searched nothing stands on its pruned moves only if one of
  // them is legal; otherwise it has no move at all (mate or stalemate).
  if (prunedAny && legalMoves == 0 && !futilityMode && !excludedMove && !valuedUnmade &&
      !anyLegalUnmade(pos, child, unsearchedPruned, prunedUnsearched))
    prunedAny = false;
  if (bestValue == -NoScore && prunedAny) bestValue = beta - 1;
  if (excludedMove && bestValue < beta) bestValue = beta - 1;
  if (futilityMode || legalMoves > 0 || prunedAny || excludedMove || valuedUnmade) {
    if (cutIndex >= 0) {
      const int f = historyFactorFor(cutIndex, depth);
      if (pos.staticEval >= beta - HistoryBlameMargin)
        for (int i = 0; i < cutIndex; i++) punishQuiet(thread.history, side, quiets[i], f);
      rewardQuiet(thread.history, side, quiets[cutIndex], f);
    }
    if (!bestIsDraw) {
      if (bestValue < beta)
        storeTable(key, depth, bestValue, BoundUpper, 0, cutNode, ply);
      else
        storeTable(key, depth, bestValue, BoundLower, pv[0], cutNode, ply);
    }
    return bestValue;
  }
  const int v = inCheck ? ply - MateScore : 0;
  storeTable(key, depth, v, BoundExact | BoundTerminal, 0, cutNode, ply);
  return v;
}

int searchPV(Position& pos, int alpha, int beta, int depth, int ply, Move* pv) {
  pv[0] = 0;
  // Step 1. Entry: stop flag, reduction handshake, clock poll.
  if (stopped(pos)) return 0;
  pos.reductionMark = 0;
  if (pollClock(pos)) return 0;
  pos.staticEval = NoScore;
  if (ply >= MaxPly) return fullEval(pos);

  // Step 2. Mate-distance pruning.
  const int alphaIn = alpha;
  alpha = std::max(alpha, ply - MateScore);
  beta = std::min(beta, MateScore - 1 - ply);
  if (alpha >= beta) return alpha;

  const bool inCheck = pos.inCheck;

  // Step 3. Frontier: a depth-1 PV node searches one real ply when the
  // evaluation is close below beta, or near the window with something
  // hanging or an enemy pawn about to promote; otherwise quiescence.
  if (depth <= 0 || (depth == 1 && pos.frontierExtended)) return qsearch(pos, alpha, beta, 0, ply, pv);
  if (depth == 1) {
    bool deeper = inCheck;
    if (!inCheck) {
      const int eval = fullEval(pos);
      pos.staticEval = eval;
      if (eval >= beta - PvFrontierBand && eval < beta)
        deeper = true;
      else if (eval < alpha || eval > beta + PvFrontierBand)
        deeper = false;
      else
        deeper = opponentPawnOnSeventh(pos) || threatScan(pos) != 0;
    }
    if (!deeper) return qsearch(pos, alpha, beta, 0, ply, pv);
    pos.frontierExtended = 1;
    return searchPV(pos, alpha, beta, 2, ply, pv);
  }

  SearchThread& thread = threadOf(pos);
  const Key key = pos.key;

  // Step 4. Tablebase probe, as in the null-window nodes (before the table:
  // the table holds no better answer than the tablebases).
  if (int value; tablebaseAnswer(pos, depth, ply, value)) return value;

  // Step 5. Static evaluation, exact in PV nodes.
  if (!inCheck) pos.staticEval = fullEval(pos);
  const Position* grand = pos.previous ? pos.previous->previous : nullptr;
  const bool improving = ply < 2 || !grand || pos.staticEval >= grand->staticEval || grand->staticEval == NoScore;
  (void)improving;

  // Step 6. Transposition table: only a proven mate or stalemate ends a PV
  // node; otherwise the entry gives the move to try first.
  TableHit tt = probeTable(key, ply);
  if (tt.found && (tt.flags & BoundTerminal)) return tt.value;
  Move pickerTtMove = tt.move;

  // Step 7. Internal iterative deepening: without a trustworthy table move,
  // a shallower search of this node provides one.
  if (depth >= IidPvMinDepth && !(tt.move && tt.depth >= depth - IidPvTrustDepth)) {
    Move iidPv[PvLength];
    searchPV(pos, alpha, beta, depth - IidPvReduction, ply, iidPv);
    if (stopped(pos)) return 0;
    tt = probeTable(key, ply);
    pickerTtMove = iidPv[0] ? iidPv[0] : tt.move;
  }

  // Step 8. Move loop set-up.
  const int side = pos.sideToMove();
  const Move counter0 = pos.movedType && pos.lastMove ? *counterSlot(thread, pos, 0) : 0;
  const Move counter1 = pos.movedType && pos.lastMove ? *counterSlot(thread, pos, 1) : 0;
  KillerSlots& killers = thread.killers[ply];
  MovePicker picker(pos, inCheck ? PlanInCheck : PlanNormal, pickerTtMove,
                    inCheck ? killers.checkKiller : killers.killer1, inCheck ? killers.killer1 : killers.killer2,
                    counter0, counter1, depth);
  int bestValue = -NoScore;
  thread.killers[ply + 2].killer1 = thread.killers[ply + 2].killer2 = 0;
  const int drawValue = drawValueAt(ply);
  const Bitboard zone = passedZone(pos);

  QuietMove quiets[MaxMoves];
  int quietCount = 0, bestQuiet = -1;
  int moveCount = 0;
  bool bestIsDraw = false;
  Position child;
  Move childPv[PvLength];

  // Step 9. The moves, best first.
  for (Move m; (m = picker.next());) {
    // 9.1 Under-promotions are not searched at small depth.
    if (moveKind(m) >= KindPromoKnight && depth < UnderPromotionDepthPV) continue;

    // 9.2 Late-move and SEE pruning of PV nodes: after the first move, at
    // small depth, late plain quiet moves and losing moves are skipped.
    if (moveCount > 0 && !inCheck) {
      const bool capture = moveKind(m) != KindCastle && pos.board[moveTo(m)] != 0;
      if (depth < 4 && picker.stage != StageQuietChecks && !capture && m != killers.killer1 && m != killers.killer2 &&
          m != counter0 && moveCount > 9 && moveKind(m) <= KindDouble && !isAdvancedPawnMove(pos, m) && !givesCheck(pos, m))
        continue;
      if (depth / 2 < 2 && !exposesOwnKing(pos, m) && losesMaterial(pos, m)) continue;
    }

    // 9.3 Make the move.
    const bool quiet = isQuietMove(pos, m);
    const int stage = picker.stage;
    if (!makeMove(pos, child, m)) continue;
    moveCount++;
    if (quiet && !inCheck && quietCount < MaxMoves) quiets[quietCount++] = {(int8_t)child.movedType, (int8_t)moveTo(m)};

    int v;
    bool isDraw = false;
    childPv[0] = 0;
    // 9.4 A quiet move that repeats or reaches the fifty-move limit is a draw.
    if (quiet && isDrawChild(child)) {
      v = drawValue;
      isDraw = true;
    } else {
      child.inCheck = kingAttacked(child, other(side));

      // 9.5 Extensions: checks (given or escaped), passed pawns late in the
      // game, good captures; the pawn ending rule overrides them all.
      int ext = (inCheck ? 1 : 0) + (child.inCheck ? 1 : 0);
      if (pos.phase < 25 && isPassedPush(pos, m, zone)) ext++;
      if (stage == StageGoodCaptures) ext++;
      // Singular extension of the table move: one ply more when the other
      // moves all fail clearly below its score.
      if (ext <= 1 && m == pickerTtMove && !inCheck && tt.value >= -3899 && tt.value <= 3898 &&
          (!tt.move || (tt.found && tt.depth >= depth - 10)) && depth > 13) {
        const int sBeta = tt.value - (3 * depth) / 8;
        const int savedEval = pos.staticEval;
        Move singularPv[PvLength];
        const int sv = searchNonPV(pos, sBeta, depth - 10, ply, singularPv, m, true, false);
        if (stopped(pos)) return 0;
        pos.staticEval = savedEval;
        if (sv < sBeta) ext += 1;
      }
      ext = std::min(ext, 2);
      if (child.phase == 0 && child.capturedType > Pawn) ext = 4;

      // 9.6 Search: the first move with the full window, later ones with a
      // null-window scout first, late quiet ones even reduced; a move that
      // fails low there is done.
      const int newDepth = depth + ext - 2;
      if (moveCount == 1) {
        v = -searchPV(child, -beta, -alpha, newDepth, ply + 1, childPv);
      } else {
        const int history = thread.history.v[side][child.movedType][moveTo(m)];
        int r = reductionPV[improving][std::min(depth, 63)][std::min(moveCount, 63)];
        bool reduce = r > 0 && !inCheck && !child.inCheck && stage != StageGoodCaptures && m != killers.killer1 &&
                      m != killers.killer2 && newDepth + 2 > 5 && quiet && m != counter0 && settings::useLmr;
        if (m == counter1) r -= 2;
        if (reduce && isPassedPush(pos, m, zone)) {
          r -= 2;
          reduce = r > 1;
        }
        if (pos.phase > 48 && reduce && depth <= 15 && typeOfCode(pos.board[moveFrom(m)]) != King &&
            pieceEnPrise(pos, m) && !losesMaterial(pos, m))
          r -= 2;
        if (newDepth + 2 >= 14 && (history < historyThreshold[std::min(moveCount, 399)] || stage == StageBadMoves)) r += 1;
        if (history > HistoryGood) r -= 2;
        bool done = false;
        if (r > 1 && reduce) {
          pos.reductionMark = (uint8_t)r;
          v = -searchNonPV(child, -alpha, newDepth - r, ply + 1, childPv, 0, false, true);
          pos.reductionMark = 0;
          if (stopped(pos)) return 0;
          if (v >= beta && r > 7) {
            pos.reductionMark = 4;
            v = -searchNonPV(child, -alpha, newDepth - 4, ply + 1, childPv, 0, false, true);
            pos.reductionMark = 0;
            if (stopped(pos)) return 0;
          }
          done = v <= alpha;
        }
        if (!done) {
          v = -searchNonPV(child, -alpha, newDepth, ply + 1, childPv, 0, false, true);
          if (v > alpha && !stopped(pos)) v = -searchPV(child, -beta, -alpha, newDepth, ply + 1, childPv);
        }
      }
      if (stopped(pos)) return 0;
    }

    // 9.7 Keep the best move and its line.
    if (v <= bestValue) continue;
    if (v > alpha) {
      if (quiet && !inCheck) bestQuiet = quietCount - 1;
      buildPv(pv, m, childPv);
      alpha = v;
      if (!isDraw && v < beta) storeTable(key, depth, v, BoundLower, m, 0, ply);
    }
    bestValue = v;
    bestIsDraw = isDraw;
    if (v >= beta) {
      if (inCheck) killers.checkKiller = m;
      if (quiet && !inCheck) {
        updateCounterMoves(thread, pos, m);
        updateKillers(killers, m);
      }
      break;
    }
  }

  // Step 10. Result, history and table store.
  if (stopped(pos)) return 0;
  if (bestQuiet >= 0) {
    const int f = historyFactorFor(bestQuiet, depth);
    for (int i = 0; i < quietCount; i++)
      if (i != bestQuiet) punishQuiet(thread.history, side, quiets[i], f);
    rewardQuiet(thread.history, side, quiets[bestQuiet], f);
  }
  if (moveCount == 0) {
    const int v = inCheck ? ply - MateScore : 0;
    storeTable(key, depth, v, BoundExact | BoundTerminal, 0, 0, ply);
    return v;
  }
  if (bestIsDraw) return bestValue;
  if (bestValue > alphaIn)
    storeTable(key, depth, bestValue, bestValue >= beta ? BoundLower : BoundExact, pv[0], 0, ply);
  else
    storeTable(key, depth, bestValue, BoundUpper, 0, 0, ply);
  return bestValue;
}
