#include <gtest/gtest.h>

#include <algorithm>

#include "board/settings.h"
#include "search/tables.h"

namespace {

// Builds the tables with the given option values and restores the defaults.
struct TablesWith {
  TablesWith(int selectivity, int reduction) {
    settings::selectivity = selectivity;
    settings::reduction = reduction;
    initSearchTables();
  }
  ~TablesWith() {
    settings::selectivity = 80;
    settings::reduction = 0;
    initSearchTables();
  }
};

TEST(SearchTables, DefaultReductionsMatchTheirFormula) {
  TablesWith t(80, 0);
  EXPECT_EQ(reductionNonPV[0][10][10], 5);
  EXPECT_EQ(reductionPV[1][10][10], 2);
  for (int i = 0; i < 2; ++i)
    for (int k = 0; k < 64; ++k) {
      EXPECT_EQ(reductionNonPV[i][0][k], 0);
      EXPECT_EQ(reductionNonPV[i][k][0], 0);
      EXPECT_EQ(reductionPV[i][0][k], 0);
      EXPECT_EQ(reductionPV[i][k][0], 0);
    }
  // Depth 1 or move 1 has ln = 0: only the 0.2 bias remains, which rounds to nothing.
  EXPECT_EQ(reductionNonPV[0][1][40], 0);
  // Never a reduction of a single half ply; tables grow with depth and move number.
  for (int i = 0; i < 2; ++i)
    for (int d = 1; d < 64; ++d)
      for (int m = 1; m < 64; ++m) {
        EXPECT_NE(reductionNonPV[i][d][m], 1);
        EXPECT_NE(reductionPV[i][d][m], 1);
        if (d > 1) {
          EXPECT_GE(reductionNonPV[i][d][m], reductionNonPV[i][d - 1][m]);
        }
        if (m > 1) {
          EXPECT_GE(reductionPV[i][d][m], reductionPV[i][d][m - 1]);
        }
        EXPECT_GE(reductionNonPV[0][d][m], reductionNonPV[1][d][m]);
        EXPECT_GE(reductionNonPV[i][d][m], reductionPV[i][d][m]);
      }
}

TEST(SearchTables, ReductionOptionExtremes) {
  {
    TablesWith t(80, 150);
    EXPECT_EQ(reductionNonPV[1][63][63], 34);
  }
  {
    TablesWith t(80, -1000);
    int largest = 0;
    for (int d = 0; d < 64; ++d)
      for (int m = 0; m < 64; ++m) largest = std::max(largest, reductionNonPV[0][d][m]);
    EXPECT_EQ(largest, 3);
    EXPECT_EQ(reductionNonPV[0][63][63], 3);
  }
}

TEST(SearchTables, LateMovePruningCounts) {
  {
    TablesWith t(80, 0);
    // max(i, 10 i^2 / 80) in integer arithmetic.
    const int expected[26] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 15, 18, 21, 24, 28, 32, 36, 40, 45, 50, 55, 60, 66, 72, 78};
    for (int i = 0; i < 26; ++i) EXPECT_EQ(lmpCount[i], expected[i]) << i;
  }
  {
    TablesWith t(10, 0);
    for (int i = 1; i < 26; ++i) EXPECT_EQ(lmpCount[i], i * i);
  }
  {
    TablesWith t(200, 0);
    for (int i = 0; i <= 20; ++i) EXPECT_EQ(lmpCount[i], i);
    EXPECT_EQ(lmpCount[21], 22);
    EXPECT_EQ(lmpCount[22], 24);
    EXPECT_EQ(lmpCount[23], 26);
    EXPECT_EQ(lmpCount[24], 28);
    EXPECT_EQ(lmpCount[25], 31);
  }
}

TEST(SearchTables, FutilityBaseAndQuiescencePieceValues) {
  TablesWith t(80, 0);
  const int base[5] = {60, 60, 62, 68, 78};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(moveFutilityBase[i], base[i]);
  EXPECT_EQ(moveFutilityBase[5], 92);
  const int k0[7] = {0, 95, 330, 357, 575, 1015, 10000};
  const int k96[7] = {0, 62, 330, 367, 460, 955, 10000};
  for (int type = 0; type < 7; ++type) {
    EXPECT_EQ(qsearchPieceValue[0][type], k0[type]);
    EXPECT_EQ(qsearchPieceValue[96][type], k96[type]);
  }
}

TEST(SearchTables, PruningMarginsAndHistoryTables) {
  TablesWith t(80, 0);
  EXPECT_EQ(futilityMargin[0][0], -20);
  EXPECT_EQ(futilityMargin[0][13], 305);
  EXPECT_EQ(futilityMargin[1][6], 200);
  const int notCut[8] = {65, 65, 67, 73, 83, 97, 115, 137};
  const int cut[8] = {40, 40, 42, 48, 58, 72, 90, 112};
  for (int h = 0; h < 8; ++h) {
    EXPECT_EQ(moveFutilityMargin[h][0], notCut[h]) << h;
    EXPECT_EQ(moveFutilityMargin[h][1], cut[h]) << h;
  }
  const int threshold[6] = {0, 22412, 19498, 16963, 14758, 12839};
  for (int n = 0; n < 6; ++n) EXPECT_EQ(historyThreshold[n], threshold[n]);
  for (int n = 2; n < 400; ++n) EXPECT_LE(historyThreshold[n], historyThreshold[n - 1]);
  EXPECT_EQ(historyThreshold[399], 0);
  EXPECT_EQ(historyFactor[0], 0);
  EXPECT_EQ(historyFactor[5], 25);
  EXPECT_EQ(historyFactor[32], 1024);
  EXPECT_EQ(historyFactor[199], 1024);
  EXPECT_EQ(razorMargin[5], 35);
  EXPECT_EQ(threatMargin[19], 121);
  EXPECT_EQ(qsearchRazorMargin[7], 1300);
}

}  // namespace
