// The evaluation driver: caches, material, known configurations, scaling
// and the lazy exit.
#include <algorithm>
#include <cmath>

#include "eval/pawns.h"
#include "eval/terms.h"
#include "eval_fixture.h"

using namespace evalfixture;

namespace {

int evalFen(const std::string& fen, const EvalCaches& caches) {
  Position pos = fromFen(fen, caches);
  return evaluate(pos, -Wide, Wide);
}

}  // namespace

TEST(Evaluate, DeadDrawsAreExactlyZero) {
  TestCaches tc;
  const char* fens[] = {
      "8/8/4k3/8/8/3K4/8/8 w - - 0 1",          // bare kings
      "8/8/4k3/2q5/8/3K4/5Q2/8 w - - 0 1",      // queen against queen
      "8/8/4k3/2r5/8/3K4/5R2/8 b - - 0 1",      // rook against rook
      "8/8/4k3/2b5/8/3K4/5B2/8 w - - 0 1",      // bishops, same colour
      "8/8/4k3/2b5/8/3K4/4B3/8 b - - 0 1",      // bishops, opposite colours
      "8/8/4k3/2n5/8/3K4/4B3/8 w - - 0 1",      // bishop against knight
      "8/8/4k3/2n5/8/3K4/4N3/8 w - - 0 1",      // knight against knight
      "8/8/4k3/2b5/8/3K4/4N3/8 b - - 0 1",      // knight against bishop
  };
  for (const char* fen : fens) {
    EXPECT_EQ(evalFen(fen, tc.caches), 0) << fen;
    EXPECT_EQ(evalFen(mirrorFen(fen), tc.caches), 0) << fen;
  }
}

TEST(Evaluate, SpecialTableRecords) {
  TestCaches tc;
  // A lone minor: 10 fine units, positional part shrunk by sqrt(10 / 2000).
  for (const char* fen : {"8/8/4k3/8/8/3K4/4B3/8 w - - 0 1", "8/8/4k3/8/8/3K4/4N3/8 w - - 0 1"}) {
    Position pos = fromFen(fen, tc.caches);
    const SpecialMaterial& s = specialMaterial[pos.materialKey & 0xFFFF];
    ASSERT_EQ(s.key, pos.materialKey);
    EXPECT_EQ(s.value, 10);
    EXPECT_NEAR(s.scale, 0.0707, 1e-4);
    EXPECT_EQ(s.function, nullptr);
    Position black = fromFen(mirrorFen(fen), tc.caches);
    const SpecialMaterial& b = specialMaterial[black.materialKey & 0xFFFF];
    ASSERT_EQ(b.key, black.materialKey);
    EXPECT_EQ(b.value, -10);
  }
  // Bare kings: material key 0, value 0, scale 0.
  Position kings = fromFen("8/8/4k3/8/8/3K4/8/8 w - - 0 1", tc.caches);
  EXPECT_EQ(kings.materialKey, 0u);
  EXPECT_EQ(specialMaterial[0].key, 0u);
  EXPECT_EQ(specialMaterial[0].scale, 0.0);
  // Large values keep the full positional part; functions are recorded.
  Position queen = fromFen("8/8/4k3/8/8/3K4/7Q/8 w - - 0 1", tc.caches);
  EXPECT_EQ(specialMaterial[queen.materialKey & 0xFFFF].value, 8000);
  EXPECT_EQ(specialMaterial[queen.materialKey & 0xFFFF].scale, 1.0);
  Position rook = fromFen("8/8/4k3/8/8/3K4/8/r7 w - - 0 1", tc.caches);
  EXPECT_EQ(specialMaterial[rook.materialKey & 0xFFFF].value, -7000);
  Position minorPawns = fromFen("8/8/4k3/3ppp2/8/3K4/4B3/8 w - - 0 1", tc.caches);
  EXPECT_EQ(specialMaterial[minorPawns.materialKey & 0xFFFF].value, -400);
  EXPECT_NEAR(specialMaterial[minorPawns.materialKey & 0xFFFF].scale, std::sqrt(0.2), 1e-12);
  Position bn = fromFen("8/8/4k3/8/8/3K4/4BN2/8 w - - 0 1", tc.caches);
  EXPECT_NE(specialMaterial[bn.materialKey & 0xFFFF].function, nullptr);
  // The two bishops: 6000 with both colours, but two same-coloured bishops
  // are not that record.
  Position pair = fromFen("8/8/4k3/8/8/3K4/3BB3/8 w - - 0 1", tc.caches);
  EXPECT_EQ(specialMaterial[pair.materialKey & 0xFFFF].value, 6000);
}

