// Piece terms: known values of mobility, pins, rook files and threats on
// small positions, colour symmetry of every stage on varied positions, and
// artificial crowded positions that must stay inside every table.

#include <cstring>

#include "eval/pieces.h"
#include "eval/terms.h"
#include "eval_test_util.h"

using namespace evaltest;

namespace {

// Scratch after the piece loops of pos (king safety and threats not run).
EvalScratch afterPieces(const Position& pos, PawnEntry& entry) {
  computePawnEntry(pos, entry);
  EvalScratch s;
  clearScratch(pos, s);
  pieceTerms(pos, entry, s);
  return s;
}

ScorePair whitePieceScore(const std::string& fen) {
  PawnEntry e;
  return afterPieces(fromFen(fen), e).score[White];
}

void expectPair(ScorePair actual, int mg, int eg, const std::string& what) {
  EXPECT_EQ(mgOf(actual), mg) << what;
  EXPECT_EQ(egOf(actual), eg) << what;
}

Bitboard flip(Bitboard b) { return __builtin_bswap64(b); }

}  // namespace

TEST(PieceTerms, PinnedKnightHasNoMobility) {
  Position pinned = fromFen("4k3/8/8/8/1b6/8/3N4/4K3 w - - 0 1");
  EXPECT_EQ(pinLine(pinned, White), squareBB[11]);
  // Same knight, bishop off the line: ten mobility squares (six targets,
  // four of them forward) instead of none.
  ScorePair withPin = whitePieceScore("4k3/8/8/8/1b6/8/3N4/4K3 w - - 0 1");
  ScorePair free = whitePieceScore("4k3/7b/8/8/8/8/3N4/4K3 w - - 0 1");
  expectPair(subPair(free, withPin), 37 + 496, 29 + 378, "mobility[10] - mobility[0]");
}

TEST(PieceTerms, PinLineNeedsExactlyOnePiece) {
  // Two pieces between the rook and the king: no pin.
  EXPECT_EQ(pinLine(fromFen("4r1k1/8/8/8/4N3/4B3/8/4K3 w - - 0 1"), White), 0u);
  // An enemy piece alone on the line is marked too.
  EXPECT_EQ(pinLine(fromFen("4r1k1/8/8/8/4n3/8/8/4K3 w - - 0 1"), White), squareBB[28]);
}

TEST(PieceTerms, RookFiles) {
  // Ra1 with the king on e1: ten squares (rookMobility[10] = (64,122)),
  // open file (160,172), safe from pawns (45,29).
  expectPair(whitePieceScore("4k3/8/8/8/8/8/8/R3K3 w - - 0 1"), 64 + 160 + 45, 122 + 172 + 29, "open file");
  // Rb1 facing b5 defended by c6: six squares (0,0), (59,30), and b1 lies
  // below a square c6 attacks, so it is not safe from pawns.
  expectPair(whitePieceScore("4k3/8/2p5/1p6/8/8/8/1R2K3 w - - 0 1"), 59, 30, "defended enemy pawn");
  // Without c6: seven squares (17,33), half-open file (96,110), safe (45,29).
  expectPair(whitePieceScore("4k3/8/8/1p6/8/8/8/1R2K3 w - - 0 1"), 17 + 96 + 45, 33 + 110 + 29, "half-open");
}

TEST(PieceTerms, RooksOnOneFileSupportEachOtherThroughPieces) {
  // Ra1: six squares (0,0), pair (23,7), open file, safe.  Ra8: eleven
  // squares (78,149), pair, open file, safe.  Na4 between them: king
  // distance 4 (-8,-4), six mobility points (-124,-94), safe.
  expectPair(whitePieceScore("R7/8/8/7k/N7/8/8/R3K3 w - - 0 1"), 228 + 306 - 87, 208 + 357 - 69, "rook pair");
}

