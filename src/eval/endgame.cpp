// Special endgame evaluations.
#include "eval/endgame.h"

#include <algorithm>
#include <cstdlib>

#include "eval/kpk.h"

namespace {

int distance(Square a, Square b) {
  return std::max(std::abs(fileOf(a) - fileOf(b)), std::abs(rankOf(a) - rankOf(b)));
}
int manhattan(Square a, Square b) { return std::abs(fileOf(a) - fileOf(b)) + std::abs(rankOf(a) - rankOf(b)); }

// The side owning every non-king piece besides the kings, given the piece
// type that only the strong side has.
int strongSideOf(const Position& pos, int type) { return pos.pieces[White][type] ? White : Black; }

// Square seen from the strong side (vertical mirror for black).
Square relative(int strong, Square s) { return strong == White ? s : s ^ 56; }

int withSign(int strong, int value) { return strong == White ? value : -value; }

}  // namespace

int bishopKnightMate(const Position& pos, double* scale) {
  int strong = strongSideOf(pos, Bishop);
  Square sk = pos.kingSquare(strong), wk = pos.kingSquare(other(strong));
  Square bishop = lsb(pos.pieces[strong][Bishop]), knight = lsb(pos.pieces[strong][Knight]);
  bool dark = squareColour[bishop];
  // The mate can only be forced in a corner the bishop controls.
  int corner = dark ? std::min(manhattan(wk, 0), manhattan(wk, 63)) : std::min(manhattan(wk, 56), manhattan(wk, 7));
  *scale = 0;
  return withSign(strong, 5000 - 200 * corner - 80 * distance(sk, wk) - 40 * distance(knight, wk));
}

int knightPawnVersusKing(const Position& pos, double* scale) {
  int strong = strongSideOf(pos, Knight);
  Square sk = relative(strong, pos.kingSquare(strong)), wk = relative(strong, pos.kingSquare(other(strong)));
  Square pawn = relative(strong, lsb(pos.pieces[strong][Pawn]));
  Square knight = relative(strong, lsb(pos.pieces[strong][Knight]));
  Square queening = makeSquare(fileOf(pawn), 7);
  *scale = 0;
  // A rook pawn one step from queening with the defending king in the
  // corner is a draw: the knight cannot drive the king out.
  if ((fileOf(pawn) == 0 || fileOf(pawn) == 7) && rankOf(pawn) == 6 && distance(wk, queening) <= 1)
    return withSign(strong, 5 * (10 - distance(sk, queening)));
  return withSign(strong, 4200 + 10 * (5 * distance(wk, pawn) - 3 * distance(knight, pawn) -
                                       10 * (7 - rankOf(pawn)) - 5 * distance(sk, pawn)));
}

int kingPawnVersusKing(const Position& pos, double* scale) {
  int strong = strongSideOf(pos, Pawn);
  Square pawn = lsb(pos.pieces[strong][Pawn]);
  bool wins = kpkWins(strong, pos.kingSquare(strong), pawn, pos.kingSquare(other(strong)),
                      pos.sideToMove() == strong);
  *scale = 0;
  return withSign(strong, wins ? 6500 + 160 * relativeRank(strong, pawn) : 30);
}

int rookPawnVersusRook(const Position& pos, double* scale) {
  int strong = strongSideOf(pos, Pawn);
  Square pawn = relative(strong, lsb(pos.pieces[strong][Pawn]));
  Square wk = relative(strong, pos.kingSquare(other(strong)));
  Square wr = relative(strong, lsb(pos.pieces[other(strong)][Rook]));
  // The defence holds best with the king in front of the pawn and the rook
  // checking from behind or from the side.
  if (rankOf(wk) < 6 || fileOf(wk) != fileOf(pawn)) {
    *scale = 0.5;
    return withSign(strong, 500);
  }
  if (rankOf(wr) <= 1 && rankOf(pawn) >= 5) {
    *scale = 0.158;
    return withSign(strong, 50);
  }
  if (rankOf(pawn) <= 4 && rankOf(wr) == 5) {
    *scale = 0.158;
    return withSign(strong, 50);
  }
  *scale = 0.387;
  return withSign(strong, 300);
}
