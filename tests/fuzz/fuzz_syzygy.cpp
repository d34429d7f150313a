// Feeds arbitrary bytes to the Syzygy table reader as one table file: the
// first byte picks one of the kept 3- and 4-man tables and whether the
// bytes are its WDL or its DTZ file (the other file of the pair stays the
// real one).  The registry is rebuilt with the kept tables, the fuzzed file
// first on the search path, and WDL and DTZ are probed for a set of
// positions of that material.  Every probe must end (the run's time limit
// bounds it) with a clean failure or a WDL within -2..2.  Then the
// positions of the recorded probes (tests/data/syzygy-probes.txt) of an
// undamaged table, KQvK or KRvK, whichever was not fuzzed, are probed in the
// same registry: each must still give its recorded WDL and DTZ, so damage
// in one table never leaks into another through shared state (the DTZ
// cache, the decoding tables, the mappings).  KPvKP, pawns on both sides,
// is within the run's length limit by its DTZ file.
#include <sstream>
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

// A recorded probe: the position and its WDL and DTZ.
struct KnownProbe {
  Position pos;
  std::string fen;
  int wdl, dtz;
};

// The material of a FEN's board, the stronger listing first as the tables
// are named (white's pieces first unless only black has any besides the
// king): "KQvK" for both colours' queen.
std::string tableOf(const std::string& fen) {
  std::string white, black;
  for (char c : fen.substr(0, fen.find(' ')))
    for (const char* order = "KQRBNP"; *order; ++order)
      if (c == *order) white += c;
      else if (c == *order + 32) black += *order;
  auto ranked = [](std::string side) {
    std::string out;
    for (const char* order = "KQRBNP"; *order; ++order)
      for (char c : side)
        if (c == *order) out += c;
    return out;
  };
  white = ranked(white);
  black = ranked(black);
  return white.size() >= black.size() ? white + "v" + black : black + "v" + white;
}

// A recorded win, draw and loss of one material.
std::vector<KnownProbe> knownProbes(const std::string& material) {
  const std::vector<uint8_t> bytes = sourceFile("tests/data/syzygy-probes.txt");
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::vector<KnownProbe> probes;
  std::string line;
  while (std::getline(in, line)) {
    KnownProbe p;
    p.fen = line.substr(0, line.find(';'));
    const size_t w = line.find("; wdl "), d = line.find("; dtz ");
    if (w == std::string::npos || d == std::string::npos) fuzzFailure("unreadable probe line " + line);
    if (tableOf(p.fen) != material) continue;
    p.wdl = std::stoi(line.substr(w + 6));
    bool seen = false;
    for (const KnownProbe& q : probes) seen |= q.wdl == p.wdl;
    if (seen) continue;
    p.dtz = std::stoi(line.substr(d + 6));
    if (!setPosition(p.pos, p.fen.c_str())) fuzzFailure("recorded probe position refused: " + p.fen);
    probes.push_back(p);
  }
  if (probes.size() != 3) fuzzFailure("no recorded win, draw and loss of " + material);
  return probes;
}

struct TableSet {
  std::vector<std::vector<Position>> positions;
  std::string keptDir, fuzzDir;
  std::vector<KnownProbe> queen, rook;  // recorded probes of KQvK and of KRvK
};

void registerTables(const TableSet& set);
void checkKnown(const std::vector<KnownProbe>& probes, const std::string& after);

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
  set.queen = knownProbes("KQvK");
  set.rook = knownProbes("KRvK");
  registerTables(set);
  checkKnown(set.queen, "no damaged table");
  checkKnown(set.rook, "no damaged table");
  return set;
}

// A fresh registry of the kept tables, the scratch folder searched first.
void registerTables(const TableSet& set) {
  tbInit("");
  tbPaths = {set.fuzzDir, set.keptDir};
  for (const char* name : Tables) tbRegister(name);
}

void probeAll(const std::vector<Position>& positions, const std::string& table) {
  for (const Position& pos : positions) {
    int wdlOk = 0, dtzOk = 0;
    const int wdl = probeWdl(pos, &wdlOk);
    if (wdlOk && (wdl < -2 || wdl > 2)) fuzzFailure(table + ": WDL value " + std::to_string(wdl));
    probeDtz(pos, &dtzOk);
  }
}

// Every recorded probe must give its recorded values.
void checkKnown(const std::vector<KnownProbe>& probes, const std::string& after) {
  for (const KnownProbe& p : probes) {
    int wdlOk = 0, dtzOk = 0;
    const int wdl = probeWdl(p.pos, &wdlOk);
    const int dtz = probeDtz(p.pos, &dtzOk);
    if (!wdlOk || !dtzOk || wdl != p.wdl || dtz != p.dtz)
      fuzzFailure("after " + after + ", " + p.fen + " gives WDL " + (wdlOk ? std::to_string(wdl) : "failed") +
                  " DTZ " + (dtzOk ? std::to_string(dtz) : "failed") + ", recorded " + std::to_string(p.wdl) + " " +
                  std::to_string(p.dtz));
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
  const std::string name = std::string(Tables[table]) + suffix;
  probeAll(set.positions[table], name);
  checkKnown(name.rfind("KQvK.", 0) == 0 ? set.rook : set.queen, "damaged " + name);
  tbInit("");  // releases the mappings before the file goes
  std::remove(path.c_str());
  return 0;
}