TEST(PieceTerms, CorneredBishopAndBlockedRook) {
  // Bh1 behind its g2 pawn: pawn view 1 (-167,-240), no mobility
  // (-335,-315), one pawn on its colour (34,24), none on the other
  // (-32,-40), cornered (-75,-100), safe from pawns (45,29).
  expectPair(whitePieceScore("4k3/8/8/8/8/8/6P1/5K1B w - - 0 1"), -530, -642, "cornered bishop");
  // Rh1 shut in by the f1 king: eight squares (34,64), open file
  // (160,172), safe (45,29), blocked by the king (-300,-100).
  expectPair(whitePieceScore("4k3/8/8/8/8/8/8/5K1R w - - 0 1"), -61, 165, "king blocks rook");
}

TEST(PieceTerms, KnightOutpost) {
  // Nd5 defended by e4 with no pawn able to chase it: king distance 4
  // (-8,-4), twelve mobility points (eight squares, four forward) (107,82),
  // outpost (70,82), no enemy minor to challenge it (210,120), safe from
  // pawns (45,29), defended by a pawn (60,60).
  expectPair(whitePieceScore("4k3/8/8/3N4/4P3/8/8/4K3 w - - 0 1"), 484, 369, "outpost");
  // A black knight anywhere removes the unchallenged-outpost bonus.
  ScorePair rival = whitePieceScore("n3k3/8/8/3N4/4P3/8/8/4K3 w - - 0 1");
  expectPair(rival, 484 - 210, 369 - 120, "outpost with a rival knight");
}

TEST(Threats, PieceCountedInBothSets) {
  // Black knight e5 attacked by the d4 pawn (c1 = 1) and, undefended, by the
  // h2 bishop (c2 = 1): TH[1] + TH[2] = (500,550).  Qd1 guards d4, so no
  // undefended-pawn term; nothing of white's is attacked.
  Position pos = fromFen("4k3/8/8/4n3/3P4/8/7B/3Q2K1 w - - 0 1");
  PawnEntry e;
  EvalScratch s = afterPieces(pos, e);
  s.score[White] = s.score[Black] = 0;
  threatTerms(pos, s);
  expectPair(s.score[White], 500, 550, "white threats");
  expectPair(s.score[Black], 0, 0, "black threats");
}

TEST(Threats, PieceDefendedOnlyByPiecesAndLoosePawns) {
  // Black knight d5 attacked by Qd1 and defended by the e6 bishop only:
  // (30,37); the a2 pawn has no defender: (-15,-30).
  Position pos = fromFen("4k3/8/4b3/3n4/8/8/P7/3Q2K1 w - - 0 1");
  PawnEntry e;
  EvalScratch s = afterPieces(pos, e);
  s.score[White] = s.score[Black] = 0;
  threatTerms(pos, s);
  // c1 = 0 (no lesser attacker), c2 = 0 (the knight is defended).
  expectPair(s.score[White], 30 - 15, 37 - 30, "white threats");
}

TEST(PieceTerms, EveryStageIsColourSymmetric) {
  for (const std::string& fen : variedFens()) {
    Position pos = fromFen(fen), mir = fromFen(mirrorFen(fen));
    PawnEntry e, m;
    EvalScratch sp = afterPieces(pos, e), sm = afterPieces(mir, m);
    for (int c = White; c <= Black; c++) {
      EXPECT_EQ(sp.score[c], sm.score[other(c)]) << "pieces " << fen;
      EXPECT_EQ(sp.kingUnits[c], sm.kingUnits[other(c)]) << fen;
      EXPECT_EQ(sp.queenCheckUnits[c], sm.queenCheckUnits[other(c)]) << fen;
      EXPECT_EQ(sp.pinned[c], flip(sm.pinned[other(c)])) << fen;
      for (int t = 0; t <= King; t++) EXPECT_EQ(sp.attacks[c][t], flip(sm.attacks[other(c)][t])) << fen;
    }
    threatTerms(pos, sp);
    threatTerms(mir, sm);
    for (int c = White; c <= Black; c++) EXPECT_EQ(sp.score[c], sm.score[other(c)]) << "threats " << fen;
    EvalScratch fp, fm;
    ScorePair total = positionalTerms(pos, e, fp), mirrored = positionalTerms(mir, m, fm);
    EXPECT_EQ(total, subPair(0, mirrored)) << fen;
  }
}

