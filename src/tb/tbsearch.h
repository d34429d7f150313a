// Tablebases at the root and in the search.
//
// At the start of every search the driver asks tbRootFilter which root moves
// keep the best tablebase result: distance-to-zero first (so a won game is
// converted within the fifty-move rule), win/draw/loss when a DTZ table is
// missing.  When the tables resolve the root, only the selected moves are
// searched, the root shows the tablebase score, and the search itself no
// longer probes.  Otherwise the search probes win/draw/loss (tbScore) in
// nodes with few enough pieces.
//
// tbRootFilter runs on the main thread before the helpers start (the DTZ
// probe is confined to it); tbScore runs on every search thread.  Both read
// the option variables "Use Syzygy", "Syzygy Probe Limit" and "Syzygy 50
// Move Rule", written only while no search runs.
#pragma once

#include <cstdint>

#include "board/position.h"

// Root score meaning "the tables did not rank the root".
constexpr int TbNoRootScore = 2147483647;
// A tablebase win just short of the mate scores, so it never looks like a
// mate the search has seen.
constexpr int TbWinScore = 31799;
// Time targets at or below this leave no room for probing (seconds).
constexpr double TbMinTarget = 0.1;

// Root score of each win/draw/loss value, indexed by wdl + 2.
constexpr int wdlToValue[5] = {-TbWinScore, -2, 0, 2, TbWinScore};

// One root move kept by the filter, with its ranking score: signed plies to
// the next zeroing move after the DTZ filter, the win/draw/loss value after
// the WDL filter.
struct TbRootMove {
  Move move;
  int32_t score;
};

// What the filter decided for one search.
struct TbRootResult {
  int limit;       // most pieces the tables may serve in this search; 0 = none
  int probeLimit;  // most pieces the search probes (0 once the root is resolved)
  int moveCount;   // rootMoveCount: moves selected, 0 when the root was not resolved
  int rootScore;   // tbRootScore: score shown for the root, TbNoRootScore = none
};

// Filters the legal moves of root by the tablebases.  targetTime is the
// search's time target in seconds.  The selected moves, best first, go to
// moves (at most capacity - 1 of them, then a terminating move 0); the list
// is left empty when moveCount is 0.  Resets tbHits.
TbRootResult tbRootFilter(const Position& root, double targetTime, TbRootMove* moves, int capacity);

// In-search probe: the tablebase score of pos at distance ply from the root
// (wins just below the mate scores, shorter wins higher).  False when the
// tables cannot tell.
bool tbScore(const Position& pos, int ply, int* score);

// Whether a position has been repeated since the last capture or pawn move,
// looking back from root through the game line.
bool repetitionSinceZeroing(const Position& root);
