// Evaluation tables against the values they are designed to produce.
#include <cmath>
#include <vector>

#include "eval/pawns.h"
#include "eval_fixture.h"

using namespace evalfixture;

namespace {

struct PairValue {
  int mg, eg;
};

template <std::size_t N>
void expectRow(const ScorePair (&table)[N], const std::vector<PairValue>& expected, const char* name) {
  ASSERT_EQ(expected.size(), N) << name;
  for (std::size_t i = 0; i < N; i++) {
    EXPECT_EQ(mgOf(table[i]), expected[i].mg) << name << "[" << i << "]";
    EXPECT_EQ(egOf(table[i]), expected[i].eg) << name << "[" << i << "]";
  }
}

// White piece-square value of a square given as "e4".
ScorePair whitePst(int type, const char* sq) { return PST[White][type][makeSquare(sq[0] - 'a', sq[1] - '1')]; }

void expectPst(int type, const char* sq, int mg, int eg) {
  ScorePair p = whitePst(type, sq);
  EXPECT_EQ(mgOf(p), mg) << type << " " << sq;
  EXPECT_EQ(egOf(p), eg) << type << " " << sq;
}

}  // namespace

TEST(EvalTables, MobilityRows) {
  initOnce();
  expectRow(knightMobility, {{-496, -378}, {-409, -312}, {-337, -257}, {-276, -210}, {-221, -168}, {-170, -130},
                             {-124, -94}, {-80, -61}, {-39, -30}, {0, 0}, {37, 29}, {72, 56}, {107, 82}, {139, 107},
                             {171, 131}, {202, 155}}, "knight");
  expectRow(bishopMobility, {{-335, -315}, {-265, -249}, {-207, -195}, {-158, -148}, {-113, -107}, {-73, -68},
                             {-36, -33}, {0, 0}, {33, 31}, {64, 60}, {94, 89}, {122, 115}, {150, 141}, {176, 166},
                             {202, 190}, {227, 214}}, "bishop");
  expectRow(bishopPawnView, {{-206, -297}, {-167, -240}, {-135, -194}, {-107, -154}, {-82, -118}, {-60, -85},
                             {-39, -55}, {-19, -27}, {0, 0}, {17, 25}, {34, 50}, {50, 73}, {65, 95}, {80, 116},
                             {94, 137}, {108, 157}}, "bishop pawn view");
  expectRow(rookMobility, {{-149, -281}, {-114, -215}, {-86, -161}, {-61, -115}, {-39, -73}, {-19, -35}, {0, 0},
                           {17, 33}, {34, 64}, {49, 94}, {64, 122}, {78, 149}, {92, 174}, {105, 199}, {118, 223},
                           {130, 247}}, "rook");
  expectRow(queenMobility, {{-440, -640}, {-368, -556}, {-309, -488}, {-258, -429}, {-213, -376}, {-171, -328},
                            {-133, -283}, {-97, -241}, {-63, -202}, {-30, -164}, {0, -129}, {30, -95}, {58, -62},
                            {85, -30}, {111, 0}, {137, 30}, {161, 58}, {185, 86}, {209, 113}, {231, 140},
                            {254, 165}, {275, 191}, {296, 215}, {317, 239}, {338, 263}, {358, 286}, {377, 309},
                            {396, 331}, {415, 353}, {434, 375}, {452, 396}, {470, 417}}, "queen");
}

TEST(EvalTables, KingAttackFollowsTheOption) {
  initOnce();
  int saved = settings::kingSafety;
  settings::kingSafety = 65;
  initTables();
  EXPECT_EQ(mgOf(KA[10]), 442);
  EXPECT_EQ(mgOf(KA[20]), 1612);
  EXPECT_EQ(mgOf(KA[40]), 4751);
  for (int u = 128; u < 256; u++) EXPECT_EQ(KA[u], makePair(9594, 0)) << u;
  for (int u = 1; u < 256; u++) EXPECT_GE(mgOf(KA[u]), mgOf(KA[u - 1]));
  EXPECT_EQ(kingAttackAt(1000), KA[255]);
  EXPECT_EQ(kingAttackAt(-5), KA[0]);
  settings::kingSafety = 0;
  initTables();
  for (int u = 0; u < 256; u++) EXPECT_EQ(KA[u], makePair(0, 0));
  settings::kingSafety = 200;
  initTables();
  EXPECT_EQ(KA[128], makePair(29520, 0));
  EXPECT_EQ(KA[255], makePair(29520, 0));
  settings::kingSafety = saved;
  initTables();
}

