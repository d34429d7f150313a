// Known endings with a dedicated formula.  Each EndgameFunction (see
// evaluate.h) is reached through the special material table by material key
// alone; it writes the scale for the positional part (0: return the value
// alone) and returns a value in fine units from white's point of view.  The
// strong side is the side owning the extra piece or the pawn.
#pragma once

#include "eval/evaluate.h"

// King, bishop and knight against king: drive the king to a corner of the
// bishop's colour.
int bishopKnightMate(const Position& pos, double* scale);
// King, knight and pawn against king.
int knightPawnVersusKing(const Position& pos, double* scale);
// King and pawn against king, from the exact win table.
int kingPawnVersusKing(const Position& pos, double* scale);
// Rook and pawn against rook: drawish when the defending king blocks the file.
int rookPawnVersusRook(const Position& pos, double* scale);
