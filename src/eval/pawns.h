// Pawn structure.  The first layer depends only on the pawns and the two
// kings, so its result is kept in the per-thread PawnTable (reached through
// Position::pawnTable, indexed by pawnKey AND pawnTableMask) and recomputed
// only on a miss.  The second layer (passed pawns against pieces) runs on
// every full evaluation and lives in terms.h.  Each thread owns its table;
// nothing here is shared or locked.
#pragma once

#include "board/position.h"

// One PawnTable slot (40 bytes).  All scores are fine units, mg first.
struct PawnEntry {
  Key key;                // pawnKey of the structure stored here; 0 when cleared
  ScorePair score;        // white's first-layer terms minus black's
  int16_t shelter[2];     // mg half of each side's shelter-and-storm sum / 220
  uint8_t passed[2][8];   // squares of each side's passed pawns, lowest first, 0-terminated
  uint8_t locked;         // 1 when the pawn structure is locked
  uint8_t span[2];        // files from leftmost to rightmost pawn inclusive (0 = no pawns)
  uint8_t spare;
};
static_assert(sizeof(PawnEntry) == 40, "PawnTable entries are 40 bytes");

// The slot for pos.pawnKey, recomputed first when it holds another key.  With
// no table attached (pos.pawnTable == nullptr) a per-thread scratch slot is used.
const PawnEntry& probePawns(const Position& pos);

// Computes the first layer for pos into entry (key included), without any table.
void computePawnEntry(const Position& pos, PawnEntry& entry);
// Each side's own first-layer sum (white's, black's); their difference is
// the entry's score.  For the evaluation trace.
void pawnSideScores(const Position& pos, ScorePair sides[2]);
