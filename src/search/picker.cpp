#include "search/picker.h"

#include <algorithm>

#include "board/movegen.h"

const int pickerPlans[PlanCount][PlanLength] = {
    {1, 2, 3, 4, 5, 6, 7, 11, 12},
    {1, 2, 9, 11, 12},
    {1, 2, 9, 12},
    {1, 2, 12},
    {1, 8, 11, 12},
    {1, 2, 9, 10, 12},
    {1, 2, 9, 10, 11, 12},
    {1, 14, 12},
    {1, 14, 13, 15, 12},
    {1, 14, 13, 15, 11, 12},
    {1, 14, 13, 12},
};

namespace {

// Piece values of the different exchange estimates, by type (0 = none).
constexpr int seeSignValue[7] = {0, 2, 7, 7, 11, 21, 999};
constexpr int enPriseValue[7] = {0, 1, 3, 3, 5, 9, 999};
constexpr int exchangeFirstValue[7] = {0, 1, 3, 3, 5, 9, 999};
constexpr int exchangeLaterValue[7] = {0, 1, 3, 3, 5, 10, 999};
constexpr int squareLossValue[7] = {0, 2, 6, 7, 10, 19, 999};

constexpr int KnightCheckBonus = 99;  // quiet checks by knights are tried first

constexpr Bitboard rankBB(int r) { return rank1BB << (8 * r); }
// Rank of colour c's relative rank r.
constexpr Bitboard relativeRankBB(int c, int r) { return rankBB(c == White ? r : 7 - r); }
constexpr int pawnStep(int c) { return c == White ? 8 : -8; }

inline int historyScore(const Position& pos, int c, int type, Square to) {
  return pos.historyTable ? pos.historyTable->v[c][type][to] : 0;
}

// Attackers of colour c on square s through occ, by piece type (entries
// Pawn..King; only pieces in occ).  A slider lookup is skipped when no piece
// that uses it is left.
inline void findAttackers(const Position& pos, int c, Square s, Bitboard occ, Bitboard* byType) {
  const Bitboard* own = pos.pieces[c];
  const Bitboard bq = (own[Bishop] | own[Queen]) & occ, rq = (own[Rook] | own[Queen]) & occ;
  const Bitboard diagonal = bq ? bishopAttacks(s, occ) : 0, straight = rq ? rookAttacks(s, occ) : 0;
  byType[Pawn] = own[Pawn] & occ & pawnAttacks[other(c)][s];
  byType[Knight] = own[Knight] & occ & knightAttacks[s];
  byType[Bishop] = own[Bishop] & occ & diagonal;
  byType[Rook] = own[Rook] & occ & straight;
  byType[Queen] = own[Queen] & occ & (diagonal | straight);
  byType[King] = own[King] & occ & kingAttacks[s];
}

// Least valuable attacker of colour c on s through occ; returns its square
// (or -1) and its type in *type.
Square leastAttacker(const Position& pos, int c, Square s, Bitboard occ, int* type) {
  Bitboard byType[7];
  findAttackers(pos, c, s, occ, byType);
  for (int t = Pawn; t <= King; ++t)
    if (byType[t]) {
      *type = t;
      return lsb(byType[t]);
    }
  return -1;
}

// Whether king square k is attacked through occ by the sliders in bq / rq.
inline bool slidersHit(Square k, Bitboard occ, Bitboard bq, Bitboard rq) {
  return (bishopAttacks(k, occ) & bq) || (rookAttacks(k, occ) & rq);
}

// Swap-list evaluation: gain[0] is the first capture's gain; later entries
// alternate sides, each side free to stop.  Returns the first side's result.
int resolveSwap(int* gain, int d) {
  for (; d > 0; --d) gain[d - 1] = -std::max(-gain[d - 1], gain[d]);
  return gain[0];
}

// Continues a swap on s: side c captures next, the piece standing on s is
// worth pieceValue, later captures valued by exchangeLaterValue.
int swapOn(const Position& pos, Square s, int c, Bitboard occ, int* gain, int pieceValue) {
  int d = 0;
  while (d < 31) {
    int type;
    Square a = leastAttacker(pos, c, s, occ, &type);
    if (a < 0) break;
    ++d;
    gain[d] = pieceValue - gain[d - 1];
    pieceValue = exchangeLaterValue[type];
    occ ^= squareBB[a];
    c = other(c);
  }
  return d;
}

void addTargets(int*& out, Square from, Bitboard targets, int kind = KindNormal) {
  while (targets) out++[0] = makeMove16(from, popLsb(targets), kind);
}

// Quiet moves of a piece that blocks one of our sliders from the enemy
// king; moving it off the line uncovers the check.  A pawn's pushes are all
// listed, those along the line too.
void addDiscoveringMoves(const Position& pos, int*& out, Square from, Bitboard line) {
  const int us = pos.sideToMove();
  const Bitboard empty = ~pos.occupied;
  switch (typeOfCode(pos.board[from])) {
    case Pawn: {
      // Every push, also along the line (the search tests the child).
      Square to = from + pawnStep(us);
      if (!(squareBB[to] & empty) || relativeRank(us, to) == 7) break;
      out++[0] = makeMove16(from, to);
      Square to2 = to + pawnStep(us);
      if (relativeRank(us, from) == 1 && (squareBB[to2] & empty)) out++[0] = makeMove16(from, to2, KindDouble);
      break;
    }
    case Knight: addTargets(out, from, knightAttacks[from] & empty & ~line); break;
    case Bishop: addTargets(out, from, bishopAttacks(from, pos.occupied) & empty & ~line); break;
    case Rook: addTargets(out, from, rookAttacks(from, pos.occupied) & empty & ~line); break;
    case King: addTargets(out, from, kingAttacks[from] & empty & ~line); break;
    default: break;
  }
}

}  // namespace

