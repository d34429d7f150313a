// Pawn structure: the cached first layer (pawns and kings only) and the
// passed-pawn second layer that looks at the pieces.

#include "eval/pawns.h"

#include "eval/evalbits.h"
#include "eval/tables.h"
#include "eval/terms.h"

using namespace evalbits;

namespace {

// Pawn-structure weights without a count table of their own (fine units).
constexpr ScorePair DoubledFrontUnsupported = makePair(-36, -44);
constexpr ScorePair EdgePhalanxOpposed = makePair(0, -20);
constexpr ScorePair EdgePhalanxFree = makePair(0, -40);
constexpr ScorePair SeveralPassers = makePair(33, 122);
constexpr ScorePair BackRankKing = makePair(-93, -185);
constexpr ScorePair KingNearQueeningSquare = makePair(0, 125);
constexpr ScorePair RookInFrontOfPasser = makePair(60, 300);

// Shelter of own pawns on the three files around a king standing on
// kingFile / relative rank kingRank: pawns level with or ahead of the king
// count by rank, those on the king's own file twice.
ScorePair shelterFor(int c, Bitboard own, int kingFile, int kingRank) {
  ScorePair sum = 0;
  Bitboard b = own & kingFiles(makeSquare(kingFile, 0));
  while (b) {
    Square s = popLsb(b);
    int rr = relativeRank(c, s);
    if (rr < kingRank) continue;
    sum = addPair(sum, shelterRank[rr]);
    if (fileOf(s) == kingFile) sum = addPair(sum, shelterRank[rr]);
  }
  return sum;
}

// Own pawns advancing on the enemy king: open pawns weigh more than pawns
// already facing an enemy pawn, and every king file without an own pawn is
// a file the rooks can use.
ScorePair stormFor(int c, Bitboard own, Bitboard enemy, Square enemyKing) {
  ScorePair sum = 0;
  Bitboard files = kingFiles(enemyKing);
  Bitboard b = own & files;
  while (b) {
    Square s = popLsb(b);
    int rr = relativeRank(c, s);
    sum = addPair(sum, (frontSpan(c, squareBB[s]) & enemy) ? stormBlocked[rr] : stormOpen[rr]);
  }
  int filesWithPawn = countBits(fileBits(own & files));
  return addPair(sum, stormEmptyFiles[filesWithPawn]);
}

// Number of own pawns that can stand beside or behind candidate s on the
// adjacent files (the most advanced own pawn of each such file, on s's rank
// or behind it, unless an enemy pawn stands right beside s on that file).
int candidateSupporters(int c, Square s, Bitboard own, Bitboard enemy) {
  int supporters = 0;
  for (int df = -1; df <= 1; df += 2) {
    int f = fileOf(s) + df;
    if (f < 0 || f > 7) continue;
    Bitboard onFile = own & FileMask[f];
    if (!onFile) continue;
    if (enemy & squareBB[makeSquare(f, rankOf(s))]) continue;
    Square front = c == White ? 63 - __builtin_clzll(onFile) : lsb(onFile);
    if (relativeRank(c, front) <= relativeRank(c, s)) supporters++;
  }
  return supporters;
}

// First-layer terms of side c; fills the per-side fields of e.
ScorePair sideStructure(const Position& pos, int c, PawnEntry& e, ScorePair kingProximity[2]) {
  const int them = other(c);
  const Bitboard own = pos.pieces[c][Pawn], enemy = pos.pieces[them][Pawn];
  const Bitboard all = own | enemy;
  const Bitboard ownAttacks = pawnAttacksBB(c, own), enemyAttacks = pawnAttacksBB(them, enemy);
  const Bitboard enemyFiles = fileFill(enemy);
  ScorePair sum = 0;

  // Sets: front pawns (nothing ahead on the file), squares enemy pawns can
  // never attack, squares own pawns can never defend.
  const Bitboard front = own & ~rearSpan(c, all);
  const Bitboard safe = ~backwardFill(c, enemyAttacks);
  const Bitboard noSupport = ~forwardFill(c, ownAttacks);

  // Levers: advanced pawns already in contact with enemy pawns.
  Bitboard levers = own & (relativeRankBB(c, 4) | relativeRankBB(c, 5)) & enemyAttacks;
  sum = addPair(sum, countAt(leverCount, countBits(levers)));

  // Doubled pawns, and the front pawn of a doubled file left undefended.
  sum = addPair(sum, countAt(doubledCount, countBits(own) - countBits(fileBits(own))));
  const Bitboard frontDoubled = (own & ~rearSpan(c, own)) & fileFill(own & rearSpan(c, own));
  sum = addPair(sum, mulPair(DoubledFrontUnsupported, countBits(frontDoubled & ~ownAttacks)));

  sum = addPair(sum, countAt(pawnControlCount, countBits(ownAttacks)));

  // Isolated pawns, worse on files the enemy does not block.
  const Bitboard isolated = own & ~adjacentFiles(own);
  sum = addPair(sum, countAt(isolatedCount, countBits(isolated & enemyFiles)));
  sum = addPair(sum, countAt(isolatedOpenCount, countBits(isolated & ~enemyFiles)));
  sum = addPair(sum, countAt(isolatedDoubledCount, countBits(isolated & frontDoubled & enemyFiles)));
  sum = addPair(sum, countAt(isolatedDoubledOpenCount, countBits(isolated & frontDoubled & ~enemyFiles)));

  // Phalanx and defended pawns.
  const Bitboard beside = own & besideBB(own);
  const Bitboard defended = own & ownAttacks;
  sum = addPair(sum, countAt(besideCount, countBits(beside)));
  sum = addPair(sum, countAt(defendedCount, countBits(defended)));
  sum = addPair(sum, countAt(supportedBesideCount, countBits(beside & defended)));

  // A rook pawn in a phalanx on its own half of a half-open file is easily
  // fixed, less so when an enemy pawn already waits two ranks ahead.
  Bitboard edge = beside & EdgeFiles & ~enemyFiles &
                  (relativeRankBB(c, 0) | relativeRankBB(c, 1) | relativeRankBB(c, 2) | relativeRankBB(c, 3));
  while (edge) {
    Square s = popLsb(edge);
    bool opposed = besideBB(shiftUp(c, shiftUp(c, squareBB[s]))) & enemy;
    sum = addPair(sum, opposed ? EdgePhalanxOpposed : EdgePhalanxFree);
  }

  // Backward pawns: no own pawn can ever come to their aid, so the stop
  // square is a lasting weakness, worse when the file is open to the enemy.
  const Bitboard backward = own & ~isolated & noSupport & ~defended & ~(beside & ~frontDoubled);
  const Bitboard stops = shiftUp(c, backward);
  sum = addPair(sum, countAt(backwardCount, countBits(stops & (all | enemyAttacks))));
  sum = addPair(sum, countAt(backwardOpenCount, countBits(shiftUp(c, backward & ~rearSpan(c, all)) & enemyAttacks)));

  // Second-rank pawns that cannot advance safely.
  sum = addPair(sum, countAt(stuckCount, countBits(shiftUp(c, own & relativeRankBB(c, 1)) & enemyAttacks)));

  // Passed pawns: stored for the second layer; connected ones score here,
  // and both kings are drawn towards every passer's stop square.
  const Square kings[2] = {pos.kingSquare(White), pos.kingSquare(Black)};
  Bitboard passed = front & safe;
  if (moreThanOne(passed)) sum = addPair(sum, SeveralPassers);
  int stored = 0;
  while (passed) {
    Square s = popLsb(passed);
    if (stored < 8) e.passed[c][stored++] = (uint8_t)s;
    if (squareBB[s] & (defended | beside)) sum = addPair(sum, CP[relativeRank(c, s)]);
    Square stop = c == White ? s + 8 : s - 8;
    if (stop < 0 || stop > 63) continue;
    kingProximity[White] = addPair(kingProximity[White], passedKingDistance[distance(kings[White], stop)]);
    kingProximity[Black] = addPair(kingProximity[Black], passedKingDistance[distance(kings[Black], stop)]);
  }

  // Candidate passers: free files whose enemy sentries can be exchanged off.
  Bitboard candidates = front & (defended | beside) & ~safe;
  while (candidates) {
    Square s = popLsb(candidates);
    int sentries = countBits(enemy & frontSpan(c, besideBB(squareBB[s])));
    if (sentries <= candidateSupporters(c, s, own, enemy)) sum = addPair(sum, CAND[relativeRank(c, s)]);
  }

  // King shelter and pawn storm.  A king still on its home square may
  // castle short, so it is credited with the better of both shelters.
  const Square k = kings[c];
  ScorePair shelter = shelterFor(c, own, fileOf(k), relativeRank(c, k));
  if (k == relativeSquare(c, 4)) {
    ScorePair castled = shelterFor(c, own, 6, 0);
    if (mgOf(castled) > mgOf(shelter)) shelter = castled;
  }
  ScorePair cover = addPair(shelter, stormFor(c, own, enemy, kings[them]));
  e.shelter[c] = (int16_t)(mgOf(cover) / 220);
  sum = addPair(sum, cover);

  // A king on its back rank walled in by its own pawns.
  if (relativeRank(c, k) == 0) {
    Bitboard kb = squareBB[k];
    Bitboard inFront = shiftUp(c, kb | besideBB(kb));
    if ((inFront & ~own) == 0) sum = addPair(sum, BackRankKing);
  }
  return sum;
}

// The whole first layer, inlined into each of the two builds below.  When
// sides is given it also receives each side's own sum (for the trace).
inline void fillPawnEntry(const Position& pos, PawnEntry& e, ScorePair* sides = nullptr) {
  e = PawnEntry{};
  e.key = pos.pawnKey;
  const Bitboard wp = pos.pieces[White][Pawn], bp = pos.pieces[Black][Pawn];
  const Bitboard all = wp | bp;

  e.span[White] = (uint8_t)fileSpan[fileBits(wp)];
  e.span[Black] = (uint8_t)fileSpan[fileBits(bp)];

  // Locked: a central file is closed to nobody and every pawn is rammed or
  // stuck behind an opposing pawn, so neither side can open the position.
  bool centralFileEmpty = false;
  for (int f = 2; f <= 5; f++) centralFileEmpty |= !(all & FileMask[f]);
  e.locked = centralFileEmpty && !(bp & ~northFill(wp >> 8)) && !(wp & ~southFill(bp << 8));

  ScorePair side[2] = {0, 0};
  ScorePair kingProximity[2] = {0, 0};
  for (int c = White; c <= Black; c++) side[c] = sideStructure(pos, c, e, kingProximity);

  // Kings belong near the pawn mass in the endgame.
  int n = countBits(all);
  if (n > 0) {
    int fileSum = 0;
    for (Bitboard b = all; b;) fileSum += fileOf(popLsb(b));
    int centre = fileSum / n;
    for (int c = White; c <= Black; c++) {
      int d = centre - fileOf(pos.kingSquare(c));
      side[c] = subPair(side[c], kingPawnMass[n < 16 ? n : 16][d < 0 ? -d : d]);
    }
  }
  side[White] = addPair(side[White], kingProximity[White]);
  side[Black] = addPair(side[Black], kingProximity[Black]);
  e.score = subPair(side[White], side[Black]);
  if (sides) sides[White] = side[White], sides[Black] = side[Black];
}

// Two builds of the same code: the second may count bits with the
// processor's instruction.  Both give identical results.
__attribute__((flatten)) void fillPortable(const Position& pos, PawnEntry& e) { fillPawnEntry(pos, e); }
ORVANE_TARGET_POPCNT __attribute__((flatten)) void fillPopcnt(const Position& pos, PawnEntry& e) { fillPawnEntry(pos, e); }

}  // namespace

