// Piece terms of a full evaluation: mobility and placement of knights,
// bishops, rooks and queens, corner and king patterns, outposts, pieces safe
// from pawns, blocked pawns and threats.  The piece loops also gather the
// attack maps and the king-attack units that king safety finishes.

#include "eval/pieces.h"

#include "eval/evalbits.h"
#include "eval/king.h"
#include "eval/tables.h"
#include "eval/terms.h"

using namespace evalbits;

namespace {

// Placement and threat weights without a count table of their own.
constexpr ScorePair BishopFacesKnight = makePair(15, 16);
constexpr ScorePair RooksConnected = makePair(23, 7);
constexpr ScorePair RookOnSeventh = makePair(61, 167);
constexpr ScorePair RookOpenFile = makePair(160, 172);
constexpr ScorePair RookHalfOpenFile = makePair(96, 110);
constexpr ScorePair RookHalfOpenDefended = makePair(59, 30);
constexpr ScorePair KingBlocksRook = makePair(-300, -100);
constexpr ScorePair BishopShieldsKing = makePair(54, 0);
constexpr ScorePair CorneredBishop = makePair(-75, -100);
constexpr ScorePair OutpostNoMinorRival = makePair(210, 120);

// Squares of the outpost zone seen from white: files c..f, ranks 4..6.
constexpr Bitboard OutpostZoneWhite = 0x00003C3C3C000000ull;

inline void add(EvalScratch& s, int c, ScorePair p) { s.score[c] = addPair(s.score[c], p); }
// Mobility is kept apart until the piece loops end so the evaluation trace
// can show it on its own line; the sums wrap, so the total is the same.
inline void addMobility(EvalScratch& s, int c, ScorePair p) { s.mobility[c] = addPair(s.mobility[c], p); }

// Squares a piece on sq may use for mobility: all when free, only the line
// towards its own king when it stands in the pin line.
inline Bitboard pinMask(const Position& pos, const EvalScratch& s, int c, Square sq) {
  return (s.pinned[c] & squareBB[sq]) ? between[pos.kingSquare(c)][sq] : ~0ull;
}

void knightTerms(const Position& pos, int c, Bitboard area, EvalScratch& s) {
  const Square ownKing = pos.kingSquare(c), enemyKing = pos.kingSquare(other(c));
  int units = 0;
  for (Bitboard b = pos.pieces[c][Knight]; b;) {
    const Square sq = popLsb(b);
    const Bitboard att = knightAttacks[sq];
    s.attacks[c][Knight] |= att;
    // Knights are short-range: they want to stay near their own king.
    add(s, c, knightKingDistance[distance(sq, ownKing)]);
    // Forward squares count twice; a knight in the pin line cannot move.
    int count = 0;
    if (!(s.pinned[c] & squareBB[sq])) {
      const Bitboard reach = att & area;
      count = countBits(reach) + countBits(reach & ranksAhead(c, rankOf(sq)));
    }
    addMobility(s, c, countAt(knightMobility, count));
    if (att & s.kingAdjacent[c]) units += 3;
    units += 4 * countBits(att & knightAttacks[enemyKing] & s.safeChecks[c]);
  }
  s.kingUnits[c] += units;
}

void bishopTerms(const Position& pos, int c, Bitboard area, EvalScratch& s) {
  const int them = other(c);
  const Bitboard ownPawns = pos.pieces[c][Pawn];
  const Bitboard allPawns = ownPawns | pos.pieces[them][Pawn];
  const bool pair = moreThanOne(pos.pieces[c][Bishop]);
  int units = 0;
  for (Bitboard b = pos.pieces[c][Bishop]; b;) {
    const Square sq = popLsb(b);
    const Bitboard att = bishopAttacks(sq, pos.occupied);
    s.attacks[c][Bishop] |= att;
    // What the bishop sees through pieces tells how open its diagonals are.
    addMobility(s, c, countAt(bishopPawnView, countBits(bishopAttacks(sq, allPawns))));
    addMobility(s, c, countAt(bishopMobility, countBits(att & area & pinMask(pos, s, c, sq))));
    // Own pawns on the bishop's colour hem it in; pawns on the other colour
    // complement it.  Without a rival bishop of that colour the pair feels
    // its bad pawns twice.
    const Bitboard colour = sameColourSquares(sq);
    const int same = countBits(ownPawns & colour), otherColour = countBits(ownPawns & ~colour);
    add(s, c, countAt(bishopPawnsSameColour, same));
    add(s, c, countAt(bishopPawnsOtherColour, otherColour));
    if (pair && !(pos.pieces[them][Bishop] & colour)) add(s, c, countAt(bishopPawnsSameColour, same));
    // An enemy knight three ranks ahead or behind on the bishop's file, in
    // the enemy's half: a typical target the bishop can harass.
    const Bitboard knightSpots = (sq + 24 < 64 ? squareBB[sq + 24] : 0) | (sq - 24 >= 0 ? squareBB[sq - 24] : 0);
    const Bitboard enemyHalf = c == White ? 0xFFFFFFFF00000000ull : 0x00000000FFFFFFFFull;
    if (knightSpots & pos.pieces[them][Knight] & enemyHalf) add(s, c, BishopFacesKnight);
    if (att & s.kingAdjacent[c]) units += 1;
    units += 3 * countBits(att & s.diagonalChecks[c] & s.safeChecks[c]);
  }
  s.kingUnits[c] += units;
}

void rookTerms(const Position& pos, int c, Bitboard area, EvalScratch& s) {
  const int them = other(c);
  const Square enemyKing = pos.kingSquare(them);
  const Bitboard ownPawns = pos.pieces[c][Pawn], enemyPawns = pos.pieces[them][Pawn];
  int units = 0;
  for (Bitboard b = pos.pieces[c][Rook]; b;) {
    const Square sq = popLsb(b);
    const Bitboard att = rookAttacks(sq, pos.occupied);
    s.attacks[c][Rook] |= att;
    addMobility(s, c, countAt(rookMobility, countBits(att & area & pinMask(pos, s, c, sq))));
    if (rookLines[sq] & ~squareBB[sq] & pos.pieces[c][Rook]) add(s, c, RooksConnected);
    if (relativeRank(c, sq) == 6 && relativeRank(c, enemyKing) == 7) add(s, c, RookOnSeventh);
    // Open and half-open files; a half-open file whose enemy pawn is
    // defended by another pawn is a harder target.
    const Bitboard file = FileMask[fileOf(sq)];
    if (!(ownPawns & file)) {
      const Bitboard targets = enemyPawns & file;
      add(s, c, !targets ? RookOpenFile : !(targets & s.attacks[them][Pawn]) ? RookHalfOpenFile : RookHalfOpenDefended);
    }
    if (att & s.kingAdjacent[c]) units += 1;
    if (fileOf(sq) == fileOf(enemyKing) && !(between[sq][enemyKing] & ownPawns)) units += 2;
    units += 4 * countBits(att & s.straightChecks[c] & s.safeChecks[c]);
  }
  s.kingUnits[c] += units;
}

void queenTerms(const Position& pos, int c, Bitboard area, EvalScratch& s) {
  int units = 0, checks = 0;
  for (Bitboard b = pos.pieces[c][Queen]; b;) {
    const Square sq = popLsb(b);
    const Bitboard diagonal = bishopAttacks(sq, pos.occupied), straight = rookAttacks(sq, pos.occupied);
    const Bitboard att = diagonal | straight;
    s.attacks[c][Queen] |= att;
    const Bitboard usable = area & pinMask(pos, s, c, sq);
    addMobility(s, c, countAt(queenMobility, countBits(diagonal & usable) + countBits(straight & usable)));
    if (att & s.kingAdjacent[c]) units += 1;
    // Queen checks; a contact check is worth much more when the queen
    // survives on the square.
    Bitboard targets = att & (s.diagonalChecks[c] | s.straightChecks[c]) & s.safeChecks[c];
    while (targets) {
      const Square to = popLsb(targets);
      if (!(s.kingAdjacent[c] & squareBB[to]))
        checks += 3;
      else
        checks += seeLoses(pos, c, makeMove16(sq, to)) == 0 ? 10 : 1;
    }
  }
  s.kingUnits[c] += units;
  s.queenCheckUnits[c] += checks;
}

// Fixed patterns around the king and the corners.
void patternTerms(const Position& pos, int c, EvalScratch& s) {
  const Square k = relativeSquare(c, pos.kingSquare(c));
  const Bitboard rooks = pos.pieces[c][Rook], bishops = pos.pieces[c][Bishop], own = pos.pieces[c][0];
  auto on = [c](Bitboard set, Square relSq) { return (set & squareBB[relativeSquare(c, relSq)]) != 0; };
  // An uncastled king shutting its own rook in the corner.
  if ((k == 5 || k == 6) && (on(rooks, 6) || on(rooks, 7) || on(rooks, 14) || on(rooks, 15)))
    add(s, c, KingBlocksRook);
  if (shiftUp(c, pos.pieces[c][King]) & bishops) add(s, c, BishopShieldsKing);
  // A bishop in the corner behind its own piece is out of play.
  if (on(bishops, 7) && on(own, 14)) add(s, c, CorneredBishop);
  if (on(bishops, 0) && on(own, 9)) add(s, c, CorneredBishop);
}

// Outposts, pieces out of reach of enemy pawns, pawn-supported pieces,
// blocked pawns and cramping enemy pawns.
void placementTerms(const Position& pos, int c, EvalScratch& s) {
  const int them = other(c);
  const Bitboard ownPawns = pos.pieces[c][Pawn], enemyPawns = pos.pieces[them][Pawn];
  const Bitboard knights = pos.pieces[c][Knight], bishops = pos.pieces[c][Bishop];
  const Bitboard minors = knights | bishops;
  // Squares no enemy pawn attacks now or after advancing.
  const Bitboard safe = ~backwardFill(c, s.attacks[them][Pawn]);
  const Bitboard zone = c == White ? OutpostZoneWhite : OutpostZoneWhite >> 8;

  Bitboard outposts = knights & zone & s.attacks[c][Pawn] & safe;
  add(s, c, countAt(outpostCount, countBits(outposts)));
  if (!pos.pieces[them][Knight]) {
    // Nothing can ever challenge a knight no enemy minor can reach.
    while (outposts) {
      const Square sq = popLsb(outposts);
      if (!(pos.pieces[them][Bishop] & sameColourSquares(sq))) add(s, c, OutpostNoMinorRival);
    }
  }
  add(s, c, countAt(knightBlockadeCount, countBits(knights & shiftUp(them, enemyPawns) & safe)));
  add(s, c, countAt(safeFromPawnsCount, countBits((minors | pos.pieces[c][Rook]) & safe)));
  const int behind = countBits(minors & shiftDown(c, ownPawns)) + countBits(knights & pawnAttacksBB(them, ownPawns));
  add(s, c, countAt(minorBehindPawnCount, behind));
  add(s, c, countAt(pawnDefendedPieceCount, countBits((pos.pieces[c][0] & ~ownPawns) & s.attacks[c][Pawn])));
  add(s, c, countAt(blockedPawnCount, countBits(ownPawns & shiftDown(c, pos.occupied))));
  // Enemy central pawns still at home and blocked cramp the enemy position.
  const Bitboard files = fileOf(pos.kingSquare(them)) <= 3 ? (FileMask[3] | FileMask[4] | FileMask[5] | FileMask[6])
                                                           : (FileMask[1] | FileMask[2] | FileMask[3] | FileMask[4]);
  const Bitboard cramped = enemyPawns & relativeRankBB(c, 6) & files & shiftDown(them, pos.occupied);
  add(s, c, countAt(crampCount, countBits(cramped)));
}

}  // namespace

