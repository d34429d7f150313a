// Builds the evaluation tables from their formulas and constant arrays.
#include "eval/tables.h"

#include <algorithm>
#include <cmath>

#include "board/position.h"
#include "board/settings.h"

int phaseWeight[97];
double materialScaleBase[97];
int tempoBonus[97];

ScorePair knightMobility[16];
ScorePair bishopMobility[16];
ScorePair bishopPawnView[16];
ScorePair rookMobility[16];
ScorePair queenMobility[32];

ScorePair KA[KingAttackSize];

ScorePair doubledCount[9];
ScorePair supportedBesideCount[9];
ScorePair stuckCount[9];
ScorePair besideCount[9];
ScorePair defendedCount[9];
ScorePair isolatedCount[9];
ScorePair isolatedOpenCount[9];
ScorePair isolatedDoubledCount[9];
ScorePair isolatedDoubledOpenCount[9];
ScorePair backwardCount[9];
ScorePair backwardOpenCount[9];
ScorePair pawnControlCount[18];
ScorePair leverCount[18];
ScorePair knightBlockadeCount[9];
ScorePair blockedPawnCount[9];
ScorePair crampCount[9];
ScorePair bishopPawnsSameColour[9];
ScorePair bishopPawnsOtherColour[9];
ScorePair minorBehindPawnCount[18];
ScorePair pieceDefendedCount[18];
ScorePair TH[18];
ScorePair pawnDefendedPieceCount[18];
ScorePair outpostCount[18];
ScorePair safeFromPawnsCount[18];
ScorePair undefendedPawnCount[16];
ScorePair pawnSpanPair[9];

ScorePair passedRankBase[8];
ScorePair CP[8];
ScorePair CAND[8];
ScorePair passedBonus[8];
ScorePair passedBonusQueens[8];
ScorePair freePathSafeDefended[8];
ScorePair freePathSafe[8];
ScorePair freePathDefended[8];
ScorePair freePathNoOwnPiece[8];
ScorePair KO[9][9];
ScorePair KE[9][9];
ScorePair passedKingDistance[8];
ScorePair knightKingDistance[8];
ScorePair kingPawnMass[17][15];
ScorePair shelterRank[8];
ScorePair stormBlocked[8];
ScorePair stormOpen[8];
ScorePair stormEmptyFiles[4];
int fileSpan[256];

ScorePair PST[2][8][64];