void computePawnEntry(const Position& pos, PawnEntry& e) {
  if (hasPopcnt)
    fillPopcnt(pos, e);
  else
    fillPortable(pos, e);
}

void pawnSideScores(const Position& pos, ScorePair sides[2]) {
  PawnEntry e;
  fillPawnEntry(pos, e, sides);
}

const PawnEntry& probePawns(const Position& pos) {
  if (!pos.pawnTable) {
    static thread_local PawnEntry scratch;
    computePawnEntry(pos, scratch);
    return scratch;
  }
  PawnEntry& e = pos.pawnTable[pos.pawnKey & pawnTableMask];
  if (e.key != pos.pawnKey) computePawnEntry(pos, e);
  return e;
}

// Second layer: passed pawns against the pieces.  The further a passer has
// come, the more its kings' distances, the rooks behind it and a free path
// to its queening square matter.
void passedPawnTerms(const Position& pos, const PawnEntry& entry, EvalScratch& scratch) {
  const bool queenEnding = pos.phase == 44 && pos.pieces[White][Queen] && pos.pieces[Black][Queen];
  for (int c = White; c <= Black; c++) {
    const int them = other(c);
    const Square ownKing = pos.kingSquare(c), enemyKing = pos.kingSquare(them);
    for (int i = 0; i < 8 && entry.passed[c][i]; i++) {
      const Square s = entry.passed[c][i];
      const int r = relativeRank(c, s) - 1;
      if (r < 0 || r > 5) continue;
      ScorePair own = queenEnding ? passedBonusQueens[r] : passedBonus[r];
      if (r >= 2) {
        const Square stop = c == White ? s + 8 : s - 8;
        const Square queening = makeSquare(fileOf(s), c == White ? 7 : 0);
        const Bitboard path = frontSpan(c, squareBB[s]);
        own = addPair(own, KO[r][distance(ownKing, stop)]);
        own = addPair(own, KE[r][distance(enemyKing, stop)]);
        if (distance(ownKing, queening) <= 1) own = addPair(own, KingNearQueeningSquare);
        if (distance(enemyKing, queening) <= 1) scratch.score[them] = addPair(scratch.score[them], KingNearQueeningSquare);
        if (r != 2) {
          if (path & pos.pieces[c][Rook]) own = addPair(own, RookInFrontOfPasser);
          if (path & pos.pieces[them][Rook]) scratch.score[them] = addPair(scratch.score[them], RookInFrontOfPasser);
        }
        if (!(pos.occupied & squareBB[stop])) {
          const Bitboard defended = path & scratch.attacks[c][0];
          Bitboard attacked = path & (scratch.attacks[them][0] | pos.pieces[them][0]);
          // An enemy rook or queen behind the pawn with a clear line to it
          // attacks the whole path through the pawn.
          const Bitboard behind = rearSpan(c, squareBB[s]);
          const Bitboard heavy = behind & (pos.pieces[them][Rook] | pos.pieces[them][Queen]);
          if (heavy) {
            Square nearest = c == White ? 63 - __builtin_clzll(heavy) : lsb(heavy);
            if (!(between[nearest][s] & pos.occupied)) attacked = path;
          }
          if (!attacked)
            own = addPair(own, defended == path ? freePathSafeDefended[r] : freePathSafe[r]);
          else if (!(attacked & ~defended))
            own = addPair(own, freePathDefended[r]);
          if (!(path & pos.pieces[c][0])) own = addPair(own, freePathNoOwnPiece[r]);
        }
      }
      scratch.score[c] = addPair(scratch.score[c], own);
    }
  }
}