// Pieces standing alone between an enemy slider and c's king.
Bitboard pinLine(const Position& pos, int c) {
  const int them = other(c);
  const Square k = pos.kingSquare(c);
  const Bitboard diagonal = pos.pieces[them][Bishop] | pos.pieces[them][Queen];
  const Bitboard straight = pos.pieces[them][Rook] | pos.pieces[them][Queen];
  Bitboard snipers = (bishopLines[k] & diagonal) | (rookLines[k] & straight);
  Bitboard pinned = 0;
  while (snipers) {
    Bitboard inBetween = between[k][popLsb(snipers)] & pos.occupied;
    if (inBetween && !moreThanOne(inBetween)) pinned |= inBetween;
  }
  return pinned;
}

void clearScratch(const Position& pos, EvalScratch& s) {
  s = EvalScratch{};
  for (int c = White; c <= Black; c++) {
    s.attacks[c][Pawn] = pawnAttacksBB(c, pos.pieces[c][Pawn]);
    s.attacks[c][King] = kingAttacks[pos.kingSquare(c)];
    s.attacks[c][0] = s.attacks[c][Pawn];
    s.pinned[c] = pinLine(pos, c);
  }
  for (int c = White; c <= Black; c++) {
    const int them = other(c);
    const Square enemyKing = pos.kingSquare(them);
    s.kingAdjacent[c] = kingAttacks[enemyKing];
    s.diagonalChecks[c] = bishopAttacks(enemyKing, pos.occupied);
    s.straightChecks[c] = rookAttacks(enemyKing, pos.occupied);
    // Check squares not held by own pieces and not empty squares covered by
    // an enemy pawn (an enemy piece there can be captured with check).
    s.safeChecks[c] = ~pos.pieces[c][0] & ~squareBB[enemyKing] & ~(~pos.occupied & s.attacks[them][Pawn]);
  }
}

