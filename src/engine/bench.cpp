// The benchmark: fixed-depth searches of the 50 built-in positions, depth
// after depth, with the node total, the cumulative time and the growth
// factor of each depth.  The one-thread node total of the first repetition
// is the engine's signature: it starts from the tables of a fresh process,
// so it is the same in every run.  Later repetitions start with an empty
// transposition table but keep the history and the evaluation caches the
// earlier ones filled, as a series of searches in one game would.
//
// Two closing lines follow, in the form testing frameworks read:
// "Nodes searched: <signature>", the first repetition's deepest-depth
// total, and "Nodes/second: <speed>", every node of every depth and
// repetition over the sum of the repetitions' printed times.
#include "engine/bench.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "board/output.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/searchthread.h"
#include "search/threads.h"
#include "search/timeman.h"

namespace {

constexpr int DefaultBenchDepth = 12;
constexpr int FirstBenchDepth = 5;

// The four leading FEN fields of a benchmark text; ends the process when
// the text has fewer.
std::string benchFen(const char* text) {
  std::istringstream in(text);
  std::vector<std::string> fields;
  std::string field;
  while (in >> field) fields.push_back(field);
  if (fields.size() < 4) {
    std::fprintf(stderr, "bad benchmark position: %s\n", text);
    std::exit(1);
  }
  return fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3];
}

// What one repetition searched: the node total of its deepest depth, the
// nodes of all its depths and its time from the first search to the last.
struct RepetitionResult {
  long long deepestTotal = 0;
  long long nodes = 0;
  double seconds = 0;
};

// Rebuilds the tables, then searches every position at depths 5 to
// maxDepth, printing one line per depth.
RepetitionResult runRepetition(int maxDepth) {
  static Position root;  // large record: kept off the stack
  RepetitionResult result;
  benchMode.store(1, std::memory_order_relaxed);
  // Rebuilding the tables empties the pawn tables and, once a search has
  // run, the transposition table.
  initTables();
  const double start = now();
  double previousElapsed = 1e15;
  for (int depth = FirstBenchDepth; depth <= maxDepth; depth++) {
    writePart("\n%2d ", depth);
    long long total = 0;
    for (const char* text : benchPositions) {
      const std::string fen = benchFen(text);
      root = Position{};
      std::string error;
      if (!setPosition(root, fen.c_str(), &error)) {
        std::fprintf(stderr, "bad benchmark position %s: %s\n", fen.c_str(), error.c_str());
        std::exit(1);
      }
      search(root, depth, "", NoTimeLimit, NoTimeLimit);
      total += (long long)totalNodes();
      writePart(".");
    }
    const double elapsed = now() - start;
    if (depth == FirstBenchDepth)
      writePart(" %14lld nds %7.2f sec", total, elapsed);
    else
      writePart(" %14lld nds %7.2f sec  %6.2f bf", total, elapsed, elapsed / previousElapsed);
    previousElapsed = elapsed;
    result.deepestTotal = total;
    result.nodes += total;
    result.seconds = elapsed;
  }
  writePart("\n\n");
  return result;
}

// The closing lines.  The speed divides by at least a millisecond, the
// clock's resolution, so that a benchmark too short to measure still
// prints a number.
void printSignature(long long signature, long long nodes, double seconds) {
  const long long nodesPerSecond = (long long)((double)nodes / std::max(seconds, 0.001));
  writeLine("Nodes searched: %lld\nNodes/second: %lld", signature, nodesPerSecond);
}

}  // namespace

int runBenchmark(int argc, char** argv) {
  if (argc > 2) {
    const int threads = std::atoi(argv[2]);
    if (threads >= 1 && threads <= MaxThreads) {
      settings::threads = threads;
      buildPool();
    }
  }
  int maxDepth = DefaultBenchDepth, repetitions = 1;
  if (argc > 3) {
    maxDepth = std::atoi(argv[3]);
    repetitions = argc > 4 ? std::atoi(argv[4]) : 1;
  }
  if (maxDepth >= MaxIterations) maxDepth = MaxIterations - 1;

  long long signature = 0, nodes = 0;
  double seconds = 0;
  for (int r = 0; r < repetitions; r++) {
    const RepetitionResult result = runRepetition(maxDepth);
    if (r == 0) signature = result.deepestTotal;
    nodes += result.nodes;
    seconds += result.seconds;
  }
  printSignature(signature, nodes, seconds);
  benchMode.store(0, std::memory_order_relaxed);
  quitRequested.store(1, std::memory_order_relaxed);
  stopPool();
  return 0;
}