TEST(EvalTables, PhaseAndTempo) {
  initOnce();
  EXPECT_EQ(phaseWeight[0], 0);
  EXPECT_EQ(phaseWeight[16], 19);
  EXPECT_EQ(phaseWeight[32], 38);
  EXPECT_EQ(phaseWeight[64], 67);
  EXPECT_EQ(phaseWeight[96], 96);
  for (int p = 1; p <= 96; p++) EXPECT_GE(phaseWeight[p], phaseWeight[p - 1]);
  // The weight is the exact quotient rounded (slightly below one half), not
  // an integer quotient: 3 x 38 / 32 = 3.5625 gives 4, (33 - 32) x 58 / 64 +
  // 38 = 38.906 gives 39.
  EXPECT_EQ(phaseWeight[3], 4);
  EXPECT_EQ(phaseWeight[5], 6);
  EXPECT_EQ(phaseWeight[33], 39);
  EXPECT_EQ(phaseWeight[48], 52);
  EXPECT_EQ(tempoBonus[0], 50);
  EXPECT_EQ(tempoBonus[48], 83);
  EXPECT_EQ(tempoBonus[96], 116);
  EXPECT_DOUBLE_EQ(materialScaleBase[0], 0.95);
  EXPECT_DOUBLE_EQ(materialScaleBase[96], 1.15);
}

TEST(EvalTables, CountTablesAndClamping) {
  initOnce();
  expectRow(TH, {{0, 0}, {100, 110}, {400, 440}, {500, 550}, {600, 660}, {700, 770}, {800, 880}, {900, 990},
                 {1000, 1100}, {1100, 1210}, {1200, 1320}, {1300, 1430}, {1400, 1540}, {1500, 1650},
                 {1600, 1760}, {1700, 1870}, {1800, 1980}, {1900, 2090}}, "threats");
  EXPECT_EQ(countAt(TH, 40), TH[17]);
  EXPECT_EQ(countAt(doubledCount, 3), makePair(-111, -174));
  EXPECT_EQ(countAt(undefendedPawnCount, 99), undefendedPawnCount[15]);
  EXPECT_EQ(bishopPawnsSameColour[0], makePair(68, 48));
  EXPECT_EQ(bishopPawnsSameColour[2], makePair(0, 0));
  EXPECT_EQ(bishopPawnsOtherColour[5], makePair(48, 60));
  const int span[9] = {-32, -30, -24, -14, 0, 18, 36, 54, 72};
  for (int n = 0; n < 9; n++) EXPECT_EQ(pawnSpanPair[n], makePair(0, span[n])) << n;
  EXPECT_EQ(fileSpan[0], 0);
  EXPECT_EQ(fileSpan[0x81], 8);
  EXPECT_EQ(fileSpan[0x10], 1);
  EXPECT_EQ(fileSpan[0x2C], 4);
}