TEST(PieceTerms, CrowdedArtificialPositionsStayInTables) {
  // Twenty-four knights attacked by twenty-four pawns (threat counts beyond
  // the table), a board full of queens (mobility, king units), many pawns
  // (count tables).  Run under the sanitizer build these must be clean; the
  // threat term is clamped to the last entry.
  Position knights = rawPosition("k7/nnnnnnnn/PPPPPPPP/nnnnnnnn/PPPPPPPP/nnnnnnnn/PPPPPPPP/K7");
  PawnEntry e;
  EvalScratch s = afterPieces(knights, e);
  s.score[White] = 0;
  threatTerms(knights, s);
  // c1 = 24 knights attacked by pawns: TH[17] twice; 24 knights defended by
  // knights only: the last entry (17 x (30,37)); 24 white pawns without a
  // defender: the last entry (15 x (-15,-30)).
  expectPair(s.score[White], 2 * 1900 + 510 - 225, 2 * 2090 + 629 - 450, "clamped threats");

  // Every term, clamped or not, must still come out colour-symmetric.
  const char* crowded[] = {
      "k7/nnnnnnnn/PPPPPPPP/nnnnnnnn/PPPPPPPP/nnnnnnnn/PPPPPPPP/K7",
      "QQQQQQQQ/QQQQQQQQ/QQQQQQQQ/QQQ1k1QQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQK",
      "k7/8/8/8/8/8/8/RRRRRRRK",
      "kqqqqqqq/qqqqqqqq/8/8/8/8/BBBBBBBB/NNNNNNNK",
      "4k3/pppppppp/pppppppp/pppppppp/PPPPPPPP/PPPPPPPP/PPPPPPPP/4K3",
      "nnnnknnn/bbbbbbbb/8/8/8/8/BBBBBBBB/NNNNKNNN",
  };
  for (const char* placement : crowded) {
    const std::string mirrored = mirrorFen(placement);
    Position pos = rawPosition(placement), mir = rawPosition(mirrored.substr(0, mirrored.find(' ')));
    PawnEntry pe, me;
    computePawnEntry(pos, pe);
    computePawnEntry(mir, me);
    EvalScratch scratch, mirScratch;
    EXPECT_EQ(positionalTerms(pos, pe, scratch), subPair(0, positionalTerms(mir, me, mirScratch))) << placement;
  }
}

TEST(PieceTerms, BothBitCountBuildsAgree) {
  if (!cpuHasPopcnt()) GTEST_SKIP() << "no population-count instruction";
  int saved = hasPopcnt;
  for (const std::string& fen : variedFens(20)) {
    Position pos = fromFen(fen);
    PawnEntry e;
    computePawnEntry(pos, e);
    EvalScratch soft, hard;
    hasPopcnt = 0;
    ScorePair a = positionalTerms(pos, e, soft);
    hasPopcnt = 1;
    ScorePair b = positionalTerms(pos, e, hard);
    EXPECT_EQ(a, b) << fen;
    EXPECT_EQ(soft.kingUnits[White], hard.kingUnits[White]) << fen;
    PawnEntry softEntry, hardEntry;
    hasPopcnt = 0;
    computePawnEntry(pos, softEntry);
    hasPopcnt = 1;
    computePawnEntry(pos, hardEntry);
    EXPECT_EQ(std::memcmp(&softEntry, &hardEntry, sizeof(PawnEntry)), 0) << fen;
  }
  hasPopcnt = saved;
}
