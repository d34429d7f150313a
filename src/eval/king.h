// King safety: the king-attack units each side gathers against the enemy
// king (during the piece loops, plus pawn storm, enemy shelter and weak
// squares next to the king) turned into a middle-game bonus through the
// king-attack table, which the "King Safety" option scales.  Also the static
// exchange test used for queen contact checks.
#pragma once

#include "eval/terms.h"

// Total king-attack units of attacker c after pieceTerms has run on scratch
// (not yet clamped at 0 or at the table size).
int kingAttackUnits(const Position& pos, const PawnEntry& entry, const EvalScratch& scratch, int c);
