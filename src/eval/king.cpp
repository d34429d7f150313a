// King safety and the static exchange test.

#include "eval/king.h"

#include "eval/evalbits.h"
#include "eval/tables.h"

using namespace evalbits;

namespace {

// Queen checks stop adding up beyond this many units.
constexpr int QueenCheckCap = 25;

// Exchange values by piece type (empty, pawn .. king).
constexpr int ExchangeValue[8] = {0, 1, 3, 3, 5, 9, 999, 0};

}  // namespace

int kingAttackUnits(const Position& pos, const PawnEntry& entry, const EvalScratch& s, int c) {
  const int them = other(c);
  const Bitboard ownPawns = pos.pieces[c][Pawn];
  const Bitboard files = kingFiles(pos.kingSquare(them));
  // Storming pawns near the enemy king and the holes in its shelter.
  int units = countBits(ownPawns & files & relativeRankBB(c, 3)) +
              2 * countBits(ownPawns & files & (relativeRankBB(c, 4) | relativeRankBB(c, 5))) + 3 -
              entry.shelter[them];
  units += s.kingUnits[c];
  if (!pos.pieces[c][Queen]) units -= 3;
  units += s.queenCheckUnits[c] < QueenCheckCap ? s.queenCheckUnits[c] : QueenCheckCap;
  // Squares next to the king that c attacks and no enemy pawn or piece
  // defends (the king alone cannot hold them against a supported attacker).
  const Bitboard attackers = s.attacks[c][0] | s.attacks[c][King];
  units += 2 * countBits(s.kingAdjacent[c] & attackers & ~s.attacks[them][0]);
  return units;
}

void kingSafety(const Position& pos, const PawnEntry& entry, EvalScratch& s) {
  for (int c = White; c <= Black; c++)
    s.score[c] = addPair(s.score[c], kingAttackAt(kingAttackUnits(pos, entry, s, c)));
}

// Swap-list exchange on the move's target square: each side in turn takes
// with its least valuable attacker, sliders behind a capturer joining once
// it has gone, and either side may stop when going on would lose.
int seeLoses(const Position& pos, int side, Move move) {
  if (move & 0x2000) return 0;  // en passant, castling, under-promotion to rook or bishop
  const Square from = moveFrom(move), to = moveTo(move);
  const int victim = from == to ? 0 : ExchangeValue[typeOfCode(pos.board[to])];
  const int mover = ExchangeValue[typeOfCode(pos.board[from])];
  if (victim >= mover) return 0;

  Bitboard occupied = pos.occupied & ~squareBB[from] & ~squareBB[to];

  int gain[40];
  int depth = 0;
  gain[0] = victim;
  int onSquare = mover;
  int turn = other(side);
  while (depth < 38) {
    // Least valuable attacker of `turn` that still reaches the square.
    const Bitboard own = pos.pieces[turn][0] & occupied;
    const Bitboard diagonal = bishopAttacks(to, occupied), straight = rookAttacks(to, occupied);
    // Queens: first one on a diagonal, then one on a rank or file.
    const Bitboard queensDiagonal = diagonal & pos.pieces[turn][Queen] & own;
    const Bitboard candidates[7] = {
        0,
        pawnAttacks[other(turn)][to] & pos.pieces[turn][Pawn],
        knightAttacks[to] & pos.pieces[turn][Knight],
        diagonal & pos.pieces[turn][Bishop],
        straight & pos.pieces[turn][Rook],
        queensDiagonal ? queensDiagonal : straight & pos.pieces[turn][Queen],
        kingAttacks[to] & pos.pieces[turn][King],
    };
    int type = 1;
    while (type <= King && !(candidates[type] & own)) type++;
    if (type > King) break;
    const Bitboard capturer = candidates[type] & own;
    occupied &= ~squareBB[lsb(capturer)];
    depth++;
    gain[depth] = onSquare - gain[depth - 1];
    onSquare = ExchangeValue[type];
    turn = other(turn);
  }
  // Each side stops at its best moment: back up from the last capture.
  while (depth > 0) {
    gain[depth - 1] = -(-gain[depth - 1] > gain[depth] ? -gain[depth - 1] : gain[depth]);
    depth--;
  }
  return gain[0] < 0 ? -1 : 0;
}