void sortMoves(int* list, int count) {
  // An entry is its score times 65536 plus a 16-bit move, so comparing a
  // whole entry with a bare score compares the scores.  An entry scoring
  // above the first goes to the front at once; the others stop at the first
  // entry scoring at least as much, which the front entry guarantees.
  for (int i = 1; i < count; ++i) {
    const int x = list[i];
    const int key = (int)((unsigned)x & 0xFFFF0000u);
    int* p = list + i;
    if (list[0] < key) {
      for (; p > list; --p) p[0] = p[-1];
    } else {
      for (; p[-1] < key; --p) p[0] = p[-1];
    }
    p[0] = x;
  }
}

// A move loses material when the opponent's cheapest recapture (ignoring
// pinned pieces) leaves us behind, following the exchange only as long as
// the outcome is in doubt.
bool losesMaterial(const Position& pos, Move m) {
  if (moveKind(m) == KindEnPassant) return false;
  const Square from = moveFrom(m), to = moveTo(m);
  const int moverType = typeOfCode(pos.board[from]);
  if (moverType == King) return false;
  int moverValue = seeSignValue[moverType];
  int victimValue = seeSignValue[typeOfCode(pos.board[to])];
  if (victimValue >= moverValue) return false;

  const int us = pos.sideToMove(), them = other(us);
  Bitboard occ = pos.occupied & ~squareBB[from] & ~squareBB[to];
  const Bitboard theirKing = pos.pieces[them][King];
  const Square ksq = theirKing ? lsb(theirKing) : -1;
  const Bitboard ourBQ = pos.pieces[us][Bishop] | pos.pieces[us][Queen];
  const Bitboard ourRQ = pos.pieces[us][Rook] | pos.pieces[us][Queen];
  // Only a slider of ours on one of their king's lines can pin a recapturer.
  const bool kingLined = ksq >= 0 && ((bishopLines[ksq] & ourBQ) || (rookLines[ksq] & ourRQ));

  for (;;) {
    // Opponent's cheapest attacker that is free to leave its square.
    Square attacker = -1;
    int attackerType = 0;
    Bitboard byType[7];
    findAttackers(pos, them, to, occ, byType);
    for (int t = Pawn; t <= King && attacker < 0; ++t) {
      Bitboard a = byType[t];
      while (a) {
        Square s = popLsb(a);
        if (t != King && kingLined) {
          Bitboard after = (occ ^ squareBB[s]) | squareBB[to];
          Bitboard live = occ & ~squareBB[to];
          if (slidersHit(ksq, after, ourBQ & live, ourRQ & live)) continue;
        }
        attacker = s;
        attackerType = t;
        break;
      }
    }
    if (attacker < 0) return false;
    int balance = victimValue - moverValue;
    if (balance < -100) return true;
    int balance2 = balance + seeSignValue[attackerType];
    if (balance2 < 0) return true;
    occ ^= squareBB[attacker];
    if (!(occ & pos.pieces[us][AllPieces])) return true;
    int defenderType;
    Square defender = leastAttacker(pos, us, to, occ, &defenderType);
    if (defender < 0) return true;
    if (balance2 > 100) return false;
    occ ^= squareBB[defender];
    moverValue = seeSignValue[defenderType];
    victimValue = balance2;
  }
}

