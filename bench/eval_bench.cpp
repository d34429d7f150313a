// Evaluation speed: a few thousand varied positions (random legal play from
// the benchmark positions), each evaluated once with cold caches, for both
// bit-counting builds.  The reported time per item is the cost of one full
// evaluation including pawn-table and material-table misses.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "board/movegen.h"
#include "board/position.h"
#include "engine/bench.h"
#include "eval/evaluate.h"
#include "eval/pawns.h"

namespace {

struct EvalSamples {
  std::vector<Position> positions;
  EvalCaches caches;
  EvalSamples() {
    initBitboards();
    initZobrist();
    hasPopcnt = cpuHasPopcnt() ? 1 : 0;
    buildSpecialMaterialTable();
    initTables();
    allocateEvalCaches(caches, 16, 1);
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (const char* fen : benchPositions) {
      Position start{};
      if (!setPosition(start, fen)) continue;
      for (int game = 0; game < 8; game++) {
        Position cur = start;
        for (int ply = 0; ply < 12; ply++) {
          int list[MaxMoves];
          int n = generateAll(cur, list);
          Position children[MaxMoves];
          int legal = 0;
          for (int i = 0; i < n; i++)
            if (makeMove(cur, children[legal], entryMove(list[i]))) legal++;
          if (!legal) break;
          seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
          cur = children[seed % legal];
          attachEvalCaches(cur, caches);
          cur.lastPositional = 0;
          positions.push_back(cur);
        }
      }
    }
  }
  void clearCaches() {
    std::memset(static_cast<void*>(caches.evalCache), 0, (evalCacheMask + 1) * sizeof(EvalCacheEntry));
    std::memset(static_cast<void*>(caches.pawnTable), 0, (pawnTableMask + 1) * sizeof(PawnEntry));
    std::memset(static_cast<void*>(caches.materialTable), 0, (materialTableMask + 1) * sizeof(MaterialEntry));
  }
};

EvalSamples& evalSamples() {
  static EvalSamples s;
  return s;
}

template <int (*Evaluate)(Position&, int, int)>
void evaluateCold(benchmark::State& state) {
  EvalSamples& s = evalSamples();
  int64_t sum = 0;
  for (auto _ : state) {
    state.PauseTiming();
    s.clearCaches();
    state.ResumeTiming();
    for (Position& pos : s.positions) sum += Evaluate(pos, -35000, 35000);
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * (int64_t)s.positions.size());
  state.counters["positions"] = (double)s.positions.size();
  state.counters["ns/eval"] = benchmark::Counter((double)s.positions.size() * state.iterations(),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Warm caches: every call is an eval-cache hit.
void evaluateWarm(benchmark::State& state) {
  EvalSamples& s = evalSamples();
  int64_t sum = 0;
  for (auto _ : state)
    for (Position& pos : s.positions) sum += evaluate(pos, -35000, 35000);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * (int64_t)s.positions.size());
}

}  // namespace

BENCHMARK(evaluateCold<evaluateSoft>)->Name("EvaluateColdSoftPopcount")->Unit(benchmark::kMillisecond);
BENCHMARK(evaluateCold<evaluateHard>)->Name("EvaluateColdHardPopcount")->Unit(benchmark::kMillisecond);
BENCHMARK(evaluateWarm)->Name("EvaluateWarm")->Unit(benchmark::kMillisecond);
