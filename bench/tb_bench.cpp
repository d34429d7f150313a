// Tablebase probe speed: WDL probes of 5-man positions (captures and en
// passant resolved, as the search asks them) with every table already
// mapped and decoded, so the time per item is the cost of one probeWdl.
// Needs the shared tables in ../shared/syzygy (or ORVANE_SYZYGY).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "board/position.h"
#include "tb/probe.h"

namespace {

const char* const Materials[] = {"KRPvKR", "KBBvKN", "KQRvKR", "KRPvKP", "KNNvKP", "KRBvKR"};

// Legal positions with the material of name, pieces on random squares.
void addPositions(const std::string& name, int count, std::mt19937& rng, std::vector<Position>& out) {
  for (int added = 0; added < count;) {
    std::string board(64, '1');
    bool black = false;
    for (char c : name) {
      if (c == 'v') {
        black = true;
        continue;
      }
      int s;
      do s = (int)(rng() % 64);
      while (board[s] != '1' || (c == 'P' && (s < 8 || s >= 56)));
      board[s] = black ? (char)(c + 32) : c;
    }
    std::string fen;
    for (int r = 0; r < 8; r++) fen += board.substr(8 * r, 8) + (r < 7 ? "/" : "");
    fen += added % 2 ? " b - - 0 1" : " w - - 0 1";
    Position pos;
    int success = 0;
    if (!setPosition(pos, fen.c_str())) continue;
    probeWdl(pos, &success);  // maps the tables this position reaches
    if (!success) continue;
    out.push_back(pos);
    added++;
  }
}

struct ProbeSamples {
  std::vector<Position> positions;
  ProbeSamples() {
    initBitboards();
    initZobrist();
    hasPopcnt = cpuHasPopcnt() ? 1 : 0;
    const char* dir = std::getenv("ORVANE_SYZYGY");
    tbInit(dir ? dir : "../shared/syzygy");
    if (maxMen < 5) return;
    std::mt19937 rng(7);
    for (const char* m : Materials) addPositions(m, 2000, rng, positions);
    std::shuffle(positions.begin(), positions.end(), rng);
  }
};

void BM_ProbeWdl5Man(benchmark::State& state) {
  static ProbeSamples samples;
  if (samples.positions.empty()) {
    state.SkipWithError("no 5-man tables (run from the repository root or set ORVANE_SYZYGY)");
    return;
  }
  size_t i = 0;
  for (auto _ : state) {
    int success = 0;
    benchmark::DoNotOptimize(probeWdl(samples.positions[i], &success));
    if (++i == samples.positions.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ProbeWdl5Man);

}  // namespace
