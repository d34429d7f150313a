// The perft walk: every legal move to a fixed depth, counting the leaves.
//
// Inner nodes make every pseudo-legal move with the same make-move legality
// test as the search.  The last ply is counted without making the moves:
// checkers and pins are computed once, and whole target sets are counted at
// a time.  En passant and castling, whose legality has exceptions of their
// own (a rank pin through two pawns, Chess960 rooks shielding the king), are
// still tested by making them.

#include "board/movegen.h"

namespace {

constexpr Bitboard LastRanks = 0xFF000000000000FFull;

// Whether square s is attacked by colour `by` with the given occupancy
// (the moving king taken off the board for king moves).
inline bool attackedWith(const Position& pos, int by, Square s, Bitboard occ) {
  const Bitboard* enemy = pos.pieces[by];
  return (knightAttacks[s] & enemy[Knight]) || (kingAttacks[s] & enemy[King]) ||
         (pawnAttacks[other(by)][s] & enemy[Pawn]) ||
         (bishopAttacks(s, occ) & (enemy[Bishop] | enemy[Queen])) ||
         (rookAttacks(s, occ) & (enemy[Rook] | enemy[Queen]));
}

// Pawn moves of the pawns in `pawns` onto `targets` (captures) and
// `pushTargets` (empty squares), promotions counted four times.
template <int Bits(Bitboard)>
inline uint64_t pawnMoveCount(const Position& pos, int c, Bitboard pawns, Bitboard targets, Bitboard pushTargets) {
  const Bitboard empty = ~pos.occupied;
  const Bitboard single = shiftUp(c, pawns) & empty;
  const Bitboard thirdRank = c == White ? 0x0000000000FF0000ull : 0x0000FF0000000000ull;
  const Bitboard pushes = single & pushTargets;
  const Bitboard doubles = shiftUp(c, single & thirdRank) & empty & pushTargets;
  const Bitboard captures = (c == White ? (pawns << 7) & notFileH : (pawns >> 9) & notFileH) & targets;
  const Bitboard captures2 = (c == White ? (pawns << 9) & notFileA : (pawns >> 7) & notFileA) & targets;
  return Bits(pushes & ~LastRanks) + 4 * Bits(pushes & LastRanks) + Bits(doubles) + Bits(captures & ~LastRanks) +
         4 * Bits(captures & LastRanks) + Bits(captures2 & ~LastRanks) + 4 * Bits(captures2 & LastRanks);
}

// Legal moves of the special kinds, each tested by making it.
uint64_t specialMoveCount(const Position& pos, bool inCheck) {
  uint64_t count = 0;
  Position child;
  int list[4];
  int n = 0;
  const int c = pos.sideToMove();
  if (pos.enPassant) {
    const Square ep = lsb(pos.enPassant);
    for (Bitboard b = pawnAttacksBB(other(c), pos.enPassant) & pos.pieces[c][Pawn]; b; b &= b - 1)
      list[n++] = makeMove16(lsb(b), ep, KindEnPassant);
  }
  if (!inCheck) n += generateCastling(pos, c, list + n);
  for (int i = 0; i < n; i++) count += makeMoveNoPrefetch(pos, child, entryMove(list[i]));
  return count;
}

// Number of legal moves of pos, without making the ordinary ones.
template <int Bits(Bitboard)>
uint64_t legalMoveCount(const Position& pos) {
  const int us = pos.sideToMove(), them = other(us);
  const Bitboard* own = pos.pieces[us];
  const Bitboard* enemy = pos.pieces[them];
  const Bitboard occ = pos.occupied;
  const Square k = pos.kingSquare(us);
  const Bitboard diagonal = enemy[Bishop] | enemy[Queen], straight = enemy[Rook] | enemy[Queen];

  // King moves: each destination tested with the king off the board, so
  // that a slider's line through the king's square still counts.
  uint64_t count = 0;
  const Bitboard withoutKing = occ ^ own[King];
  for (Bitboard t = kingAttacks[k] & ~own[0]; t; t &= t - 1) count += !attackedWith(pos, them, lsb(t), withoutKing);

  const Bitboard checkers = (knightAttacks[k] & enemy[Knight]) | (pawnAttacks[us][k] & enemy[Pawn]) |
                            (bishopAttacks(k, occ) & diagonal) | (rookAttacks(k, occ) & straight);
  if (moreThanOne(checkers)) return count;
  // In check, other pieces must capture the checker or block its line.
  const Bitboard allowed = checkers ? between[k][lsb(checkers)] | checkers : ~0ull;
  const Bitboard targets = ~own[0] & allowed;

  // Pins: a lone own piece between the king and an enemy slider may move
  // only along that line (the pinner included); in check it cannot help.
  Bitboard pinned = 0;
  for (Bitboard snipers = (bishopLines[k] & diagonal) | (rookLines[k] & straight); snipers; snipers &= snipers - 1) {
    const Square s = lsb(snipers);
    const Bitboard inBetween = between[k][s] & occ;
    if (!inBetween || moreThanOne(inBetween) || !(inBetween & own[0])) continue;
    pinned |= inBetween;
    if (checkers) continue;
    const Square p = lsb(inBetween);
    const Bitboard line = between[k][s] | squareBB[s];
    switch (pos.board[p] & 7) {
      case Pawn:
        count += pawnMoveCount<Bits>(pos, us, inBetween, enemy[0] & line, line);
        break;
      case Bishop:
        count += Bits(bishopAttacks(p, occ) & line);
        break;
      case Rook:
        count += Bits(rookAttacks(p, occ) & line);
        break;
      case Queen:
        count += Bits(queenAttacks(p, occ) & line);
        break;
      default:  // a pinned knight never moves
        break;
    }
  }

  const Bitboard free = own[0] & ~pinned;
  count += pawnMoveCount<Bits>(pos, us, own[Pawn] & free, enemy[0] & allowed, allowed);
  for (Bitboard b = own[Knight] & free; b; b &= b - 1) count += Bits(knightAttacks[lsb(b)] & targets);
  for (Bitboard b = (own[Bishop] | own[Queen]) & free; b; b &= b - 1) count += Bits(bishopAttacks(lsb(b), occ) & targets);
  for (Bitboard b = (own[Rook] | own[Queen]) & free; b; b &= b - 1) count += Bits(rookAttacks(lsb(b), occ) & targets);
  return count + specialMoveCount(pos, checkers != 0);
}

int bitsSoft(Bitboard b) { return popcountSoft(b); }
ORVANE_TARGET_POPCNT int bitsHard(Bitboard b) { return __builtin_popcountll(b); }

// The walk, built once per way of counting bits.
template <int Bits(Bitboard)>
uint64_t perftWith(const Position& pos, int depth) {
  if (depth <= 0) return 1;
  if (depth == 1) return legalMoveCount<Bits>(pos);
  int list[MaxMoves];
  const int n = generateAll(pos, list);
  uint64_t total = 0;
  Position child;
  for (int i = 0; i < n; i++) {
    if (!makeMoveNoPrefetch(pos, child, entryMove(list[i]))) continue;
    child.inCheck = kingAttacked(child, child.sideToMove());
    total += perftWith<Bits>(child, depth - 1);
  }
  return total;
}

ORVANE_TARGET_POPCNT uint64_t perftHard(const Position& pos, int depth) {
  return perftWith<bitsHard>(pos, depth);
}

}  // namespace

uint64_t perft(const Position& pos, int depth) {
  return hasPopcnt ? perftHard(pos, depth) : perftWith<bitsSoft>(pos, depth);
}
