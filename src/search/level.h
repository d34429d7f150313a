// Playing strength: "UCI_LimitStrength" and "UCI_Elo".
//
// A level weakens the engine the way a weaker player is weak: it looks less
// far (a node budget that shrinks with the level, so it also never thinks
// longer than the full-strength engine under the same clock), and now and
// then it plays a plausible second choice.  The candidates are the best root
// lines of a MultiPV-style search; one is drawn with a weight that falls with
// its loss against the best line, the more steeply the higher the level, and
// a line that loses more than the level tolerates is never drawn.  So a mate
// or a free queen is always taken from 1400 up, and a random legal move is
// never played.
//
// The two option variables are written by the command handler only; the
// driver reads them once per "go" into a LevelPlan.  The random stream is
// seeded at start-up from the system; tests fix it with seedLevelRandom.
#pragma once

#include <cstdint>

#include "board/types.h"

namespace settings {
extern int limitStrength;  // "UCI_LimitStrength"
extern int uciElo;         // "UCI_Elo"
}  // namespace settings

constexpr int LevelMinElo = 800;
constexpr int LevelMaxElo = 2850;
constexpr int LevelDefaultElo = 1500;

// What a level changes in one search.  An inactive plan changes nothing.
struct LevelPlan {
  bool active;
  uint64_t nodeBudget;  // nodes of the whole search
  int lines;            // root lines searched with exact scores (candidates)
  int temperature;      // centipawns: a line that loses this much is drawn e^-1 as often as the best
  int maxLoss;          // centipawns: lines that lose more are never drawn
};

// The plan of a level (elo clamped into the option's range), and the plan
// of the current options (inactive while "UCI_LimitStrength" is off).
LevelPlan levelPlanFor(int elo);
LevelPlan currentLevelPlan();

// One root candidate: a move with its exact score and the reply the line
// expects (0 when the line has none).
struct LevelCandidate {
  Move move;
  int score;
  Move reply;
};

// Index of the candidate the level plays among count candidates (the best
// one is at index 0; the others in any order).  Only candidates within
// maxLoss of the best can be drawn.
int chooseLevelCandidate(const LevelCandidate* candidates, int count, const LevelPlan& plan);

// Fixes the random stream (tests and reproducible matches).
void seedLevelRandom(uint64_t seed);

// Root lines the running search keeps exact: the "MultiPV" option, or more
// while a level plays (set by the driver for the length of one search).
int rootLineCount();
void setLevelLines(int lines);