TEST(EvalTables, PassedPawnTables) {
  initOnce();
  expectRow(CP, {{0, 0}, {7, 12}, {7, 12}, {30, 47}, {75, 118}, {142, 225}, {232, 367}, {0, 0}}, "CP");
  expectRow(CAND, {{0, 0}, {21, 33}, {21, 33}, {83, 130}, {206, 325}, {392, 618}, {640, 1009}, {0, 0}}, "CAND");
  const PairValue bonus[6] = {{0, 34}, {0, 68}, {80, 170}, {240, 340}, {480, 578}, {800, 884}};
  const PairValue queens[6] = {{0, 41}, {0, 82}, {96, 205}, {288, 410}, {576, 697}, {960, 1066}};
  for (int r = 0; r < 6; r++) {
    EXPECT_EQ(passedBonus[r], makePair(bonus[r].mg, bonus[r].eg)) << r;
    EXPECT_EQ(passedBonusQueens[r], makePair(queens[r].mg, queens[r].eg)) << r;
  }
  const int ko[4][8] = {{0, -34, -60, -83, -103, -121, -137, -153},
                        {0, -103, -183, -251, -310, -364, -414, -460},
                        {0, -208, -368, -503, -622, -730, -828, -921},
                        {0, -347, -614, -839, -1037, -1217, -1381, -1535}};
  const int ke[4][8] = {{0, 66, 117, 160, 198, 232, 263, 293},
                        {0, 199, 351, 480, 593, 696, 790, 878},
                        {0, 398, 703, 960, 1187, 1392, 1580, 1755},
                        {0, 663, 1171, 1600, 1978, 2319, 2633, 2925}};
  for (int r = 2; r <= 5; r++)
    for (int d = 0; d < 8; d++) {
      EXPECT_EQ(KO[r][d], makePair(0, ko[r - 2][d])) << r << " " << d;
      EXPECT_EQ(KE[r][d], makePair(0, ke[r - 2][d])) << r << " " << d;
    }
  const int prox[8] = {351, 243, 162, 108, 81, 54, 27, 0};
  for (int d = 0; d < 8; d++) EXPECT_EQ(passedKingDistance[d], makePair(0, prox[d]));
  const PairValue knight[8] = {{0, 0}, {32, 16}, {12, 6}, {0, 0}, {-8, -4}, {-12, -6}, {-16, -8}, {-20, -10}};
  for (int d = 0; d < 8; d++) EXPECT_EQ(knightKingDistance[d], makePair(knight[d].mg, knight[d].eg));
  EXPECT_EQ(kingPawnMass[16][3], makePair(0, 60));
  EXPECT_EQ(kingPawnMass[0][7], makePair(0, 0));
  EXPECT_EQ(kingPawnMass[2][1], makePair(0, 7));
  EXPECT_EQ(shelterRank[1], makePair(243, 0));
  EXPECT_EQ(stormBlocked[5], makePair(320, 0));
  EXPECT_EQ(stormOpen[5], makePair(400, 0));
  EXPECT_EQ(stormEmptyFiles[0], makePair(48, 0));
  EXPECT_EQ(stormEmptyFiles[3], makePair(0, 0));
  EXPECT_EQ(freePathSafeDefended[5], makePair(240, 1280));
  EXPECT_EQ(freePathNoOwnPiece[3], makePair(6, 18));
}

TEST(EvalTables, PieceSquareValues) {
  initOnce();
  // Pawns, rank 7 and rank 2, from the formula.
  const PairValue rank7[8] = {{-80, 28}, {24, 20}, {88, 12}, {152, 4}, {152, 4}, {88, 12}, {24, 20}, {-80, 28}};
  const PairValue rank5[8] = {{-88, 20}, {8, 12}, {64, 4}, {120, -4}, {120, -4}, {64, 4}, {8, 12}, {-88, 20}};
  const PairValue rank2[8] = {{-108, 0}, {-32, -8}, {4, -16}, {40, -24}, {40, -24}, {4, -16}, {-32, -8}, {-108, 0}};
  for (int f = 0; f < 8; f++) {
    EXPECT_EQ(PST[White][Pawn][makeSquare(f, 6)], makePair(rank7[f].mg, rank7[f].eg)) << f;
    EXPECT_EQ(PST[White][Pawn][makeSquare(f, 5)], makePair(rank7[f].mg, rank7[f].eg)) << f;
    EXPECT_EQ(PST[White][Pawn][makeSquare(f, 4)], makePair(rank5[f].mg, rank5[f].eg)) << f;
    EXPECT_EQ(PST[White][Pawn][makeSquare(f, 1)], makePair(rank2[f].mg, rank2[f].eg)) << f;
    EXPECT_EQ(PST[White][Pawn][makeSquare(f, 0)], 0u);
    EXPECT_EQ(PST[White][Pawn][makeSquare(f, 7)], 0u);
  }
  expectPst(Pawn, "d3", 56, -20);
  expectPst(Pawn, "a4", -96, 12);
  // Queen rings.
  expectPst(Queen, "a1", -36, -48);
  expectPst(Queen, "h5", -36, -48);
  expectPst(Queen, "b2", 0, 0);
  expectPst(Queen, "g7", 0, 0);
  expectPst(Queen, "c6", 30, 40);
  expectPst(Queen, "f3", 30, 40);
  expectPst(Queen, "d4", 54, 72);
  expectPst(Queen, "e5", 54, 72);
  // Orientation of the square tables.
  expectPst(Knight, "a8", -1100, -440);
  expectPst(Knight, "a1", -300, -165);
  expectPst(Knight, "e7", 20, 11);
  expectPst(Bishop, "d1", -72, -30);
  expectPst(Bishop, "d4", 80, 30);
  expectPst(Rook, "d7", 77, 28);
  expectPst(Rook, "e7", 66, 28);
  expectPst(Rook, "a5", -44, 14);
  expectPst(King, "g1", 0, -960);
  expectPst(King, "e5", -820, 0);
  // Black mirrors white with the opposite sign; the board's table agrees.
  for (int t = 0; t < 8; t++)
    for (Square s = 0; s < 64; s++) {
      EXPECT_EQ(PST[Black][t][s], subPair(0, PST[White][t][s ^ 56]));
      EXPECT_EQ(pieceSquare[pieceRow(White, t)][s], PST[White][t][s]);
      EXPECT_EQ(pieceSquare[pieceRow(Black, t)][s], PST[Black][t][s]);
      if (t == 0 || t == 7) {
        EXPECT_EQ(PST[White][t][s], 0u);
      }
    }
}

