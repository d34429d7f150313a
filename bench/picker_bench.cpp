// Micro-benchmarks of move ordering and the transposition table.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "board/movegen.h"
#include "board/position.h"
#include "search/picker.h"
#include "tt/tt.h"

namespace {

const char* const Fens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
    "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
    "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
};

struct Samples {
  std::vector<Position> positions;
  HistoryTable history{};
  Samples() {
    initBitboards();
    initZobrist();
    for (const char* fen : Fens) {
      Position p{};
      setPosition(p, fen);
      p.historyTable = &history;
      positions.push_back(p);
    }
  }
};
Samples& samples() {
  static Samples s;
  return s;
}

// Every move of a normal node, in picker order.
void BM_PickerAllMoves(benchmark::State& state) {
  Samples& s = samples();
  for (auto _ : state)
    for (const Position& p : s.positions) {
      MovePicker mp(p, p.inCheck ? PlanInCheck : PlanNormal, 0, 0, 0, 0, 0, (int)state.range(0));
      int n = 0;
      while (mp.next()) ++n;
      benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(BM_PickerAllMoves)->Arg(8)->Arg(14);

// The picker up to the first good capture: what a capture cutoff costs.
void BM_PickerFirstMove(benchmark::State& state) {
  Samples& s = samples();
  for (auto _ : state)
    for (const Position& p : s.positions) {
      MovePicker mp(p, PlanNormal, 0, 0, 0, 0, 0, 8);
      benchmark::DoNotOptimize(mp.next());
    }
}
BENCHMARK(BM_PickerFirstMove);

void BM_StaticTests(benchmark::State& state) {
  Samples& s = samples();
  std::vector<std::pair<const Position*, Move>> moves;
  for (const Position& p : s.positions) {
    int list[MaxMoves];
    int n = generateAll(p, list);
    for (int i = 0; i < n; ++i) moves.push_back({&p, list[i] & 0xFFFF});
  }
  for (auto _ : state)
    for (auto& [p, m] : moves) {
      benchmark::DoNotOptimize(givesCheck(*p, m));
      benchmark::DoNotOptimize(losesMaterial(*p, m));
    }
  state.SetItemsProcessed(state.iterations() * moves.size());
}
BENCHMARK(BM_StaticTests);

void BM_TableStoreProbe(benchmark::State& state) {
  ttAllocate(64);
  std::mt19937_64 rng(1);
  std::vector<Key> keys(1 << 16);
  for (Key& k : keys) k = rng();
  size_t i = 0;
  for (auto _ : state) {
    Key k = keys[i++ & 0xFFFF];
    ttStore(k, 10, 25, BoundLower, 1234, 0);
    TTData d;
    benchmark::DoNotOptimize(ttProbe(keys[(i * 7) & 0xFFFF], d));
  }
}
BENCHMARK(BM_TableStoreProbe);

}  // namespace

BENCHMARK_MAIN();