void pieceTerms(const Position& pos, const PawnEntry& entry, EvalScratch& s) {
  Bitboard area[2];
  for (int c = White; c <= Black; c++) {
    const int them = other(c);
    // Squares an enemy pawn covers are lost for mobility unless they hold an
    // enemy piece worth taking.
    const Bitboard enemyPieces = pos.pieces[them][0] & ~pos.pieces[them][Pawn];
    area[c] = ~(pos.pieces[c][Pawn] | pos.pieces[c][King] | (s.attacks[them][Pawn] & ~enemyPieces));
  }
  for (int c = White; c <= Black; c++) knightTerms(pos, c, area[c], s);
  for (int c = White; c <= Black; c++) bishopTerms(pos, c, area[c], s);
  for (int c = White; c <= Black; c++) {
    const int them = other(c);
    const Bitboard enemyPieces = pos.pieces[them][0] & ~pos.pieces[them][Pawn];
    rookTerms(pos, c, area[c] & ~(s.attacks[them][Knight] & ~enemyPieces), s);
  }
  for (int c = White; c <= Black; c++) {
    const int them = other(c);
    const Bitboard covered = s.attacks[them][Pawn] | s.attacks[them][Knight] | s.attacks[them][Bishop] | s.attacks[them][Rook];
    queenTerms(pos, c, ~(pos.pieces[c][King] | pos.pieces[c][Pawn] | covered), s);
  }
  for (int c = White; c <= Black; c++) {
    s.attacks[c][0] = s.attacks[c][Pawn] | s.attacks[c][Knight] | s.attacks[c][Bishop] | s.attacks[c][Rook] |
                      s.attacks[c][Queen];
    patternTerms(pos, c, s);
    placementTerms(pos, c, s);
    s.score[c] = addPair(s.score[c], s.mobility[c]);
  }
}

