#include <random>
#include <set>

#include "board_test_util.h"

namespace {

// Independent ray walk used as the reference for the magic lookup.
Bitboard slowAttacks(Square s, Bitboard occ, bool rook) {
  static const int rookDirs[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  static const int bishopDirs[4][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}};
  const int (*dirs)[2] = rook ? rookDirs : bishopDirs;
  Bitboard result = 0;
  for (int d = 0; d < 4; d++) {
    for (int f = fileOf(s) + dirs[d][0], r = rankOf(s) + dirs[d][1]; f >= 0 && f < 8 && r >= 0 && r < 8;
         f += dirs[d][0], r += dirs[d][1]) {
      result |= 1ull << makeSquare(f, r);
      if (occ & (1ull << makeSquare(f, r))) break;
    }
  }
  return result;
}

Bitboard bits(std::initializer_list<const char*> names) {
  Bitboard b = 0;
  for (const char* n : names) b |= 1ull << sq(n);
  return b;
}

}  // namespace

TEST(Bitboard, SharedSliderTableIsConsistentAndReachesTheKnownEntries) {
  initBoardTables();
  std::vector<Bitboard> written(SliderTableSize, 0);
  std::vector<char> reached(SliderTableSize, 0);
  int conflicts = 0;
  for (int kind = 0; kind < 2; kind++)
    for (Square s = 0; s < 64; s++) {
      Bitboard mask = kind == 0 ? rookMask[s] : bishopMask[s];
      const MagicRecord& m = kind == 0 ? rookMagic[s] : bishopMagic[s];
      int shift = kind == 0 ? 52 : 55;
      Bitboard subset = 0;
      do {
        uint64_t index = m.offset + ((subset * m.magic) >> shift);
        ASSERT_LT(index, (uint64_t)SliderTableSize);
        Bitboard attacks = slowAttacks(s, subset, kind == 0);
        if (reached[index] && written[index] != attacks) conflicts++;
        reached[index] = 1;
        written[index] = attacks;
        subset = (subset - mask) & mask;
      } while (subset);
    }
  EXPECT_EQ(conflicts, 0);
  int count = 0;
  for (int i = 0; i < SliderTableSize; i++) {
    count += reached[i];
    EXPECT_EQ(sliderAttacks[i], reached[i] ? written[i] : 0) << i;
  }
  EXPECT_EQ(count, 82501);
}

TEST(Bitboard, MagicLookupMatchesRayWalkOnRandomOccupancies) {
  initBoardTables();
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; i++) {
    Square s = rng() % 64;
    Bitboard occ = rng() & rng();
    ASSERT_EQ(rookAttacks(s, occ), slowAttacks(s, occ, true));
    ASSERT_EQ(bishopAttacks(s, occ), slowAttacks(s, occ, false));
    ASSERT_EQ(queenAttacks(s, occ), slowAttacks(s, occ, true) | slowAttacks(s, occ, false));
  }
}

TEST(Bitboard, KnownAttackValuesAndMasks) {
  initBoardTables();
  EXPECT_EQ(rookAttacks(sq("a1"), 0), 0x01010101010101FEull);
  EXPECT_EQ(bishopAttacks(sq("a1"), 0), 0x8040201008040200ull);
  EXPECT_EQ(rookMask[sq("a1")], 0x000101010101017Eull);
  EXPECT_EQ(bishopMask[sq("a1")], 0x0040201008040200ull);
  Bitboard d4 = rookAttacks(sq("d4"), bits({"d6", "f4"}));
  EXPECT_EQ(d4, bits({"d5", "d6", "e4", "f4", "d1", "d2", "d3", "a4", "b4", "c4"}));
  EXPECT_EQ(rookMagic[sq("a1")].magic, 0x00A801F7FBFEFFFFull);
  EXPECT_EQ(rookMagic[sq("e1")].offset, 93168);
  EXPECT_EQ(bishopMagic[sq("d4")].magic, 0x0000404004010200ull);
  EXPECT_EQ(bishopMagic[sq("h8")].offset, 6166);
  EXPECT_EQ(rookMagic[sq("h8")].offset, 21479);
}