// Direct check by the moved (or promoted, or castling) piece, or a
// discovered check by a slider uncovered by the vacated squares.
bool givesCheck(const Position& pos, Move m) {
  const int us = pos.sideToMove(), them = other(us);
  if (!pos.pieces[them][King]) return false;
  const Square ksq = lsb(pos.pieces[them][King]);
  const Bitboard kbb = squareBB[ksq];
  const Square from = moveFrom(m), to = moveTo(m);
  const int kind = moveKind(m);
  Bitboard bq = pos.pieces[us][Bishop] | pos.pieces[us][Queen];
  Bitboard rq = pos.pieces[us][Rook] | pos.pieces[us][Queen];

  if (kind == KindCastle) {
    const bool kingSide = to > from;
    const Square kingTo = makeSquare(kingSide ? 6 : 2, rankOf(from));
    const Square rookTo = makeSquare(kingSide ? 5 : 3, rankOf(from));
    Bitboard occ = (pos.occupied ^ squareBB[from] ^ squareBB[to]) | squareBB[kingTo] | squareBB[rookTo];
    if (rookAttacks(rookTo, occ) & kbb) return true;
    return slidersHit(ksq, occ, bq, rq & ~squareBB[to]);
  }
  if (kind == KindEnPassant) {
    const Square captured = makeSquare(fileOf(to), rankOf(from));
    Bitboard occ = (pos.occupied ^ squareBB[from] ^ squareBB[captured]) | squareBB[to];
    if (pawnAttacks[us][to] & kbb) return true;
    return slidersHit(ksq, occ, bq, rq);
  }

  const int type = isPromotion(m) ? promotionType(m) : typeOfCode(pos.board[from]);
  const Bitboard occ = (pos.occupied ^ squareBB[from]) | squareBB[to];
  // A slider can check only from one of the king's own lines: the others
  // need no lookup.
  const bool diagonalTo = bishopLines[ksq] & squareBB[to], straightTo = rookLines[ksq] & squareBB[to];
  Bitboard attacks = 0;
  switch (type) {
    case Pawn: attacks = pawnAttacks[us][to]; break;
    case Knight: attacks = knightAttacks[to]; break;
    case Bishop: attacks = diagonalTo ? bishopAttacks(to, occ) : 0; break;
    case Rook: attacks = straightTo ? rookAttacks(to, occ) : 0; break;
    case Queen: attacks = diagonalTo ? bishopAttacks(to, occ) : straightTo ? rookAttacks(to, occ) : 0; break;
    case King: attacks = kingAttacks[to]; break;
  }
  if (attacks & kbb) return true;
  // Before the move none of our sliders reaches the enemy king (the position
  // is legal), so only a piece leaving one of the king's lines can uncover a
  // check, and only along that line.
  const Bitboard fromBB = squareBB[from];
  if ((bishopLines[ksq] & fromBB) && (bishopAttacks(ksq, occ) & bq & ~fromBB)) return true;
  return (rookLines[ksq] & fromBB) && (rookAttacks(ksq, occ) & rq & ~fromBB);
}

