// Shared set-up for the evaluation tests: one-time table initialisation,
// per-test caches and FEN helpers.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "eval/tables.h"

namespace evalfixture {

// Builds the board and evaluation tables once per process.
inline void initOnce() {
  static bool done = false;
  if (done) return;
  initBitboards();
  initZobrist();
  hasPopcnt = cpuHasPopcnt() ? 1 : 0;
  buildSpecialMaterialTable();
  initTables();
  done = true;
}

// Caches for the tests (small: 2 MB).  The index masks are shared by every
// cache set, so the ones in force before are restored afterwards for the
// caches other tests keep.
struct TestCaches {
  EvalCaches caches;
  Key savedMasks[3];
  TestCaches() {
    initOnce();
    savedMasks[0] = evalCacheMask, savedMasks[1] = pawnTableMask, savedMasks[2] = materialTableMask;
    allocateEvalCaches(caches, 2, 1);
  }
  ~TestCaches() {
    freeEvalCaches(caches);
    if (savedMasks[0] | savedMasks[1] | savedMasks[2])
      evalCacheMask = savedMasks[0], pawnTableMask = savedMasks[1], materialTableMask = savedMasks[2];
  }
};

inline Position fromFen(const std::string& fen, const EvalCaches& caches) {
  Position pos;
  std::string error;
  EXPECT_TRUE(setPosition(pos, fen.c_str(), &error)) << fen << ": " << error;
  attachEvalCaches(pos, caches);
  pos.lastPositional = 0;
  return pos;
}

// The colour-mirrored position as FEN text: board flipped vertically,
// colours, side to move, castling rights and en-passant square swapped.
inline std::string mirrorFen(const std::string& fen) {
  std::istringstream in(fen);
  std::string board, side, castle = "-", ep = "-", half = "0", full = "1";
  in >> board >> side >> castle >> ep >> half >> full;
  std::string ranks[8];
  int r = 0;
  for (char ch : board) {
    if (ch == '/') r++;
    else ranks[r] += std::isupper((unsigned char)ch) ? (char)std::tolower(ch) : (char)std::toupper(ch);
  }
  std::string out;
  for (int i = 7; i >= 0; i--) out += ranks[i] + (i ? "/" : "");
  out += side == "w" ? " b " : " w ";
  std::string mc;
  for (char ch : castle)
    mc += ch == '-' ? ch : std::isupper((unsigned char)ch) ? (char)std::tolower(ch) : (char)std::toupper(ch);
  if (mc != "-") {
    // Keep the usual order: white's rights first.
    std::string upper, lower;
    for (char ch : mc) (std::isupper((unsigned char)ch) ? upper : lower) += ch;
    mc = upper + lower;
  }
  out += mc + " ";
  if (ep != "-") ep = std::string(1, ep[0]) + (ep[1] == '3' ? "6" : "3");
  out += ep + " " + half + " " + full;
  return out;
}

constexpr int Wide = 35000;  // a window the lazy exit never leaves

}  // namespace evalfixture
