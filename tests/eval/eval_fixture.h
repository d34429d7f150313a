// Shared set-up for the evaluation tests: one-time table initialisation,
// per-test caches and FEN helpers.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "eval/tables.h"
#include "eval_test_util.h"

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

// The colour-mirrored position as FEN text (shared with the term tests).
using evaltest::mirrorFen;

constexpr int Wide = 35000;  // a window the lazy exit never leaves

}  // namespace evalfixture
