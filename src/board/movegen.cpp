#include "board/movegen.h"

namespace {

constexpr Bitboard LastRanks = 0xFF000000000000FFull;

inline int historyScore(const Position& pos, int c, int type, Square to) {
  return pos.historyTable ? pos.historyTable->v[c][type][to] & 0xFFFF : 0;
}

inline int* add(int* list, Square from, Square to, int kind = KindNormal, int score = 0) {
  *list = makeEntry(makeMove16(from, to, kind), score);
  return list + 1;
}

// The four promotions in the fixed order queen, knight, rook, bishop.
inline int* addPromotions(int* list, Square from, Square to, int score = 0) {
  for (int kind = KindPromoQueen; kind <= KindPromoBishop; kind++) list = add(list, from, to, kind, score);
  return list;
}

// Pawn captures of one direction as (to set, from offset): the a-file side
// first (white from = to - 7, black from = to + 9), then the h-file side.
struct PawnCaptureDir {
  Bitboard targets;
  int fromOffset;
};
inline void pawnCaptureDirs(const Position& pos, int c, Bitboard targets, PawnCaptureDir dirs[2]) {
  Bitboard pawns = pos.pieces[c][Pawn];
  if (c == White) {
    dirs[0] = {(pawns << 7) & notFileH & targets, -7};
    dirs[1] = {(pawns << 9) & notFileA & targets, -9};
  } else {
    dirs[0] = {(pawns >> 9) & notFileH & targets, 9};
    dirs[1] = {(pawns >> 7) & notFileA & targets, 7};
  }
}

// Squares one step ahead of the pawns that are empty.
inline Bitboard singlePushTargets(const Position& pos, int c) {
  return shiftUp(c, pos.pieces[c][Pawn]) & ~pos.occupied;
}

inline int pushOffset(int c) { return c == White ? -8 : 8; }

// Moves of piece type t from every own piece of that type onto targets,
// walked from the lowest from-square; each target set from lowest square.
template <int Type>
inline int* addPieceMoves(const Position& pos, int c, Bitboard targetMask, int* list) {
  for (Bitboard b = pos.pieces[c][Type]; b; b &= b - 1) {
    Square from = lsb(b);
    Bitboard att = Type == Knight ? knightAttacks[from]
                 : Type == Bishop ? bishopAttacks(from, pos.occupied)
                 : Type == Rook   ? rookAttacks(from, pos.occupied)
                 : Type == Queen  ? queenAttacks(from, pos.occupied)
                                  : kingAttacks[from];
    for (Bitboard t = att & targetMask; t; t &= t - 1) list = add(list, from, lsb(t));
  }
  return list;
}

// Scored captures by pieces on the squares of `from` with attacker type a.
inline int* addScoredCaptures(const Position& pos, Square from, Bitboard targets, int a, int* list) {
  for (Bitboard t = targets; t; t &= t - 1) {
    Square to = lsb(t);
    list = add(list, from, to, KindNormal, 32 * (pos.board[to] & 7) - 2 * a);
  }
  return list;
}

// Every own non-king move that ends on s (captures of a checking piece).
int* captureOn(const Position& pos, int c, Square s, int* list) {
  const Bitboard* own = pos.pieces[c];
  for (Bitboard b = pawnAttacks[other(c)][s] & own[Pawn]; b; b &= b - 1) {
    if (squareBB[s] & LastRanks)
      list = addPromotions(list, lsb(b), s);
    else
      list = add(list, lsb(b), s);
  }
  for (Bitboard b = knightAttacks[s] & own[Knight]; b; b &= b - 1) list = add(list, lsb(b), s);
  for (Bitboard b = bishopLines[s] & (own[Bishop] | own[Queen]); b; b &= b - 1)
    if (!(between[lsb(b)][s] & pos.occupied)) list = add(list, lsb(b), s);
  for (Bitboard b = rookLines[s] & (own[Rook] | own[Queen]); b; b &= b - 1)
    if (!(between[lsb(b)][s] & pos.occupied)) list = add(list, lsb(b), s);
  return list;
}

// Every own non-king move onto an empty square of mask (blocking a check).
int* interpose(const Position& pos, int c, Bitboard mask, int* list) {
  const Bitboard* own = pos.pieces[c];
  Bitboard empty = ~pos.occupied;
  int back = pushOffset(c);
  Bitboard single = singlePushTargets(pos, c);
  for (Bitboard b = single & mask; b; b &= b - 1) {
    Square to = lsb(b);
    list = add(list, to + back, to, (squareBB[to] & LastRanks) ? KindPromoQueen : KindNormal);
  }
  Bitboard thirdRank = c == White ? 0x0000000000FF0000ull : 0x0000FF0000000000ull;
  for (Bitboard b = shiftUp(c, single & thirdRank) & empty & mask; b; b &= b - 1) {
    Square to = lsb(b);
    list = add(list, to + 2 * back, to, KindDouble);
  }
  mask &= empty;
  list = addPieceMoves<Knight>(pos, c, mask, list);
  for (Bitboard b = own[Bishop] | own[Queen]; b; b &= b - 1) {
    Square from = lsb(b);
    for (Bitboard t = bishopAttacks(from, pos.occupied) & mask; t; t &= t - 1) list = add(list, from, lsb(t));
  }
  for (Bitboard b = own[Rook] | own[Queen]; b; b &= b - 1) {
    Square from = lsb(b);
    for (Bitboard t = rookAttacks(from, pos.occupied) & mask; t; t &= t - 1) list = add(list, from, lsb(t));
  }
  return list;
}

// Promotions without capture: the four pieces per pawn that can step onto
// the last rank, with the given scores for queen, knight and rook/bishop.
int* addQuietPromotions(const Position& pos, int c, int* list, bool scored) {
  int back = pushOffset(c);
  for (Bitboard b = singlePushTargets(pos, c) & LastRanks; b; b &= b - 1) {
    Square to = lsb(b);
    list = add(list, to + back, to, KindPromoQueen, scored ? 67 : 0);
    list = add(list, to + back, to, KindPromoKnight, scored ? 66 : 0);
    list = add(list, to + back, to, KindPromoRook, scored ? 65 : 0);
    list = add(list, to + back, to, KindPromoBishop, scored ? 65 : 0);
  }
  return list;
}

}  // namespace

