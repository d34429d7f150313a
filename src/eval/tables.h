// Evaluation tables.  Every table the evaluation reads lives here as a
// process-wide array, written only by initTables() (evaluate.h) at start-up and
// after an accepted option change, never while a search runs; the evaluation
// reads them without locks.  Values are in fine units (1/10 of a score unit)
// and pairs are ScorePairs (middle game, end game).
//
// Count tables are indexed by the number of pieces/pawns/squares counted.  Legal
// positions stay inside every table, but artificial ones (many promoted pieces)
// can exceed the threat table, the king-attack table and the count tables:
// read them through countAt() / kingAttackAt(), which clamp to the last entry.
#pragma once

#include <cstddef>

#include "board/bitboard.h"

// ---------------------------------------------------------------------------
// Phase tables, indexed by phase 0..96 (or by the phase weight 0..96).
extern int phaseWeight[97];           // phase -> weight of the middle-game half
extern double materialScaleBase[97];  // weight -> base scale of the material balance
extern int tempoBonus[97];            // phase -> bonus for the side to move

// ---------------------------------------------------------------------------
// Mobility, indexed by the number of counted squares.
extern ScorePair knightMobility[16];
extern ScorePair bishopMobility[16];
extern ScorePair bishopPawnView[16];  // squares seen when only pawns block
extern ScorePair rookMobility[16];
extern ScorePair queenMobility[32];

// King-attack units -> middle-game bonus, scaled by "King Safety" (KA).
constexpr int KingAttackSize = 256;
extern ScorePair KA[KingAttackSize];

// ---------------------------------------------------------------------------
// Count tables: entry n is the pair for n counted items.
// Pawn structure
extern ScorePair doubledCount[9];            // surplus pawns on occupied files
extern ScorePair supportedBesideCount[9];    // defended and beside an own pawn
extern ScorePair stuckCount[9];              // second-rank pawn, stop square attacked
extern ScorePair besideCount[9];             // own pawn directly beside
extern ScorePair defendedCount[9];           // defended by an own pawn
extern ScorePair isolatedCount[9];           // isolated, enemy pawn on the file
extern ScorePair isolatedOpenCount[9];       // isolated, no enemy pawn on the file
extern ScorePair isolatedDoubledCount[9];    // isolated frontmost doubled, enemy pawn on file
extern ScorePair isolatedDoubledOpenCount[9];
extern ScorePair backwardCount[9];           // backward, stop blocked or attacked
extern ScorePair backwardOpenCount[9];       // backward on an open file, stop attacked
extern ScorePair pawnControlCount[18];       // squares attacked by own pawns
extern ScorePair leverCount[18];
// Pieces and threats
extern ScorePair knightBlockadeCount[9];
extern ScorePair blockedPawnCount[9];
extern ScorePair crampCount[9];
extern ScorePair bishopPawnsSameColour[9];   // own pawns on the bishop's colour
extern ScorePair bishopPawnsOtherColour[9];  // own pawns on the other colour
extern ScorePair minorBehindPawnCount[18];
extern ScorePair pieceDefendedCount[18];     // attacked, defended by pieces only
extern ScorePair TH[18];                     // threats
extern ScorePair pawnDefendedPieceCount[18]; // own pieces defended by own pawns
extern ScorePair outpostCount[18];           // knight outposts
extern ScorePair safeFromPawnsCount[18];
extern ScorePair undefendedPawnCount[16];
// Pawn span (files from leftmost to rightmost pawn), end-game only.
extern ScorePair pawnSpanPair[9];

// ---------------------------------------------------------------------------
// Pawn tables.  Rank-indexed tables use the relative rank 0..7 (own back
// rank = 0) unless said otherwise; r-indexed tables use r = relative rank - 2.
extern ScorePair passedRankBase[8];   // P: passed-pawn base by relative rank
extern ScorePair CP[8];               // connected passer (P / 4)
extern ScorePair CAND[8];             // candidate passer (11 P / 16)
extern ScorePair passedBonus[8];      // second layer by r
extern ScorePair passedBonusQueens[8];  // same, queen ending with 44 phase points
extern ScorePair freePathSafeDefended[8];  // by r: path unattacked, fully defended
extern ScorePair freePathSafe[8];          // by r: path unattacked
extern ScorePair freePathDefended[8];      // by r: attacked squares all defended
extern ScorePair freePathNoOwnPiece[8];    // by r: no own piece on the path
extern ScorePair KO[9][9];            // [r][distance] own king to the stop square
extern ScorePair KE[9][9];            // [r][distance] enemy king to the stop square
extern ScorePair passedKingDistance[8];  // D: king distance to a passer's stop square
extern ScorePair knightKingDistance[8];  // knight distance to its own king
extern ScorePair kingPawnMass[17][15];   // [pawns][file distance], end game only
extern ScorePair shelterRank[8];      // by relative rank
extern ScorePair stormBlocked[8];     // by relative rank
extern ScorePair stormOpen[8];        // by relative rank
extern ScorePair stormEmptyFiles[4];  // by number of king files holding an own pawn
extern int fileSpan[256];             // file mask -> leftmost..rightmost file count

// ---------------------------------------------------------------------------
// Piece-square tables by colour, type and square (the board keeps psq from
// pieceSquare[colour * 8 + type], filled from this table).
extern ScorePair PST[2][8][64];

// ---------------------------------------------------------------------------
// Clamped readers.
template <std::size_t N>
inline ScorePair countAt(const ScorePair (&table)[N], int n) {
  return table[n < (int)N ? n : (int)N - 1];
}
inline ScorePair kingAttackAt(int units) {
  return KA[units < 0 ? 0 : units < KingAttackSize ? units : KingAttackSize - 1];
}

// ---------------------------------------------------------------------------
// The two builds of the evaluation differ only in how bits are counted.  Code
// that wants both builds takes one of these policies as a template parameter.
struct SoftCount {
  static int count(Bitboard b) { return popcountSoft(b); }
};
struct HardCount {
  static int count(Bitboard b) { return __builtin_popcountll(b); }
};

// Builds every table above from its formula; "King Safety" feeds KA.
void buildEvalTables();