namespace {
int hookCalls = 0;
void countingHook() { hookCalls++; }
}  // namespace

TEST(EvalTables, RebuildClearsPawnTablesAndCallsHook) {
  TestCaches tc;
  tc.caches.pawnTable[0].key = 12345;
  tc.caches.pawnTable[pawnTableMask].key = 999;
  tc.caches.pawnTableUsed = true;  // as after handing the caches to a search
  void (*saved)() = afterInitTables;
  afterInitTables = countingHook;
  hookCalls = 0;
  initTables();
  afterInitTables = saved;
  EXPECT_EQ(hookCalls, 1);
  EXPECT_EQ(tc.caches.pawnTable[0].key, 0u);
  EXPECT_EQ(tc.caches.pawnTable[pawnTableMask].key, 0u);
}

TEST(EvalTables, CacheGeometry) {
  TestCaches keep;  // restores the masks at the end
  EvalCaches caches;
  allocateEvalCaches(caches, 64, 1);
  EXPECT_EQ(materialTableMask, 65535u);
  EXPECT_EQ(pawnTableMask, 524287u);
  EXPECT_EQ(evalCacheMask, 2097151u);
  EXPECT_EQ(caches.evalCache[evalCacheMask].key, 0u);
  allocateEvalCaches(caches, 1, 64);  // the smallest memory with the most threads
  EXPECT_EQ(materialTableMask, 15u);
  EXPECT_GE(pawnTableMask, 1u);
  EXPECT_GE(evalCacheMask, 1u);
  freeEvalCaches(caches);
  EXPECT_EQ(caches.evalCache, nullptr);
}

TEST(EvalTables, CacheGeometryPerThread) {
  TestCaches keep;
  EvalCaches caches;
  allocateEvalCaches(caches, 64, 4);  // only one thread's share is subtracted
  EXPECT_EQ(materialTableMask + 1, 16384u);
  EXPECT_EQ(pawnTableMask + 1, 131072u);
  EXPECT_EQ(evalCacheMask + 1, 524288u);
  allocateEvalCaches(caches, 256, 1);
  EXPECT_EQ(materialTableMask + 1, 262144u);
  EXPECT_EQ(pawnTableMask + 1, 2097152u);
  EXPECT_EQ(evalCacheMask + 1, 8388608u);
  // Clearing empties every table.
  caches.evalCache[evalCacheMask].key = 1;
  caches.pawnTable[pawnTableMask].key = 2;
  caches.materialTable[materialTableMask].key = 3;
  clearEvalCaches(caches);
  EXPECT_EQ(caches.evalCache[evalCacheMask].key, 0u);
  EXPECT_EQ(caches.pawnTable[pawnTableMask].key, 0u);
  EXPECT_EQ(caches.materialTable[materialTableMask].key, 0u);
  freeEvalCaches(caches);
}
