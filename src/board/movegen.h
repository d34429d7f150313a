// Pseudo-legal move generation.  Generators write 32-bit entries (Move in
// the low half, ordering score in the high half) into a caller-supplied array
// of at least MaxMoves entries and return the count.  Legality is left to
// makeMove's final king test.
#pragma once

#include "board/position.h"

int generateCaptures(const Position& pos, int* list);
int generateEvasions(const Position& pos, int* list);
int generateCastling(const Position& pos, int colour, int* list);
int generateDoublePushes(const Position& pos, int colour, int* list);
int generateAll(const Position& pos, int* list);
bool isPseudoLegal(const Position& pos, Move move);

// Number of leaf nodes at depth: the legal move paths of that length.
uint64_t perft(const Position& pos, int depth);
