// The fixed-depth benchmark over 50 built-in positions ("orvane bench").
#pragma once

// The 50 positions: the four leading FEN fields of each.
constexpr int BenchPositionCount = 50;
extern const char* const benchPositions[BenchPositionCount];

// Runs "bench [threads [depth [repetitions]]]" (argv[1] is "bench"), prints
// the per-depth node totals and times, then "Nodes searched: <signature>"
// and "Nodes/second: <speed>", joins the helper threads and returns the
// process exit status.
int runBenchmark(int argc, char** argv);