TEST(Evaluate, BishopKnightMateExample) {
  TestCaches tc;
  // Weak king in the bishop's corner, kings two squares apart, knight next
  // to the weak king: 4800 fine units; 5 phase points stretch it to 570.
  const char* fen = "7k/5K1N/8/8/8/4B3/8/8 w - - 0 1";
  EXPECT_EQ(evalFen(fen, tc.caches), 570);
  EXPECT_EQ(evalFen(mirrorFen(fen), tc.caches), 570);
  EXPECT_EQ(evalFen("7k/5K1N/8/8/8/4B3/8/8 b - - 0 1", tc.caches), -570);
  // The wrong corner is worth much less to the strong side.
  EXPECT_LT(evalFen("k7/2K5/2N5/8/8/4B3/8/8 w - - 0 1", tc.caches), 570);
}

TEST(Evaluate, KingPawnKing) {
  TestCaches tc;
  // Drawn: 30 fine units = 3 for the pawn side.
  EXPECT_EQ(evalFen("k7/8/8/8/8/8/P7/7K w - - 0 1", tc.caches), 3);
  EXPECT_EQ(evalFen("k7/8/8/8/8/8/P7/7K b - - 0 1", tc.caches), -3);
  // Won: 6500 + 160 x 4, stretched at phase 0: 714 + 96 x 614 / 384.
  EXPECT_EQ(evalFen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", tc.caches), 867);
  EXPECT_EQ(evalFen(mirrorFen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1"), tc.caches), 867);
}

TEST(Evaluate, RookPawnRookFortress) {
  TestCaches tc;
  double scale = -1;
  auto run = [&](const std::string& fen) {
    Position pos = fromFen(fen, tc.caches);
    const SpecialMaterial& s = specialMaterial[pos.materialKey & 0xFFFF];
    EXPECT_EQ(s.key, pos.materialKey) << fen;
    EXPECT_NE(s.function, nullptr) << fen;
    return s.function ? s.function(pos, &scale) : 0;
  };
  // Defending king on the queening square, pawn on the sixth, rook checking
  // from behind: value 50 with scale 0.158.
  EXPECT_EQ(run("4k3/8/4P3/8/1K6/8/8/r6R w - - 0 1"), 50);
  EXPECT_DOUBLE_EQ(scale, 0.158);
  EXPECT_EQ(run(mirrorFen("4k3/8/4P3/8/1K6/8/8/r6R w - - 0 1")), -50);
  EXPECT_DOUBLE_EQ(scale, 0.158);
  // Pawn further back, rook on the third rank: the same defence.
  EXPECT_EQ(run("4k3/8/r7/4P3/1K6/8/8/7R w - - 0 1"), 50);
  EXPECT_EQ(run("r3k3/8/4P3/8/1K6/8/8/7R w - - 0 1"), 300);
  EXPECT_DOUBLE_EQ(scale, 0.387);
  EXPECT_EQ(run("2k5/8/4P3/8/1K6/8/8/r6R w - - 0 1"), 500);
  EXPECT_DOUBLE_EQ(scale, 0.5);
}

TEST(Evaluate, MaterialBalance) {
  TestCaches tc;
  Position start = fromFen(StartFen, tc.caches);
  MaterialEntry m = computeMaterial(start);
  EXPECT_EQ(m.value, 0);
  EXPECT_DOUBLE_EQ(m.scale, 1.15);
  // Opposite bishops with pawns only: 0.6.
  Position ocb = fromFen("4k3/pp2b3/8/8/8/8/PPP5/4KB2 w - - 0 1", tc.caches);
  m = computeMaterial(ocb);
  EXPECT_DOUBLE_EQ(m.scale, 0.6 * 0.8);  // white ahead with 3 pawns
  Position ocbRooks = fromFen("r3k3/pp2b3/8/8/8/8/PPP5/R3KB2 w - - 0 1", tc.caches);
  m = computeMaterial(ocbRooks);
  // Phase 22 weighs 26: base 0.95 + 26 x 0.2 / 96 = 1.0041667, x 0.95 x 0.8.
  EXPECT_NEAR(m.scale, 0.7631666667, 1e-9);
  // Pure pawn ending: 1.3, then the few-pawns factor of the side ahead.
  Position pawns = fromFen("4k3/pp6/8/8/8/8/PPP5/4K3 w - - 0 1", tc.caches);
  m = computeMaterial(pawns);
  EXPECT_DOUBLE_EQ(m.scale, 1.3 * 0.8);
  // Pawnless: a minor piece ahead (8 against 5 eighths of the piece count)
  // scales by 0.2, equal material (6 against 5) by 0.1.  Phase 19 weighs
  // 23 (base 0.9979167), phase 13 weighs 15 (base 0.98125).
  Position pawnless = fromFen("4k3/8/8/3r4/8/8/8/2R1KB2 w - - 0 1", tc.caches);
  m = computeMaterial(pawnless);
  EXPECT_NEAR(m.scale, 0.1995833333, 1e-9);
  Position even = fromFen("4k3/8/8/3r4/8/8/8/2N1KB2 w - - 0 1", tc.caches);
  m = computeMaterial(even);
  EXPECT_NEAR(m.scale, 0.098125, 1e-12);

  // An extra queen: (9550 - 155 - 15, 10150 - 105 - 15) = (9380, 10030)
  // with a rook beside it and 8 pawns; phase 74 weighs 76:
  // 9380 x 76 + 10030 x 20 = 913480, x (0.95 + 76 x 0.2 / 96) = 1012440.3.
  Position queenUp = fromFen("rnb1kbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", tc.caches);
  m = computeMaterial(queenUp);
  EXPECT_EQ(m.value, 1012440);
}

TEST(Evaluate, CachesGiveTheSameAnswer) {
  TestCaches tc;
  const char* fen = "r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/3P1N2/PPP2PPP/RNBQK2R w KQkq - 0 1";
  Position pos = fromFen(fen, tc.caches);
  int first = evaluate(pos, -Wide, Wide);
  MaterialEntry& me = tc.caches.materialTable[pos.materialKey & materialTableMask];
  EXPECT_EQ(me.key, pos.materialKey);
  EXPECT_EQ(tc.caches.evalCache[pos.key & evalCacheMask].score, first);
  EXPECT_EQ(evaluate(pos, -Wide, Wide), first);  // eval cache hit
  tc.caches.evalCache[pos.key & evalCacheMask].key = 0;
  EXPECT_EQ(evaluate(pos, -Wide, Wide), first);  // material and pawn hits
  // A function ending is never stored in the material table.
  Position kpk = fromFen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", tc.caches);
  evaluate(kpk, -Wide, Wide);
  EXPECT_NE(tc.caches.materialTable[kpk.materialKey & materialTableMask].key, kpk.materialKey);
}

TEST(Evaluate, FiftyMoveFade) {
  TestCaches tc;
  // The halfmove clock is not part of the key: empty the eval cache between runs.
  auto at = [&](int rule50) {
    Position pos = fromFen("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNB1KBNR w KQkq - 0 1", tc.caches);
    pos.rule50 = (int16_t)rule50;
    tc.caches.evalCache[pos.key & evalCacheMask].key = 0;
    return evaluate(pos, -Wide, Wide);
  };
  // At 101 and beyond only the tempo bonus is left (phase 74 here: 10.0).
  EXPECT_EQ(at(101), rdiv(tempoBonus[74], 10));
  EXPECT_EQ(at(150), rdiv(tempoBonus[74], 10));
  int fresh = at(0);
  EXPECT_EQ(at(85), fresh);
  int faded = at(95);
  EXPECT_LT(fresh, -500);
  EXPECT_GT(faded, fresh);
  EXPECT_LT(faded, 0);
  EXPECT_GT(at(100), faded);
  EXPECT_LT(at(100), 0);
}

TEST(Evaluate, WrongBishopCap) {
  TestCaches tc;
  // Light bishop, h-pawn, defending king in the corner: capped at 30 fine
  // units before the tempo (52 fine units at 3 phase points).
  EXPECT_EQ(evalFen("7k/8/8/8/8/8/6BP/6K1 w - - 0 1", tc.caches), 8);
  EXPECT_EQ(evalFen("7k/8/8/8/8/8/6BP/6K1 b - - 0 1", tc.caches), 2);
  EXPECT_EQ(evalFen(mirrorFen("7k/8/8/8/8/8/6BP/6K1 w - - 0 1"), tc.caches), 8);
  // The right bishop, or the king away from the corner, is not capped.
  EXPECT_GT(evalFen("7k/8/8/8/8/8/7P/4B1K1 w - - 0 1", tc.caches), 100);
  EXPECT_GT(evalFen("8/8/1k6/8/8/8/6BP/6K1 w - - 0 1", tc.caches), 100);
  // Two bishops without pawns are a win, whatever the corner.
  EXPECT_GT(evalFen("7k/8/8/8/8/8/6B1/5BK1 w - - 0 1", tc.caches), 300);
}

TEST(Evaluate, LazyExitAgreesWithTheFullScore) {
  TestCaches tc;
  const char* fens[] = {
      "r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/3P1N2/PPP2PPP/RNBQK2R w KQkq - 0 1",
      "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 b - - 0 10",
      "rnbqkb1r/pp1p1ppp/2p5/4P3/2B5/8/PPP1QPPP/R1B1K1NR b KQkq - 0 1",
      "2r3k1/5ppp/8/8/8/8/5PPP/3R2K1 w - - 0 1"};
  for (const char* fen : fens) {
    Position pos = fromFen(fen, tc.caches);
    int full = evaluate(pos, -Wide, Wide);  // leaves this position's own positional part
    // The estimate differs from the full score by the tempo and rounding
    // (at most 13 units here); windows farther away than that must exit
    // lazily on the correct side.
    for (int margin : {15, 40, 200}) {
      tc.caches.evalCache[pos.key & evalCacheMask].key = 0;
      int hi = evaluate(pos, full - 2 * margin, full - margin);
      EXPECT_GT(hi, full - margin) << fen;
      tc.caches.evalCache[pos.key & evalCacheMask].key = 0;
      int lo = evaluate(pos, full + margin, full + 2 * margin);
      EXPECT_LT(lo, full + margin) << fen;
    }
    // A window around the score never exits lazily.
    tc.caches.evalCache[pos.key & evalCacheMask].key = 0;
    EXPECT_EQ(evaluate(pos, full - 20, full + 20), full) << fen;
    // A lazy return is never stored in the eval cache.
    tc.caches.evalCache[pos.key & evalCacheMask].key = 0;
    evaluate(pos, full + 100, full + 200);
    EXPECT_NE(tc.caches.evalCache[pos.key & evalCacheMask].key, pos.key) << fen;
  }
}

TEST(Evaluate, SpecialTableHasNoLostRecords) {
  TestCaches tc;
  // 58 records besides bare kings, for both colours, minus the colour-
  // symmetric ones (Bb, Cc, Nn, Qq, Rr, and Bc/Cb sharing keys): 109 slots
  // with a non-zero key when no two records collide.
  int used = 0;
  for (const SpecialMaterial& s : specialMaterial) used += s.key != 0;
  EXPECT_EQ(used, 109);
}

TEST(Evaluate, ArtificialMaterialStaysInsideTheTables) {
  TestCaches tc;
  // Far more pieces than a game can produce: counts, threats and king
  // attack units beyond the ends of their tables read the last entry.
  const char* fens[] = {
      "qqqqkqqq/qqqqqqqq/8/8/8/8/QQQQQQQQ/QQQQKQQQ w - - 0 1",
      "k7/pppppppp/8/8/8/8/QQQQQQQQ/QQQQQQQK w - - 0 1",
      "1k6/nnnnnnnn/PPPPPPPP/8/8/8/8/NNNNNNNK b - - 0 1",
      "r1b1k2r/qqqqqqqq/8/8/8/8/BBBBBBBB/RNBQKBNR w KQkq - 0 1",
  };
  for (const char* fen : fens) {
    Position pos = fromFen(fen, tc.caches);
    Position mirror = fromFen(mirrorFen(fen), tc.caches);
    int a = evaluate(pos, -Wide, Wide), b = evaluate(mirror, -Wide, Wide);
    EXPECT_EQ(a, b) << fen;
    EXPECT_LT(std::abs(a), MateBound) << fen;
  }
}

TEST(Evaluate, KnightPawnKing) {
  TestCaches tc;
  // Rook pawn on the seventh with the defending king on the queening
  // square: 5 x (10 - 7) = 15 fine units, 2 score units.
  EXPECT_EQ(evalFen("k7/P7/8/8/8/8/8/4K1N1 w - - 0 1", tc.caches), 2);
  EXPECT_EQ(evalFen(mirrorFen("k7/P7/8/8/8/8/8/4K1N1 w - - 0 1"), tc.caches), 2);
  // Otherwise 4200 + 10 x (5 x 2 - 3 x 2 - 10 x 6 - 5 x 1) = 3590 fine units,
  // stretched at 2 phase points: 359 + 94 x 259 / 384.
  EXPECT_EQ(evalFen("8/8/8/8/4k3/8/4P3/4K1N1 w - - 0 1", tc.caches), 422);
  EXPECT_EQ(evalFen(mirrorFen("8/8/8/8/4k3/8/4P3/4K1N1 w - - 0 1"), tc.caches), 422);
  EXPECT_EQ(evalFen("8/8/8/8/4k3/8/4P3/4K1N1 b - - 0 1", tc.caches), -422);
}

TEST(Evaluate, TraceListsEveryTermPerSide) {
  TestCaches tc;
  Position pos = fromFen("r1bqk2r/pppp1ppp/2n2n2/2b1p3/2B1P3/3P1N2/PPP2PPP/RNBQK2R w KQkq - 0 1", tc.caches);
  std::string text = evalTrace(pos);
  // Term lines in this order, each with white, black and total columns.
  size_t at = 0;
  for (const char* term : {"Material |", "Pawns |", "Passed pawns |", "Pieces |", "Mobility |", "Threats |",
                           "King safety |"}) {
    size_t found = text.find(term, at);
    ASSERT_NE(found, std::string::npos) << term << "\n" << text;
    at = found;
    size_t end = text.find('\n', found);
    std::string line = text.substr(found, end - found);
    EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 3) << line;
  }
  EXPECT_NE(text.find("Evaluation: "), std::string::npos);
  // Each side's pawn sums make up the cached first layer.
  ScorePair sides[2];
  pawnSideScores(pos, sides);
  PawnEntry entry;
  computePawnEntry(pos, entry);
  EXPECT_EQ(subPair(sides[White], sides[Black]), entry.score);
}

TEST(Evaluate, MobilityIsKeptApartForTheTrace) {
  TestCaches tc;
  // A lone knight on d4: eight squares, four of them ahead, count 12.
  Position pos = fromFen("4k3/8/8/8/3N4/8/8/4K3 w - - 0 1", tc.caches);
  PawnEntry entry;
  computePawnEntry(pos, entry);
  EvalScratch s;
  clearScratch(pos, s);
  pieceTerms(pos, entry, s);
  EXPECT_EQ(s.mobility[White], knightMobility[12]);
  EXPECT_EQ(s.mobility[Black], 0u);
  // The side's sum holds the mobility and the knight's other terms: its
  // distance to its own king (3 squares: 0) and the safe-square bonus.
  EXPECT_EQ(s.score[White], addPair(knightMobility[12], safeFromPawnsCount[1]));
}