// A piece pinned to its king may only move along the pin line.
bool exposesOwnKing(const Position& pos, Move m) {
  const int us = pos.sideToMove(), them = other(us);
  if (!pos.pieces[us][King]) return false;
  const Square k = lsb(pos.pieces[us][King]);
  const Square from = moveFrom(m), to = moveTo(m);
  const Bitboard occ = (pos.occupied ^ squareBB[from]) | squareBB[to];
  Bitboard attackers = 0;
  if (bishopLines[k] & squareBB[from])
    attackers = bishopAttacks(k, occ) & (pos.pieces[them][Bishop] | pos.pieces[them][Queen]);
  else if (rookLines[k] & squareBB[from])
    attackers = rookAttacks(k, occ) & (pos.pieces[them][Rook] | pos.pieces[them][Queen]);
  attackers &= ~squareBB[to];
  while (attackers) {
    Square a = popLsb(attackers);
    if ((between[k][a] & squareBB[from]) && !(between[k][a] & squareBB[to])) return true;
  }
  return false;
}

// Exchange on the from-square with the opponent capturing first; each side
// stops as soon as the balance says it should.
bool pieceEnPrise(const Position& pos, Move m) {
  const Square s = moveFrom(m);
  int side = other(pos.sideToMove());
  Bitboard occ = pos.occupied ^ squareBB[s];
  int onSquare = enPriseValue[typeOfCode(pos.board[s])];
  int balance = 0;  // side-to-move view
  for (;;) {
    int type;
    Square a = leastAttacker(pos, side, s, occ, &type);
    if (side != pos.sideToMove()) {
      if (a < 0) return false;
      balance -= onSquare;
      if (balance < -50) return true;
      if (balance >= 0) return false;
    } else {
      if (a < 0) return true;
      balance += onSquare;
      if (balance > 50) return false;
      if (balance < 0) return true;
    }
    onSquare = enPriseValue[type];
    occ ^= squareBB[a];
    side = other(side);
  }
}

int opponentExchangeValue(const Position& pos, Move m) {
  const int kind = moveKind(m);
  if (kind == KindEnPassant || kind == KindCastle || kind == KindPromoRook || kind == KindPromoBishop) return 0;
  const Square from = moveFrom(m), to = moveTo(m);
  int gain[32];
  gain[0] = exchangeFirstValue[typeOfCode(pos.board[to])];
  int d = swapOn(pos, to, pos.sideToMove(), pos.occupied ^ squareBB[from], gain,
                 exchangeFirstValue[typeOfCode(pos.board[from])]);
  return resolveSwap(gain, d);
}

int squareExchangeLoss(const Position& pos, Square s) {
  const int them = other(pos.sideToMove());
  int type;
  Square a = leastAttacker(pos, them, s, pos.occupied, &type);
  if (a < 0) return 0;
  int gain[32];
  gain[0] = squareLossValue[typeOfCode(pos.board[s])];
  int d = swapOn(pos, s, pos.sideToMove(), pos.occupied ^ squareBB[a], gain, exchangeLaterValue[type]);
  return -std::max(0, resolveSwap(gain, d));
}