int generateCaptures(const Position& pos, int* list) {
  int* start = list;
  int c = pos.sideToMove();
  Bitboard enemy = pos.pieces[other(c)][0];
  PawnCaptureDir dirs[2];
  pawnCaptureDirs(pos, c, enemy | pos.enPassant, dirs);
  for (const PawnCaptureDir& d : dirs)
    for (Bitboard b = d.targets; b; b &= b - 1) {
      Square to = lsb(b);
      if (squareBB[to] & pos.enPassant)
        list = add(list, to + d.fromOffset, to, KindEnPassant, 31);
      else if (squareBB[to] & LastRanks)
        list = addPromotions(list, to + d.fromOffset, to, 64 * (pos.board[to] & 7) - 2);
      else
        list = add(list, to + d.fromOffset, to, KindNormal, 32 * (pos.board[to] & 7) - 2);
    }
  list = addQuietPromotions(pos, c, list, true);
  const Bitboard* own = pos.pieces[c];
  for (Bitboard b = own[Knight]; b; b &= b - 1)
    list = addScoredCaptures(pos, lsb(b), knightAttacks[lsb(b)] & enemy, Knight, list);
  for (Bitboard b = own[Bishop] | own[Queen]; b; b &= b - 1) {
    Square from = lsb(b);
    list = addScoredCaptures(pos, from, bishopAttacks(from, pos.occupied) & enemy, pos.board[from] & 7, list);
  }
  for (Bitboard b = own[Rook] | own[Queen]; b; b &= b - 1) {
    Square from = lsb(b);
    list = addScoredCaptures(pos, from, rookAttacks(from, pos.occupied) & enemy, pos.board[from] & 7, list);
  }
  for (Bitboard b = own[King]; b; b &= b - 1)
    list = addScoredCaptures(pos, lsb(b), kingAttacks[lsb(b)] & enemy, King, list);
  return (int)(list - start);
}

int generateEvasions(const Position& pos, int* list) {
  int* start = list;
  int c = pos.sideToMove(), e = other(c);
  const Bitboard* enemy = pos.pieces[e];
  Square k = pos.kingSquare(c);
  if (Bitboard knights = knightAttacks[k] & enemy[Knight]) {
    list = captureOn(pos, c, lsb(knights), list);
  } else if (Bitboard pawns = pawnAttacks[c][k] & enemy[Pawn]) {
    list = captureOn(pos, c, lsb(pawns), list);
    if (pos.enPassant) {
      Square ep = lsb(pos.enPassant);
      for (Bitboard b = pawnAttacksBB(e, pos.enPassant) & pos.pieces[c][Pawn]; b; b &= b - 1)
        list = add(list, lsb(b), ep, KindEnPassant);
    }
  } else {
    for (Bitboard b = bishopLines[k] & (enemy[Bishop] | enemy[Queen]); b; b &= b - 1) {
      Square s = lsb(b);
      if (between[s][k] & pos.occupied) continue;
      list = captureOn(pos, c, s, list);
      list = interpose(pos, c, between[s][k], list);
    }
    for (Bitboard b = rookLines[k] & (enemy[Rook] | enemy[Queen]); b; b &= b - 1) {
      Square s = lsb(b);
      if (between[s][k] & pos.occupied) continue;
      list = captureOn(pos, c, s, list);
      list = interpose(pos, c, between[s][k], list);
    }
  }
  list = addPieceMoves<King>(pos, c, ~pos.pieces[c][0], list);
  return (int)(list - start);
}

