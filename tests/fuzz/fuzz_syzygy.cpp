// Feeds arbitrary bytes to the Syzygy table reader as one table file: the
// first byte picks one of the kept 3- and 4-man tables and whether the
// bytes are its WDL or its DTZ file (the other file of the pair stays the
// real one).  The registry is rebuilt with the kept tables, the fuzzed file
// first on the search path, and WDL and DTZ are probed for a set of
// positions of that material.  Every probe must end (the run's time limit
// bounds it) with a clean failure or a value: WDL within -2..2, and a DTZ
// of the same sign as the WDL.
#include <string>
#include <vector>

#include "tb/probe.h"
#include "tb/registry.h"
#include "common.h"

namespace {

const char* const Tables[] = {"KBvK", "KBvKB", "KBvKN", "KNNvK", "KNvK", "KNvKN", "KPvK",
                              "KPvKP", "KQQvK", "KQvK", "KQvKQ", "KRvK", "KRvKR"};
constexpr int TableCount = sizeof(Tables) / sizeof(Tables[0]);
constexpr int PositionsPerTable = 6;

// A pseudo-random legal position of the material (white's pieces before
// the 'v'), found by trying placements with a fixed generator.
std::vector<Position> positionsOf(const std::string& material) {
  std::vector<Position> found;
  uint64_t seed = 0x9E3779B97F4A7C15ull * (material.size() + 1);
  for (int tries = 0; tries < 100000 && (int)found.size() < PositionsPerTable; ++tries) {
    char board[64] = {};
    bool ok = true;
    int colour = 0;
    for (char piece : material) {
      if (piece == 'v') {
        colour = 1;
        continue;
      }
      seed = seed * 6364136223846793005ull + 1442695040888963407ull;
      const int s = (int)(seed >> 58);
      const bool pawn = piece == 'P';
      if (board[s] || (pawn && (s < 8 || s >= 56))) ok = false;
      board[s] = colour ? (char)(piece | 32) : piece;
    }
    if (!ok) continue;
    std::string fen;
    for (int rank = 7; rank >= 0; --rank) {
      for (int file = 0; file < 8; ++file) fen += board[rank * 8 + file] ? board[rank * 8 + file] : '1';
      if (rank) fen += '/';
    }
    fen += found.size() % 2 ? " b - -" : " w - -";
    Position pos;
    if (setPosition(pos, fen.c_str())) found.push_back(pos);
  }
  if ((int)found.size() < PositionsPerTable) fuzzFailure("too few positions of " + material);
  return found;
}

struct TableSet {
  std::vector<std::vector<Position>> positions;
  std::string keptDir, fuzzDir;
};

TableSet& tables() {
  static TableSet set;
  if (!set.positions.empty()) return set;
  discardStandardOutput();
  startEngine();
  set.keptDir = std::string(ORVANE_SOURCE_DIR) + "/tests/data/syzygy";
  set.fuzzDir = scratchDir();
  for (const char* name : Tables) {
    sourceFile(std::string("tests/data/syzygy/") + name + ".rtbw");
    sourceFile(std::string("tests/data/syzygy/") + name + ".rtbz");
    set.positions.push_back(positionsOf(name));
  }
  return set;
}

// A fresh registry of the kept tables, the scratch folder searched first.
void registerTables(const TableSet& set) {
  tbInit("");
  tbPaths = {set.fuzzDir, set.keptDir};
  for (const char* name : Tables) tbRegister(name);
}

int sign(int v) { return (v > 0) - (v < 0); }

void probeAll(const std::vector<Position>& positions, const std::string& table) {
  for (const Position& pos : positions) {
    int wdlOk = 0, dtzOk = 0;
    const int wdl = probeWdl(pos, &wdlOk);
    if (wdlOk && (wdl < -2 || wdl > 2)) fuzzFailure(table + ": WDL value " + std::to_string(wdl));
    const int dtz = probeDtz(pos, &dtzOk);
    if (wdlOk && dtzOk && sign(dtz) != sign(wdl))
      fuzzFailure(table + ": DTZ " + std::to_string(dtz) + " against WDL " + std::to_string(wdl));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TableSet& set = tables();
  if (size == 0) return 0;
  const int table = data[0] % (2 * TableCount) / 2;
  const char* suffix = data[0] % 2 ? ".rtbz" : ".rtbw";
  const std::string path = set.fuzzDir + "/" + Tables[table] + suffix;
  writeFile(path, data + 1, size - 1);
  registerTables(set);
  probeAll(set.positions[table], std::string(Tables[table]) + suffix);
  tbInit("");  // releases the mappings before the file goes
  std::remove(path.c_str());
  return 0;
}