namespace {

// King-attack curve before the "King Safety" factor; flat from 129 units on.
constexpr int KingAttackCurve[129] = {
    0,    1,    3,    6,    11,   17,   25,   34,   44,   55,   68,   81,   96,   112,  129,  147,  166,
    185,  205,  227,  248,  270,  293,  317,  340,  364,  388,  413,  438,  463,  487,  512,  537,  562,
    587,  611,  636,  660,  684,  708,  731,  754,  777,  799,  821,  842,  863,  884,  904,  924,  943,
    962,  980,  998,  1016, 1033, 1049, 1065, 1081, 1096, 1111, 1125, 1139, 1152, 1165, 1178, 1190, 1201,
    1213, 1224, 1234, 1245, 1254, 1264, 1273, 1282, 1291, 1299, 1307, 1314, 1322, 1329, 1336, 1342, 1349,
    1355, 1360, 1366, 1371, 1377, 1382, 1387, 1391, 1396, 1400, 1404, 1408, 1412, 1415, 1419, 1422, 1425,
    1428, 1431, 1434, 1437, 1439, 1442, 1444, 1447, 1449, 1451, 1453, 1455, 1457, 1459, 1460, 1462, 1464,
    1465, 1467, 1468, 1469, 1471, 1472, 1473, 1474, 1475, 1476};

// Passed-pawn base by relative rank (mg, eg).
constexpr int PassedBase[8][2] = {{0, 0},     {31, 48},   {31, 48},   {121, 190},
                                  {301, 474}, {571, 900}, {931, 1468}, {0, 0}};

// Piece-square values for white, rank 8 first, files a..h, {mg, eg}.
constexpr int KnightSquares[64][2] = {
    {-1100, -440}, {-100, -55}, {-60, -33},  {-40, -22},  {-40, -22},  {-60, -33},  {-100, -55}, {-1100, -440},
    {-140, -77},   {-60, -33},  {0, 0},      {20, 11},    {20, 11},    {20, 11},    {-60, -33},  {-140, -77},
    {-80, -44},    {0, 0},      {60, 33},    {100, 55},   {100, 55},   {60, 33},    {0, 0},      {-80, -44},
    {-80, -44},    {0, 0},      {60, 33},    {100, 55},   {100, 55},   {60, 33},    {0, 0},      {-80, -44},
    {-100, -55},   {-20, -11},  {40, 22},    {60, 33},    {60, 33},    {40, 22},    {-20, -11},  {-100, -55},
    {-140, -77},   {-60, -33},  {-20, -11},  {0, 0},      {0, 0},      {-20, -11},  {-60, -33},  {-140, -77},
    {-200, -110},  {-140, -77}, {-100, -55}, {-80, -44},  {-80, -44},  {-100, -55}, {-140, -77}, {-200, -110},
    {-300, -165},  {-240, -132}, {-200, -110}, {-180, -99}, {-180, -99}, {-200, -110}, {-240, -132}, {-300, -165}};

constexpr int BishopSquares[64][2] = {
    {-32, -10}, {-40, -20}, {-40, -20}, {-32, -10}, {-32, -10}, {-40, -20}, {-40, -20}, {-32, -10},
    {-48, -20}, {24, 10},   {40, 20},   {16, 10},   {16, 10},   {40, 20},   {24, 10},   {-48, -20},
    {-56, -20}, {32, 10},   {48, 20},   {40, 20},   {40, 20},   {48, 20},   {32, 10},   {-56, -20},
    {-56, -20}, {0, 0},     {32, 10},   {72, 30},   {72, 30},   {32, 10},   {0, 0},     {-56, -20},
    {-48, -20}, {8, 0},     {40, 20},   {80, 30},   {80, 30},   {40, 20},   {8, 0},     {-48, -20},
    {-48, -20}, {24, 10},   {40, 20},   {32, 10},   {32, 10},   {40, 20},   {24, 10},   {-48, -20},
    {-40, -20}, {16, 10},   {16, 10},   {-8, 0},    {-8, 0},    {16, 10},   {16, 10},   {-40, -20},
    {-24, -10}, {-48, -20}, {-64, -30}, {-72, -30}, {-72, -30}, {-64, -30}, {-48, -20}, {-24, -10}};

constexpr int RookSquares[64][2] = {
    {-22, 0},  {11, 0},   {44, 0},  {77, 0},  {77, 0},  {44, 0},  {11, 0},   {-22, 0},
    {-22, 28}, {11, 28},  {44, 28}, {77, 28}, {66, 28}, {44, 28}, {11, 28},  {-22, 28},
    {-33, 28}, {0, 28},   {33, 28}, {66, 28}, {66, 28}, {33, 28}, {0, 28},   {-33, 28},
    {-44, 14}, {-11, 14}, {22, 14}, {55, 14}, {55, 14}, {22, 14}, {-11, 14}, {-44, 14},
    {-44, 0},  {-11, 0},  {22, 0},  {55, 0},  {55, 0},  {22, 0},  {-11, 0},  {-44, 0},
    {-44, 0},  {-11, 0},  {22, 0},  {55, 0},  {55, 0},  {22, 0},  {-11, 0},  {-44, 0},
    {-44, 0},  {-11, 0},  {22, 0},  {55, 0},  {55, 0},  {22, 0},  {-11, 0},  {-44, 0},
    {-44, 0},  {-11, 0},  {22, 0},  {55, 0},  {55, 0},  {22, 0},  {-11, 0},  {-44, 0}};

constexpr int KingSquares[64][2] = {
    {-710, -864}, {-650, -624}, {-870, -480}, {-990, -432}, {-990, -432}, {-870, -480}, {-650, -624}, {-710, -864},
    {-630, -624}, {-570, -384}, {-800, -240}, {-930, -192}, {-930, -192}, {-800, -240}, {-570, -384}, {-630, -624},
    {-560, -480}, {-500, -240}, {-740, -96},  {-880, -48},  {-880, -48},  {-740, -96},  {-500, -240}, {-560, -480},
    {-480, -432}, {-420, -192}, {-670, -48},  {-820, 0},    {-820, 0},    {-670, -48},  {-420, -192}, {-480, -432},
    {-390, -480}, {-330, -240}, {-590, -96},  {-750, -48},  {-750, -48},  {-590, -96},  {-330, -240}, {-390, -480},
    {-300, -624}, {-240, -384}, {-510, -240}, {-680, -192}, {-680, -192}, {-510, -240}, {-240, -384}, {-300, -624},
    {-120, -864}, {-60, -624},  {-350, -480}, {-540, -432}, {-540, -432}, {-350, -480}, {-60, -624},  {-120, -864},
    {-60, -1200}, {0, -960},    {-300, -816}, {-500, -768}, {-500, -768}, {-300, -816}, {0, -960},    {-60, -1200}};

// Mobility curve: grows like a square root of the count, scaled so that the
// step just above the reference count n is worth about s, and shifted so the
// reference count itself is worth 0.
int mobilityCurve(int x, int n, int s) {
  return (int)(s * (std::sqrt(x + 1.5) - std::sqrt(1.5)) / (std::sqrt(n + 2.0) - std::sqrt(n + 1.0)));
}

template <std::size_t N>
void buildMobility(ScorePair (&table)[N], int n1, int s1, int n2, int s2) {
  for (int x = 0; x < (int)N; x++)
    table[x] = makePair(mobilityCurve(x, n1, s1) - mobilityCurve(n1, n1, s1),
                        mobilityCurve(x, n2, s2) - mobilityCurve(n2, n2, s2));
}

template <std::size_t N>
void buildLinear(ScorePair (&table)[N], int mg, int eg) {
  for (int n = 0; n < (int)N; n++) table[n] = makePair(n * mg, n * eg);
}

void buildPhaseTables() {
  for (int p = 0; p <= 96; p++) {
    phaseWeight[p] = p <= 32 ? (int)(p * 38 / 32.0 + 0.499) : (int)((p - 32) * 58 / 64.0 + 38.499);
    materialScaleBase[p] = p * 0.2 / 96 + 0.95;
    tempoBonus[p] = (4848 + 66 * p) / 96;
  }
}

void buildCountTables() {
  buildLinear(doubledCount, -37, -58);
  buildLinear(supportedBesideCount, 1, -8);
  buildLinear(stuckCount, -10, -10);
  buildLinear(besideCount, 22, 22);
  buildLinear(defendedCount, 34, 29);
  buildLinear(isolatedCount, -31, -32);
  buildLinear(isolatedOpenCount, -118, -135);
  buildLinear(isolatedDoubledCount, -14, -7);
  buildLinear(isolatedDoubledOpenCount, -25, -48);
  buildLinear(backwardCount, -35, -31);
  buildLinear(backwardOpenCount, -53, -94);
  buildLinear(pawnControlCount, 6, 8);
  buildLinear(leverCount, 60, 60);
  buildLinear(knightBlockadeCount, 22, 40);
  buildLinear(blockedPawnCount, -36, -155);
  buildLinear(crampCount, 17, 4);
  buildLinear(minorBehindPawnCount, 27, 9);
  buildLinear(pieceDefendedCount, 30, 37);
  buildLinear(pawnDefendedPieceCount, 60, 60);
  buildLinear(outpostCount, 70, 82);
  buildLinear(safeFromPawnsCount, 45, 29);
  buildLinear(undefendedPawnCount, -15, -30);
  // Pawns on the bishop's colour hurt, pawns on the other colour help; two
  // of either are neutral.
  for (int n = 0; n < 9; n++) {
    bishopPawnsSameColour[n] = makePair(-34 * (n - 2), -24 * (n - 2));
    bishopPawnsOtherColour[n] = makePair(16 * (n - 2), 20 * (n - 2));
  }
  // A single threat counts linearly; from two on, the step doubles once.
  for (int n = 0; n < 18; n++) TH[n] = n < 2 ? makePair(100 * n, 110 * n) : makePair(100 * (n + 2), 110 * (n + 2));
  // Wide pawn fronts are easier to win in the end game.
  for (int n = 0; n < 9; n++) pawnSpanPair[n] = makePair(0, n <= 5 ? 2 * (n * n - 16) : 2 * (9 * n - 36));
}

void buildPawnTables() {
  for (int r = 0; r < 8; r++) {
    int mg = PassedBase[r][0], eg = PassedBase[r][1];
    passedRankBase[r] = makePair(mg, eg);
    CP[r] = makePair(mg * 4 / 16, eg * 4 / 16);
    CAND[r] = makePair(11 * mg / 16, 11 * eg / 16);
  }
  for (int r = 0; r < 8; r++) {
    int k = r * (r - 1);
    passedBonus[r] = makePair(40 * k, 34 * (r * r + 1));
    passedBonusQueens[r] = makePair(48 * k, 41 * (r * r + 1));
    freePathSafeDefended[r] = makePair(12 * k, 64 * k);
    freePathSafe[r] = makePair(10 * k, 60 * k);
    freePathDefended[r] = makePair(10 * k, 38 * k);
    freePathNoOwnPiece[r] = makePair(k, 3 * k);
  }
  // The own king should escort an advanced passer, the enemy king should be
  // far from its path; both matter more the further the pawn has come.
  for (int r = 0; r < 9; r++)
    for (int d = 0; d < 9; d++) {
      double grow = (std::sqrt(d + 1.0) - 1) * r * (r - 1);
      KO[r][d] = makePair(0, (int)(-42 * grow + 0.5));
      KE[r][d] = makePair(0, (int)(80 * grow + 0.5));
    }
  constexpr int Proximity[8] = {13, 9, 6, 4, 3, 2, 1, 0};
  constexpr int KnightKing[8] = {0, 8, 3, 0, -2, -3, -4, -5};
  for (int d = 0; d < 8; d++) {
    passedKingDistance[d] = makePair(0, 27 * Proximity[d]);
    knightKingDistance[d] = makePair(4 * KnightKing[d], 2 * KnightKing[d]);
  }
  // Penalty (to be subtracted) for a king far from the pawn mass.
  for (int i = 0; i < 17; i++)
    for (int j = 0; j < 15; j++) kingPawnMass[i][j] = makePair(0, (int)(5 * j * std::sqrt((double)i)));
  constexpr int Shelter[8] = {0, 27, 22, 10, 5, 0, 0, 0};
  constexpr int Storm[8] = {2, 0, 0, 6, 13, 40, 0, 0};
  for (int r = 0; r < 8; r++) {
    shelterRank[r] = makePair(9 * Shelter[r], 0);
    stormBlocked[r] = makePair(8 * Storm[r], 0);
    stormOpen[r] = makePair(10 * Storm[r], 0);
  }
  for (int n = 0; n < 4; n++) stormEmptyFiles[n] = makePair((3 - n) * 16, 0);
  for (int m = 0; m < 256; m++) fileSpan[m] = m ? (31 - __builtin_clz(m)) - __builtin_ctz(m) + 1 : 0;
}

// White's pawn value: central files and advanced ranks are worth more in the
// middle game, edge files slightly more in the end game.
ScorePair pawnSquare(Square s) {
  constexpr int FA[8] = {-13, -3, 2, 7, 7, 2, -3, -13};
  constexpr int FB[8] = {1, -1, -3, -5, -5, -3, -1, 1};
  constexpr int RA[8] = {0, -1, 0, 2, 4, 6, 6, 0};
  constexpr int Extra[8] = {-4, 0, 4, 8, 8, 4, 0, -4};
  int f = fileOf(s), r = rankOf(s);
  if (r == 0 || r == 7) return 0;
  return makePair(8 * (FA[f] + RA[r]) + Extra[f] * RA[r], 4 * (RA[r] + FB[f]));
}

// White's queen value: concentric rings, the centre best.
ScorePair queenSquare(Square s) {
  int f = fileOf(s), r = rankOf(s);
  int ring = std::min(std::min(f, 7 - f), std::min(r, 7 - r));
  constexpr int Base[4] = {-6, 0, 5, 9};
  return makePair(6 * Base[ring], 8 * Base[ring]);
}

void buildPieceSquareTables() {
  for (int c = 0; c < 2; c++)
    for (int t = 0; t < 8; t++)
      for (Square s = 0; s < 64; s++) PST[c][t][s] = 0;
  for (Square s = 0; s < 64; s++) {
    int idx = (7 - rankOf(s)) * 8 + fileOf(s);  // the tables are written rank 8 first
    PST[White][Pawn][s] = pawnSquare(s);
    PST[White][Knight][s] = makePair(KnightSquares[idx][0], KnightSquares[idx][1]);
    PST[White][Bishop][s] = makePair(BishopSquares[idx][0], BishopSquares[idx][1]);
    PST[White][Rook][s] = makePair(RookSquares[idx][0], RookSquares[idx][1]);
    PST[White][Queen][s] = queenSquare(s);
    PST[White][King][s] = makePair(KingSquares[idx][0], KingSquares[idx][1]);
  }
  // Black's value is the negation of white's on the mirrored square.
  for (int t = 1; t <= 6; t++)
    for (Square s = 0; s < 64; s++) PST[Black][t][s] = subPair(0, PST[White][t][s ^ 56]);
  for (int c = 0; c < 2; c++)
    for (int t = 0; t < 8; t++)
      for (Square s = 0; s < 64; s++) pieceSquare[pieceRow(c, t)][s] = PST[c][t][s];
}

}  // namespace

void buildEvalTables() {
  buildPhaseTables();
  buildMobility(knightMobility, 9, 38, 9, 29);
  buildMobility(bishopMobility, 7, 34, 7, 32);
  buildMobility(bishopPawnView, 8, 18, 8, 26);
  buildMobility(rookMobility, 6, 18, 6, 34);
  buildMobility(queenMobility, 10, 30, 14, 30);
  for (int u = 0; u < KingAttackSize; u++)
    KA[u] = makePair(KingAttackCurve[u < 129 ? u : 128] * settings::kingSafety / 10, 0);
  buildCountTables();
  buildPawnTables();
  buildPieceSquareTables();
}
