#include "search/tables.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

#include "board/settings.h"

int reductionNonPV[2][64][64];
int reductionPV[2][64][64];
int lmpCount[26];
int moveFutilityBase[24];
int qsearchPieceValue[97][7];

int futilityMargin[2][14];
int moveFutilityMargin[16][2];
int historyThreshold[400];
int historyFactor[200];

namespace {

// Reductions grow with the logarithms of depth and move number; the divisor
// sets how aggressive a table is (smaller = deeper reductions).  Values of 1
// or less are dropped: a reduction is at least a whole ply.  The tables
// are rebuilt after every option change; the logarithms are taken once.
int reductionValue(int depth, int moveNumber, double divisor, double bias) {
  static const auto logs = [] {
    std::array<double, 64> table{};
    for (int i = 1; i < 64; ++i) table[i] = std::log((double)i);
    return table;
  }();
  double x = logs[depth] * logs[moveNumber] / (divisor / 100.0);
  int r = (int)(2.0 * (x + bias));
  return r <= 1 ? 0 : r;
}

}  // namespace

void initReductionTables() {
  const int r = settings::reduction;
  const int s = settings::selectivity;
  // Only "Reduction" shapes the reduction tables: the rebuild after any
  // other option change keeps them.
  static int builtReduction = INT_MIN;
  if (r != builtReduction) {
    builtReduction = r;
    for (int improving = 0; improving < 2; ++improving)
      for (int d = 0; d < 64; ++d)
        for (int m = 0; m < 64; ++m) {
          reductionPV[improving][d][m] = 0;
          reductionNonPV[improving][d][m] = 0;
        }
    // Nodes that are not improving are reduced a little more.
    for (int d = 1; d < 64; ++d)
      for (int m = 1; m < 64; ++m) {
        reductionPV[1][d][m] = reductionValue(d, m, 375 - r, 0.0);
        reductionPV[0][d][m] = reductionValue(d, m, 350 - r, 0.2);
        reductionNonPV[1][d][m] = reductionValue(d, m, 250 - r, 0.0);
        reductionNonPV[0][d][m] = reductionValue(d, m, 225 - r, 0.2);
      }
  }
  // Late-move pruning allows more moves the deeper the node; lower
  // selectivity allows more.
  for (int i = 0; i < 26; ++i) lmpCount[i] = std::max(i, 10 * i * i / s);
  moveFutilityBase[0] = 60;
  for (int i = 1; i < 24; ++i) moveFutilityBase[i] = 60 + 2 * (i - 1) * (i - 1);
  // Piece values blend from endgame (k = 0) to middle game (k = 96).
  for (int k = 0; k <= 96; ++k) {
    qsearchPieceValue[k][0] = 0;
    qsearchPieceValue[k][1] = (91200 - 330 * k) / 960;
    qsearchPieceValue[k][2] = 330;
    qsearchPieceValue[k][3] = (343200 + 100 * k) / 960;
    qsearchPieceValue[k][4] = (552000 - 1150 * k) / 960;
    qsearchPieceValue[k][5] = (974400 - 600 * k) / 960;
    qsearchPieceValue[k][6] = 10000;
  }
}

void initPruningTables() {
  for (int d = 0; d < 14; ++d) {
    futilityMargin[0][d] = 25 * d - 20;
    futilityMargin[1][d] = 25 * d + 50;  // expected cut nodes need a wider margin
  }
  for (int h = 0; h < 16; ++h) {
    int m = h == 0 ? 60 : 60 + 2 * (h - 1) * (h - 1);
    moveFutilityMargin[h][0] = m + 5;
    moveFutilityMargin[h][1] = m - 20;
  }
  // A late move needs ever less history to escape the extra reduction.
  historyThreshold[0] = 0;
  double t = 22412.0;
  for (int n = 1; n < 400; ++n) {
    historyThreshold[n] = (int)t;
    t *= 0.87;
  }
  for (int i = 0; i < 200; ++i) historyFactor[i] = std::min(i, 32) * std::min(i, 32);
}

void initSearchTables() {
  initReductionTables();
  initPruningTables();
}
