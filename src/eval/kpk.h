// King and pawn against king: an exact win/draw table built once, by the
// first query, by retrograde analysis and stored as one bit per position.
//
// Layout (24576 bytes): positions are oriented so the pawn moves towards
// rank 1 (a white pawn's position is mirrored vertically) and, for a pawn on
// files e..h, mirrored horizontally.  index = ((pawn rank - 1) * 4 + pawn file)
// * 4096 + strong king * 64 + weak king; bit 2 * index + 1 holds the result
// with the pawn side to move, bit 2 * index with the other side to move.  A set
// bit means the pawn side wins.  Read-only after initKpk().
#pragma once

#include <cstdint>

#include "board/types.h"

constexpr int KpkBytes = 24 * 64 * 64 * 2 / 8;
extern uint8_t kpkTable[KpkBytes];

// Solves the ending and fills kpkTable once; later calls (from any thread)
// return at once.  kpkWins calls it itself.
void initKpk();

// Whether the pawn side wins.  Squares as they stand on the board; pawnColour
// owns the pawn and strongKing; pawnSideToMove says whose turn it is.
bool kpkWins(int pawnColour, Square strongKing, Square pawn, Square weakKing, bool pawnSideToMove);
