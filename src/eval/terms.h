// Positional terms of a full evaluation, as the evaluation driver calls them:
// pieces, mobility, outposts, patterns and threats; king safety; and the
// passed pawn terms that depend on pieces.
//
// The terms share one EvalScratch per evaluation (on the caller's stack): the
// attack maps gathered while the pieces are scored are reused by king safety,
// threats and passed pawns.  Everything is computed for a colour parameter,
// so each term is written once and is colour-symmetric by construction.  No
// heap, no locks: these run at every evaluated node.
#pragma once

#include "board/position.h"
#include "eval/pawns.h"

// Per-evaluation scratch shared by the term functions below.
struct EvalScratch {
  // attacks[c][t]: squares attacked by c's pieces of type t (1 pawn .. 6 king,
  // sliders with the full occupancy); attacks[c][0]: union over pawns,
  // knights, bishops, rooks and queens (king excluded).
  Bitboard attacks[2][8];
  Bitboard pinned[2];    // c's pieces standing alone between an enemy slider and c's king
  int kingUnits[2];      // king-attack units gathered by c against the enemy king
  int queenCheckUnits[2];  // c's queen-check units, capped when king safety is finished
  // The enemy king as seen by attacker c:
  Bitboard kingAdjacent[2];    // squares next to the enemy king
  Bitboard safeChecks[2];      // squares from which c may safely give check
  Bitboard diagonalChecks[2];  // the enemy king's diagonals (full occupancy)
  Bitboard straightChecks[2];  // the enemy king's ranks and files (full occupancy)
  ScorePair score[2];    // per-side sums of the terms added so far
  ScorePair mobility[2]; // c's mobility terms while the piece loops run; pieceTerms folds them into score
};

// All piece-dependent positional terms in one call: clears scratch, runs pieceTerms, kingSafety,
// threatTerms and passedPawnTerms in that order and returns
// score[White] - score[Black].  The driver adds psq to this, scales it by
// 136/128 per half, then adds entry.score (the first pawn layer).
ScorePair positionalTerms(const Position& pos, const PawnEntry& entry, EvalScratch& scratch);

// The individual steps, for the evaluation trace (each adds to scratch.score
// of both sides; call them in the order above after clearScratch).
void clearScratch(const Position& pos, EvalScratch& scratch);  // zeroes sums, fills pawn and king attacks and pins
void pieceTerms(const Position& pos, const PawnEntry& entry, EvalScratch& scratch);
void kingSafety(const Position& pos, const PawnEntry& entry, EvalScratch& scratch);
void threatTerms(const Position& pos, EvalScratch& scratch);
void passedPawnTerms(const Position& pos, const PawnEntry& entry, EvalScratch& scratch);

// Pawn endings (min(phase, 96) < 18): the driver adds the pawn-span table
// entry of entry.span[White] and subtracts that of entry.span[Black].

// Static exchange test: -1 when move (by side) loses material in the exchange
// on its target square, else 0.  Used by king safety for queen contact checks.
int seeLoses(const Position& pos, int side, Move move);
