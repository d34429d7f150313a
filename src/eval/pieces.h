// Piece terms: mobility, placement, outposts, patterns and threats of the
// knights, bishops, rooks and queens (entry points in terms.h).  Computed on
// every full evaluation for both sides in one pass, into the caller's
// EvalScratch; nothing is cached or shared.
#pragma once

#include "eval/terms.h"

// Pieces (of either colour) that stand alone between an enemy bishop, rook
// or queen and c's king, on a line that slider moves along.
Bitboard pinLine(const Position& pos, int c);
