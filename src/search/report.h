// The texts the root search sends while it searches: the score text, the
// principal-variation line, the current-move line and the MultiPV lines.
// Only thread 0 reports; every line is written whole and flushed at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "board/types.h"
#include "tb/probe.h"

// The score as UCI text ("cp 25", "mate 3", "cp 150 lowerbound") and the
// value actually shown (the driver's tbRootScore replaces a non-mate search
// score).  bound: 0 exact, 1 lower bound, 2 upper bound.
struct ScoreText {
  std::string text;
  int shown;
};
ScoreText scoreToText(int score, int bound);

// Seconds since the search started, never less than 0.001 (so a report in
// the first millisecond still has a finite speed).
double elapsedSeconds();

// "info depth ... pv ..." for iteration depth (plies) with score and PV.
void reportLine(int depth, int score, const Move* pv, int bound);
// "info currmove <move> currmovenumber <n>".
void reportCurrentMove(Move move, int number);
// "info multipv <k> depth ... pv ..." for the k-th line (1-based).
void reportMultiPVLine(int k, int depth, int score, const Move* pv);
