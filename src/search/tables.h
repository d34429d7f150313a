// Fixed tables of the search's selective rules: late-move reductions and
// pruning counts shaped by the "Selectivity" and "Reduction" options, the
// futility, razoring and threat margins, the history thresholds and factors,
// and the phase-dependent piece values of the quiescence search.
//
// All of them are process-wide and built on the main thread (at start-up and
// after every accepted option change, never during a search); the search
// threads only read them.
#pragma once

// Late-move reductions in half plies, [improving][depth 0..63][move number 0..63];
// 0 or at least 2.
extern int reductionNonPV[2][64][64];
extern int reductionPV[2][64][64];
// Late-move-pruning move counts by (reduced) depth 0..25.
extern int lmpCount[26];
// Base of the move-futility margins, by depth in whole plies.
extern int moveFutilityBase[24];
// Piece values of the quiescence search's delta filter, [phase 0..96][type 0..6].
extern int qsearchPieceValue[97][7];

// Static-null-move margins, [cutNode][depth 0..13].
extern int futilityMargin[2][14];
// Move-loop futility margins, [depth in whole plies 0..15][cutNode].
extern int moveFutilityMargin[16][2];
// History score below which a late move is reduced more, by move count 0..399.
extern int historyThreshold[400];
// Weight of a history update, by (cut index / 12 + depth) 0..199.
extern int historyFactor[200];

// Razoring margin by depth 0..5 (half plies).
constexpr int razorMargin[6] = {0, 0, 10, 15, 30, 35};
// Extra razoring margin by threat size 0..19.
constexpr int threatMargin[20] = {0,  50,  62,  70,  76,  81,  86,  90,  93,  97,
                                  100, 103, 105, 108, 110, 113, 115, 117, 119, 121};
// Margin below beta for dropping straight into the quiescence search, by depth 0..7.
constexpr int qsearchRazorMargin[8] = {20, 40, 120, 160, 400, 500, 1200, 1300};

// Rebuilds the option-dependent tables (reductions, pruning counts,
// futility base, quiescence piece values) from settings::selectivity and
// settings::reduction.
void initReductionTables();
// Fills the option-independent tables (margins, history thresholds and
// factors).
void initPruningTables();
// Both of the above: the one call the front end makes after start-up and
// after every accepted option change.
void initSearchTables();