int generateQuietChecks(const Position& pos, int* list) {
  const int us = pos.sideToMove(), them = other(us);
  if (!pos.pieces[them][King]) return 0;
  const Square ksq = lsb(pos.pieces[them][King]);
  const Bitboard occ = pos.occupied, empty = ~occ;
  int* out = list;
  Bitboard blockers = 0;

  // Discovered checks: one own piece between an own slider and the king.
  for (int diagonal = 1; diagonal >= 0; --diagonal) {
    Bitboard sliders = diagonal ? (pos.pieces[us][Bishop] | pos.pieces[us][Queen]) & bishopLines[ksq]
                                : (pos.pieces[us][Rook] | pos.pieces[us][Queen]) & rookLines[ksq];
    while (sliders) {
      Square s = popLsb(sliders);
      Bitboard inBetween = between[s][ksq] & occ;
      if (!inBetween || moreThanOne(inBetween) || !(inBetween & pos.pieces[us][AllPieces])) continue;
      Square b = lsb(inBetween);
      int type = typeOfCode(pos.board[b]);
      if (type == Queen || type == (diagonal ? Bishop : Rook)) continue;
      addDiscoveringMoves(pos, out, b, between[s][ksq]);
      blockers |= squareBB[b];
    }
  }

  // Direct checks by the remaining pieces.
  const Bitboard pawnTargets = pawnAttacks[them][ksq] & empty & ~relativeRankBB(us, 7);
  Bitboard pawns = pos.pieces[us][Pawn] & ~blockers;
  Bitboard single = shiftUp(us, pawns) & empty;
  Bitboard targets = single & pawnTargets;
  while (targets) {
    Square to = popLsb(targets);
    out++[0] = makeMove16(to - pawnStep(us), to);
  }
  targets = shiftUp(us, single & relativeRankBB(us, 2)) & empty & pawnTargets;
  while (targets) {
    Square to = popLsb(targets);
    out++[0] = makeMove16(to - 2 * pawnStep(us), to, KindDouble);
  }
  Bitboard pieces = pos.pieces[us][Knight] & ~blockers;
  while (pieces) {
    Square from = popLsb(pieces);
    addTargets(out, from, knightAttacks[from] & knightAttacks[ksq] & empty);
  }
  const Bitboard diagonalChecks = bishopAttacks(ksq, occ) & empty;
  const Bitboard lineChecks = rookAttacks(ksq, occ) & empty;
  pieces = pos.pieces[us][Bishop] & ~blockers;
  while (pieces) {
    Square from = popLsb(pieces);
    addTargets(out, from, bishopAttacks(from, occ) & diagonalChecks);
  }
  pieces = pos.pieces[us][Rook] & ~blockers;
  while (pieces) {
    Square from = popLsb(pieces);
    addTargets(out, from, rookAttacks(from, occ) & lineChecks);
  }
  pieces = pos.pieces[us][Queen] & ~blockers;
  while (pieces) {
    Square from = popLsb(pieces);
    addTargets(out, from, queenAttacks(from, occ) & (diagonalChecks | lineChecks));
  }
  return (int)(out - list);
}

int generateAdvancedPushes(const Position& pos, int* list) {
  const int us = pos.sideToMove();
  const Bitboard empty = ~pos.occupied;
  // Destination empty and the square beyond it empty as well.
  Bitboard targets = shiftUp(us, pos.pieces[us][Pawn]) & empty & shiftUp(other(us), empty) &
                     (relativeRankBB(us, 5) | relativeRankBB(us, 6));
  int n = 0;
  while (targets) {
    Square to = popLsb(targets);
    list[n++] = makeMove16(to - pawnStep(us), to);
  }
  return n;
}

int generateQuiets(const Position& pos, int* list) {
  const int us = pos.sideToMove();
  const Bitboard occ = pos.occupied, empty = ~occ;
  int n = generateCastling(pos, us, list);

  Bitboard targets = shiftUp(us, pos.pieces[us][Pawn] & ~relativeRankBB(us, 6)) & empty;
  while (targets) {
    Square to = popLsb(targets);
    list[n++] = makeEntry(makeMove16(to - pawnStep(us), to), historyScore(pos, us, Pawn, to));
  }
  for (int type = Knight; type <= King; ++type) {
    Bitboard pieces = pos.pieces[us][type];
    while (pieces) {
      Square from = popLsb(pieces);
      Bitboard to = type == Knight   ? knightAttacks[from]
                    : type == Bishop ? bishopAttacks(from, occ)
                    : type == Rook   ? rookAttacks(from, occ)
                    : type == Queen  ? queenAttacks(from, occ)
                                     : kingAttacks[from];
      to &= empty;
      while (to) {
        Square s = popLsb(to);
        list[n++] = makeEntry(makeMove16(from, s), historyScore(pos, us, type, s));
      }
    }
  }
  n += generateDoublePushes(pos, us, list + n);
  return n;
}

MovePicker::MovePicker(const Position& p, int planIndex, Move tt, Move k1, Move k2, Move c1, Move c2, int d)
    : pos(&p),
      plan(planIndex),
      stageIndex(0),
      stage(0),
      count(0),
      index(0),
      list(moves),
      ttMove(tt),
      killer1(k1),
      killer2(k2),
      counter1(c1),
      counter2(c2),
      depth(d),
      deferLosing(false),
      checkListEnd(0),
      badCount(0),
      returnedCount(0) {}

bool MovePicker::alreadyReturned(Move m) const {
  for (int i = 0; i < returnedCount; ++i)
    if (returned[i] == m) return true;
  return false;
}

