#include "common.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/bitboard.h"
#include "board/settings.h"
#include "engine/input.h"
#include "engine/log.h"
#include "engine/options.h"
#include "engine/uci.h"
#include "eval/evaluate.h"
#include "search/flags.h"
#include "search/threads.h"
#include "tb/probe.h"
#include "tt/tt.h"

namespace {

bool queueIsEmpty() { return commandQueueEmpty(); }
// A "quit" reaching the search must not end the fuzzing process; the
// targets keep "quit" lines away, so this is a finding.
void quitFromSearch() { fuzzFailure("the search ran the quit sequence"); }

}  // namespace

void discardStandardOutput() {
  static bool done = false;
  if (done) return;
  done = true;
  cookie_io_functions_t sink{};
  sink.write = [](void*, const char*, size_t size) -> ssize_t { return (ssize_t)size; };
  FILE* nowhere = fopencookie(nullptr, "w", sink);
  if (!nowhere) fuzzFailure("cannot open the output sink");
  stdout = nowhere;
}

void startEngine() {
  static bool started = false;
  if (started) return;
  started = true;
  for (EvalCaches& caches : threadCaches) caches = EvalCaches{};
  settings::threads = 1;
  settings::tableMemory = 1;
  buildPool();
  hasPopcnt = cpuHasPopcnt() ? 1 : 0;
  initBitboards();
  initZobrist();
  registerEngineOptions();
  settings::bookFile.clear();
  settings::tableMemory = 1;
  settings::hashMb = 1;
  buildSpecialMaterialTable();
  initTables();
  tbInit("");
  ttAllocate(1);
  tt.allocatedMegabytes = 1;
  if (settings::tableMemory != builtTableMemory) {
    builtTableMemory = settings::tableMemory;
    buildPool();
  }
  // The helpers wait on the pool's condition variable; they must be gone
  // before the static objects are destroyed at exit, as in the program's
  // quit sequence.
  std::atexit([] { stopPool(); });
  commandPoller = handleCommand;
  commandQueueIsEmpty = queueIsEmpty;
  quitSequence = quitFromSearch;
  logMessage = logText;
  logIsActive = logIsOpen;
}

std::string positionFault(const Position& pos) {
  std::ostringstream out;
  for (int c = 0; c < 2; ++c) {
    Bitboard all = 0;
    for (int t = Pawn; t <= King; ++t) {
      if (all & pos.pieces[c][t]) out << "overlapping piece bitboards; ";
      all |= pos.pieces[c][t];
      for (Bitboard b = pos.pieces[c][t]; b; b &= b - 1)
        if (pos.board[lsb(b)] != pieceCode(c, t)) out << "board array differs from bitboard at " << lsb(b) << "; ";
    }
    if (all != pos.pieces[c][0]) out << "colour union wrong; ";
    if (popcount(pos.pieces[c][King]) != 1) out << "not one king; ";
  }
  if (pos.pieces[White][0] & pos.pieces[Black][0]) out << "colours overlap; ";
  if (pos.occupied != (pos.pieces[White][0] | pos.pieces[Black][0])) out << "occupied wrong; ";
  for (int s = 0; s < 64; ++s)
    if (pos.board[s] && !(pos.occupied & squareBB[s])) out << "board array holds a piece off the bitboards; ";
  if (pos.pieceCount != (uint32_t)popcount(pos.occupied)) out << "pieceCount wrong; ";
  if (pos.key != computeKey(pos)) out << "key differs from scratch; ";
  if (pos.pawnKey != computePawnKey(pos)) out << "pawnKey differs; ";
  if (pos.materialKey != computeMaterialKey(pos)) out << "materialKey differs; ";
  if (pos.tbKey != computeTbKey(pos)) out << "tbKey differs; ";
  if (pos.inCheck != (kingAttacked(pos, pos.sideToMove()) ? 1 : 0)) out << "inCheck wrong; ";
  if (kingAttacked(pos, other(pos.sideToMove()))) out << "side not to move in check; ";
  return out.str();
}

void fuzzFailure(const std::string& what) {
  std::fprintf(stderr, "\n==FUZZ FINDING== %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

std::vector<uint8_t> sourceFile(const std::string& relativePath) {
  const std::string path = std::string(ORVANE_SOURCE_DIR) + "/" + relativePath;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) fuzzFailure("cannot read " + path);
  if (bytes.empty()) fuzzFailure("missing or empty test data " + path);
  return bytes;
}

std::vector<std::string> perftFens() {
  std::vector<std::string> fens;
  for (const char* name : {"tests/data/perft.epd", "tests/data/perft960.epd"}) {
    std::vector<uint8_t> bytes = sourceFile(name);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string a, b, c, d;
      if (fields >> a >> b >> c >> d) fens.push_back(a + " " + b + " " + c + " " + d);
    }
  }
  if (fens.size() < 50) fuzzFailure("the perft files hold too few positions");
  return fens;
}

const std::string& scratchDir() {
  static std::string dir;
  if (!dir.empty()) return dir;
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string pattern = std::string(base) + "/orvane-fuzz-XXXXXX";
    if (mkdtemp(pattern.data())) {
      dir = pattern;
      break;
    }
  }
  if (dir.empty()) fuzzFailure("cannot make a scratch folder");
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDir(), ignored);
  });
  return dir;
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) fuzzFailure("cannot write " + path);
  const bool ok = std::fwrite(data, 1, size, f) == size;
  if (std::fclose(f) != 0 || !ok) fuzzFailure("cannot write " + path);
}