TEST(Bitboard, LeapersLinesAndBetween) {
  initBoardTables();
  EXPECT_EQ(between[sq("a1")][sq("h8")], bits({"b2", "c3", "d4", "e5", "f6", "g7"}));
  EXPECT_EQ(between[sq("a1")][sq("b3")], 0u);
  EXPECT_EQ(between[sq("e1")][sq("e1")], 0u);
  EXPECT_EQ(between[sq("e1")][sq("e2")], 0u);
  EXPECT_EQ(between[sq("h1")][sq("a1")], bits({"b1", "c1", "d1", "e1", "f1", "g1"}));
  EXPECT_EQ(knightAttacks[sq("a1")], bits({"b3", "c2"}));
  EXPECT_EQ(kingAttacks[sq("h8")], bits({"g8", "g7", "h7"}));
  int knightTotal = 0, kingTotal = 0;
  for (Square s = 0; s < 64; s++) {
    knightTotal += popcount(knightAttacks[s]);
    kingTotal += popcount(kingAttacks[s]);
    EXPECT_EQ(rookLines[s], rookAttacks(s, 0) | squareBB[s]);
    EXPECT_EQ(bishopLines[s], bishopAttacks(s, 0) | squareBB[s]);
    EXPECT_EQ(queenLines[s], rookLines[s] | bishopLines[s]);
    for (Square t = 0; t < 64; t++) {
      Bitboard line = (rookLines[s] & squareBB[t]) ? rookLines[s] & rookLines[t]
                    : (bishopLines[s] & squareBB[t]) ? bishopLines[s] & bishopLines[t] : 0;
      EXPECT_EQ(between[s][t], s == t ? 0 : queenAttacks(s, squareBB[t]) & queenAttacks(t, squareBB[s]) & line);
    }
  }
  EXPECT_EQ(knightTotal, 336);
  EXPECT_EQ(kingTotal, 420);
}

TEST(Bitboard, PawnShifts) {
  initBoardTables();
  EXPECT_EQ(pawnAttacksBB(White, squareBB[sq("h2")]), squareBB[sq("g3")]);
  EXPECT_EQ(pawnAttacksBB(Black, squareBB[sq("a7")]), squareBB[sq("b6")]);
  EXPECT_EQ(pawnAttacksBB(White, squareBB[sq("d4")]), bits({"c5", "e5"}));
  EXPECT_EQ(besideBB(squareBB[sq("a5")]), squareBB[sq("b5")]);
  EXPECT_EQ(besideBB(squareBB[sq("h4")]), squareBB[sq("g4")]);
}

TEST(Bitboard, PopcountRoutinesAgree) {
  initBoardTables();
  EXPECT_EQ(popcountSoft(~0ull), 64);
  EXPECT_EQ(popcountSoft(0), 0);
  int saved = hasPopcnt;
  hasPopcnt = 0;
  EXPECT_EQ(popcount(0xF0F0ull), 8);
  hasPopcnt = saved;
  // The instruction itself only runs on processors that have it.
  if (!cpuHasPopcnt()) GTEST_SKIP() << "no popcnt instruction on this processor";
  EXPECT_EQ(popcountHard(~0ull), 64);
  EXPECT_EQ(popcountHard(0), 0);
  std::mt19937_64 rng(11);
  for (int i = 0; i < 10000; i++) {
    Bitboard b = rng();
    if (i & 1) b &= rng();
    if (i & 2) b = ~b;
    ASSERT_EQ(popcountSoft(b), popcountHard(b));
  }
  hasPopcnt = 1;
  EXPECT_EQ(popcount(0xF0F0ull), 8);
  hasPopcnt = saved;
}

TEST(Bitboard, InitialisationIsIdempotent) {
  initBoardTables();
  std::vector<Bitboard> before(sliderAttacks, sliderAttacks + SliderTableSize);
  Key z = zobrist[1][12], m = materialValue[1][3][1];
  initBitboards();
  initZobrist();
  EXPECT_TRUE(std::equal(before.begin(), before.end(), sliderAttacks));
  EXPECT_EQ(zobrist[1][12], z);
  EXPECT_EQ(materialValue[1][3][1], m);
}