int generateCastling(const Position& pos, int colour, int* list) {
  if (pos.inCheck) return 0;
  int* start = list;
  Bitboard attacked = 0;
  bool attackedKnown = false;
  for (int r = colour * 2; r < colour * 2 + 2; r++) {
    if (pos.castleLost & (1 << r)) continue;
    if (pos.occupied & castling.castleKeep[r] & castling.castleEmpty[r]) continue;
    if (!attackedKnown) {
      attacked = attacksBy(pos, other(colour));
      attackedKnown = true;
    }
    if (attacked & castling.castlePath[r]) continue;
    Square from = castling.kingSquare[colour], to = castling.castleRook[r];
    Square kingDest = (colour == White ? 0 : 56) + ((r & 1) ? 2 : 6);
    int score = r == 0 ? 0 : historyScore(pos, colour, King, kingDest);
    list = add(list, from, to, KindCastle, score);
  }
  return (int)(list - start);
}

int generateDoublePushes(const Position& pos, int colour, int* list) {
  int* start = list;
  Bitboard empty = ~pos.occupied;
  Bitboard secondRank = colour == White ? 0x000000000000FF00ull : 0x00FF000000000000ull;
  Bitboard targets = shiftUp(colour, shiftUp(colour, pos.pieces[colour][Pawn] & secondRank) & empty) & empty;
  int back = 2 * pushOffset(colour);
  for (Bitboard b = targets; b; b &= b - 1) {
    Square to = lsb(b);
    list = add(list, to + back, to, KindDouble, historyScore(pos, colour, Pawn, to));
  }
  return (int)(list - start);
}

int generateAll(const Position& pos, int* list) {
  int* start = list;
  int c = pos.sideToMove();
  list = addQuietPromotions(pos, c, list, false);
  list += generateCastling(pos, c, list);
  PawnCaptureDir dirs[2];
  pawnCaptureDirs(pos, c, pos.pieces[other(c)][0] | pos.enPassant, dirs);
  for (const PawnCaptureDir& d : dirs)
    for (Bitboard b = d.targets; b; b &= b - 1) {
      Square to = lsb(b);
      if (squareBB[to] & pos.enPassant)
        list = add(list, to + d.fromOffset, to, KindEnPassant);
      else if (squareBB[to] & LastRanks)
        list = addPromotions(list, to + d.fromOffset, to);
      else
        list = add(list, to + d.fromOffset, to);
    }
  int back = pushOffset(c);
  for (Bitboard b = singlePushTargets(pos, c) & ~LastRanks; b; b &= b - 1) {
    Square to = lsb(b);
    list = add(list, to + back, to, KindNormal, historyScore(pos, c, Pawn, to));
  }
  Bitboard notOwn = ~pos.pieces[c][0];
  list = addPieceMoves<Knight>(pos, c, notOwn, list);
  list = addPieceMoves<Bishop>(pos, c, notOwn, list);
  list = addPieceMoves<Rook>(pos, c, notOwn, list);
  list = addPieceMoves<Queen>(pos, c, notOwn, list);
  list = addPieceMoves<King>(pos, c, notOwn, list);
  list += generateDoublePushes(pos, c, list);
  return (int)(list - start);
}

// Whether a move from outside the generators (hash table, killers, UCI) is
// one the generators could produce in this position.  The kind must match
// the move exactly: double push only for the two-step push, promotion kinds
// only onto the last rank, so that makeMove never misreads a move.
bool isPseudoLegal(const Position& pos, Move move) {
  move &= 0xFFFF;
  if (move == 0 || (move & 0x8000)) return false;
  int c = pos.sideToMove();
  Square from = moveFrom(move), to = moveTo(move);
  int kind = moveKind(move);
  if (kind == KindEnPassant) {
    return pos.enPassant && squareBB[to] == pos.enPassant &&
           (pawnAttacksBB(other(c), pos.enPassant) & pos.pieces[c][Pawn] & squareBB[from]);
  }
  if (kind == KindCastle) {
    int list[2];
    int n = generateCastling(pos, c, list);
    for (int i = 0; i < n; i++)
      if (entryMove(list[i]) == move) return true;
    return false;
  }
  int code = pos.board[from];
  if (!code || colourOfCode(code) != c) return false;
  if (squareBB[to] & pos.pieces[c][0]) return false;
  int type = code & 7;
  if (type != Pawn) {
    if (kind != KindNormal) return false;
    switch (type) {
      case Knight: return knightAttacks[from] & squareBB[to];
      case King: return kingAttacks[from] & squareBB[to];
      case Bishop: return (bishopLines[from] & squareBB[to]) && !(between[from][to] & pos.occupied);
      case Rook: return (rookLines[from] & squareBB[to]) && !(between[from][to] & pos.occupied);
      default: return (queenLines[from] & squareBB[to]) && !(between[from][to] & pos.occupied);
    }
  }
  int d = c == White ? 8 : -8;
  Square p = from + d;
  if (p < 0 || p > 63) return false;
  bool promoting = (squareBB[p] & LastRanks) != 0;
  if (promoting != (kind >= KindPromoQueen)) return false;
  if (pos.board[to]) {
    return kind != KindDouble && rankOf(to) == rankOf(p) && (fileOf(to) - fileOf(p) == 1 || fileOf(p) - fileOf(to) == 1);
  }
  if (pos.board[p]) return false;
  if (to == p) return kind != KindDouble;
  return kind == KindDouble && relativeRank(c, from) == 1 && from + 2 * d == to && !pos.board[to];
}
