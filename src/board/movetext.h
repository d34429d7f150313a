// UCI move text: "e2e4", "a7a8q", "0000".  Castling (stored as king takes
// own rook) prints as the king's destination unless UCI_Chess960 is on.
#pragma once

#include <string>

#include "board/types.h"

std::string moveToText(Move m);
// Each move followed by one blank, up to the first 0 or 64 moves.
std::string pvToText(const Move* pv);