// A killer or counter move is handed out on its own only while it is a
// pseudo-legal quiet move here; as a capture it belongs to the capture stage,
// which has already run.
Move MovePicker::singleMove(Move m) {
  if (!m || alreadyReturned(m)) return 0;
  const int kind = moveKind(m);
  if (kind != KindCastle && (pos->board[moveTo(m)] || kind == KindEnPassant || isPromotion(m))) return 0;
  if (!isPseudoLegal(*pos, m)) return 0;
  returned[returnedCount++] = m;
  return m;
}

// Generates, scores and sorts the list of a list stage.
void MovePicker::runListStage() {
  const Position& p = *pos;
  const int us = p.sideToMove();
  int keepChecks = 0;
  switch (stage) {
    case StageGoodCaptures:
    case StageQCaptures:
      count = generateCaptures(p, moves);
      sortMoves(moves, count);
      deferLosing = stage == StageGoodCaptures;
      break;
    case StageQuiets:
      count = generateQuiets(p, moves);
      sortMoves(moves, count);
      deferLosing = depth > 11;
      break;
    case StageEvasions:
      count = generateEvasions(p, moves);
      for (int i = 0; i < count; ++i) {
        const Move m = moves[i] & 0xFFFF;
        const Square from = moveFrom(m), to = moveTo(m);
        const int attacker = typeOfCode(p.board[from]);
        int score;
        if (moveKind(m) == KindEnPassant)
          score = 30000;
        else if (isPromotion(m))
          score = 31000;
        else if (p.board[to])
          score = 2 * (15000 + 8 * typeOfCode(p.board[to]) - attacker);
        else if (m == killer1)
          score = 29000;
        else if (m == killer2)
          score = 28000;
        else
          score = historyScore(p, us, attacker, to) >> 1;
        moves[i] = makeEntry(m, score);
      }
      sortMoves(moves, count);
      deferLosing = true;
      break;
    case StageQuietChecks:
    case StageQChecks:
      count = generateQuietChecks(p, moves);
      for (int i = 0; i < count; ++i)
        if (typeOfCode(p.board[moveFrom(moves[i])]) == Knight) moves[i] = makeEntry(moves[i], KnightCheckBonus);
      sortMoves(moves, count);
      keepChecks = count;  // the push stage below skips moves listed here
      deferLosing = stage == StageQuietChecks;
      break;
    case StageAdvancedPushes:
    case StageQPushes: {
      // A push that was already listed as a quiet check is not repeated.
      int* pushes = moves + checkListEnd;
      int n = generateAdvancedPushes(p, pushes);
      count = 0;
      for (int i = 0; i < n; ++i) {
        bool listed = false;
        for (int j = 0; j < checkListEnd && !listed; ++j) listed = (moves[j] & 0xFFFF) == pushes[i];
        if (!listed) pushes[count++] = pushes[i];
      }
      list = pushes;
      deferLosing = stage == StageAdvancedPushes;
      break;
    }
    default: break;
  }
  checkListEnd = keepChecks;
}

Move MovePicker::next() {
  for (;;) {
    while (index < count) {
      const Move m = list[index++] & 0xFFFF;
      if (alreadyReturned(m)) continue;
      if (deferLosing && moveKind(m) != KindEnPassant && badCount < BadRoom && losesMaterial(*pos, m)) {
        bad[badCount++] = m;
        continue;
      }
      return m;
    }
    count = index = 0;
    list = moves;
    stage = pickerPlans[plan][stageIndex];
    if (stage == StageEnd) return 0;
    ++stageIndex;
    switch (stage) {
      case StageTableMove:
        if (ttMove && isPseudoLegal(*pos, ttMove)) {
          returned[returnedCount++] = ttMove;
          return ttMove;
        }
        break;
      case StageKiller1:
        if (singleMove(killer1)) return killer1;
        break;
      case StageKiller2:
        if (singleMove(killer2)) return killer2;
        break;
      case StageCounter1:
        if (singleMove(counter1)) return counter1;
        break;
      case StageCounter2:
        if (singleMove(counter2)) return counter2;
        break;
      case StageBadMoves:
        list = bad;
        count = badCount;
        deferLosing = false;
        break;
      default:
        runListStage();
        break;
    }
  }
}
