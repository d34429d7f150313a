// The search driver: one "go" from the root set-up to "bestmove".
//
// search() runs on the main thread inside the command handler (and in the
// benchmark's quiet mode): it prepares the root move list, deepens the
// search one iteration at a time with aspiration windows, decides after each
// iteration whether another one is worth its time, and prints the answer.
// Its globals are written by the main thread only; the root search and the
// reports read them.
#pragma once

#include "board/position.h"
#include "tb/tbsearch.h"

constexpr int NoTbRootScore = TbNoRootScore;

extern double searchStart;   // now() when the running search started
extern int tbRootScore;      // score shown after a tablebase root ranking; NoTbRootScore = none
extern int tbProbeLimit;     // most pieces the search may probe in the tablebases
extern bool infiniteSearch;  // "go infinite": answer only after "stop"
extern int lastIteration;    // depth of the last iteration started by the driver

// Once standard input has ended and every line has been taken, stops a
// ponder or infinite search: nothing can send its "stop" or "ponderhit" any
// more, so it answers now.  Called from the clock poll and while such a
// search waits to answer.
void stopOpenSearchAtEndOfInput();

// Searches root up to depthLimit iterations (99 = no limit), restricted to
// the moves whose text occurs in searchMovesText when it is not empty, with
// the target and maximum time in seconds (NoTimeLimit = none).  Prints
// "bestmove" unless the benchmark runs.  Returns the last iteration's score
// (-32001 when it was stopped before any result).
int search(Position& root, int depthLimit, const char* searchMovesText, double targetTime, double maxTime);

// The aspiration window of one root search and the margin of its next
// widening.
struct AspirationWindow {
  int alpha, beta, delta;
};
// First window of an iteration on `thread` of `threads`, around the
// previous iteration's score.
AspirationWindow firstWindow(int previous, int thread, int threads);
// The next window after the root search returned v outside w.
void widenAfterFail(AspirationWindow& w, int v);

// One iteration of depth d (plies) on the thread owning pos, with
// aspiration windows around the previous iteration's score.
void iterate(Position& pos, int depth);