void threatTerms(const Position& pos, EvalScratch& s) {
  for (int c = White; c <= Black; c++) {
    const int them = other(c);
    const Bitboard* att = s.attacks[c];
    const Bitboard enemy = pos.pieces[them][0];
    const Bitboard ePawns = pos.pieces[them][Pawn], eKnights = pos.pieces[them][Knight],
                   eBishops = pos.pieces[them][Bishop], eRooks = pos.pieces[them][Rook],
                   eQueens = pos.pieces[them][Queen];
    // Attacks by a lesser piece: these win material outright.
    const Bitboard byLesser = ((enemy & ~ePawns) & att[Pawn]) |
                              ((eRooks | eQueens) & (att[Knight] | att[Bishop])) | (eQueens & att[Rook]);
    // Undefended targets attacked by a piece that could take them.
    const Bitboard undefended = enemy & ~s.attacks[them][0] & ~s.attacks[them][King];
    const Bitboard hit = (att[Queen] & ~eQueens) | (att[Rook] & (ePawns | eKnights | eBishops)) |
                         (att[Knight] & (ePawns | eBishops)) | (att[Bishop] & (ePawns | eKnights)) | att[King];
    const int c1 = countBits(byLesser), c2 = countBits(undefended & hit);
    add(s, c, addPair(countAt(TH, c1), countAt(TH, c1 + c2)));
    // Targets held only by pieces, which must keep guarding them.
    const Bitboard enemyPieceGuard = s.attacks[them][Knight] | s.attacks[them][Bishop] | s.attacks[them][Rook] |
                                     s.attacks[them][Queen];
    add(s, c, countAt(pieceDefendedCount, countBits(enemy & att[0] & enemyPieceGuard & ~s.attacks[them][Pawn])));
    add(s, c, countAt(undefendedPawnCount, countBits(pos.pieces[c][Pawn] & ~att[0])));
  }
}

namespace {

// All positional terms in one body, inlined whole into each build below.
inline ScorePair allTerms(const Position& pos, const PawnEntry& entry, EvalScratch& scratch) {
  clearScratch(pos, scratch);
  pieceTerms(pos, entry, scratch);
  kingSafety(pos, entry, scratch);
  threatTerms(pos, scratch);
  passedPawnTerms(pos, entry, scratch);
  return subPair(scratch.score[White], scratch.score[Black]);
}

// Two builds of the same code: the second may count bits with the
// processor's instruction.  Both give identical results.
__attribute__((flatten)) ScorePair termsPortable(const Position& pos, const PawnEntry& entry, EvalScratch& scratch) {
  return allTerms(pos, entry, scratch);
}
ORVANE_TARGET_POPCNT __attribute__((flatten)) ScorePair termsPopcnt(const Position& pos, const PawnEntry& entry,
                                                                   EvalScratch& scratch) {
  return allTerms(pos, entry, scratch);
}

}  // namespace

ScorePair positionalTerms(const Position& pos, const PawnEntry& entry, EvalScratch& scratch) {
  return hasPopcnt ? termsPopcnt(pos, entry, scratch) : termsPortable(pos, entry, scratch);
}
