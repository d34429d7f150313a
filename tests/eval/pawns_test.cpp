// Pawn structure: hand-computed first-layer scores of small structures, the
// per-side facts (passers, spans, shelter, locked flag), the table probe and
// colour symmetry of every first- and second-layer term.

#include <algorithm>

#include "eval/pawns.h"
#include "eval/terms.h"
#include "eval_test_util.h"

using namespace evaltest;

namespace {

PawnEntry entryOf(const std::string& fen) {
  Position pos = fromFen(fen);
  PawnEntry e;
  computePawnEntry(pos, e);
  return e;
}

std::vector<int> passedList(const PawnEntry& e, int c) {
  std::vector<int> out;
  for (int i = 0; i < 8 && e.passed[c][i]; i++) out.push_back(e.passed[c][i]);
  return out;
}

void expectPair(ScorePair actual, int mg, int eg, const std::string& what) {
  EXPECT_EQ(mgOf(actual), mg) << what;
  EXPECT_EQ(egOf(actual), eg) << what;
}

}  // namespace

// Each total below was added up by hand, term by term, from the structure.
TEST(PawnStructure, LoneIsolatedPasserWithShelter) {
  // d2: pawn control (12,16), isolated on an open file (-118,-135), shelter
  // of the e1 king (243) plus storm file credit (32); both kings' distance
  // to the stop square d3; the king/pawn-mass terms cancel.
  PawnEntry e = entryOf("4k3/8/8/8/8/8/3P4/4K3 w - - 0 1");
  expectPair(e.score, 121, -11, "score");
  EXPECT_EQ(e.shelter[White], 1);
  EXPECT_EQ(e.shelter[Black], 0);
  EXPECT_EQ(passedList(e, White), std::vector<int>({11}));
  EXPECT_TRUE(passedList(e, Black).empty());
  EXPECT_EQ(e.span[White], 1);
  EXPECT_EQ(e.span[Black], 0);
  EXPECT_EQ(e.locked, 0);
}

TEST(PawnStructure, ConnectedPassers) {
  // f5 g5: phalanx 2x(22,22), two connected passers CP[5th] 2x(75,118),
  // several passers (33,122), pawn control 4x(6,8).
  PawnEntry e = entryOf("k7/8/8/5PP1/8/8/8/K7 w - - 0 1");
  expectPair(e.score, 251, 434, "score");
  EXPECT_EQ(passedList(e, White), std::vector<int>({37, 38}));
  EXPECT_EQ(e.span[White], 2);
}

TEST(PawnStructure, DoubledIsolatedPawns) {
  // e2 e4: one surplus pawn (-37,-58), undefended front pawn of a doubled
  // file (-36,-44), two isolated on an open file, isolated-and-doubled
  // (-25,-48); only e4 is passed.
  PawnEntry e = entryOf("k7/8/8/8/4P3/8/4P3/K7 w - - 0 1");
  expectPair(e.score, -310, -388, "score");
  EXPECT_EQ(passedList(e, White), std::vector<int>({28}));
}

TEST(PawnStructure, BackwardPawnWithAttackedStop) {
  // d2 cannot be supported by c4 and its stop square d3 is hit by e4:
  // backward (-35,-31), on an open file (-53,-94), stuck on the second rank
  // (-10,-10).  e4 is isolated; c4 is a passer.
  PawnEntry e = entryOf("k7/8/8/8/2P1p3/8/3P4/K7 w - - 0 1");
  expectPair(e.score, 166, -11, "score");
  EXPECT_EQ(passedList(e, White), std::vector<int>({26}));
  EXPECT_TRUE(passedList(e, Black).empty());
}

TEST(PawnStructure, CandidatePasser) {
  // c4 is held up by d6 only and has b4 as supporter: candidate CAND[4th]
  // (83,130); b4 is a connected passer CP[4th] (30,47).
  PawnEntry e = entryOf("7k/8/3p4/8/1PP5/8/8/7K w - - 0 1");
  expectPair(e.score, 287, 372, "score");
  EXPECT_EQ(passedList(e, White), std::vector<int>({25}));
}

TEST(PawnStructure, LeversOnTheFifthAndSixthRanks) {
  // e5 attacked by d6: lever (60,60); everything else cancels between two
  // isolated, non-passed pawns with equal control.
  expectPair(entryOf("k7/8/3p4/4P3/8/8/8/K7 w - - 0 1").score, 60, 60, "white lever");
  // The same for black on its fifth rank (board rank 4).
  expectPair(entryOf("k7/8/8/8/4p3/3P4/8/K7 w - - 0 1").score, -60, -60, "black lever");
}

TEST(PawnStructure, PassedListsAreLowestSquareFirstAndCapped) {
  PawnEntry e = entryOf("4k3/P1P1P3/8/8/8/8/p1p1p3/4K3 w - - 0 1");
  EXPECT_EQ(passedList(e, White), std::vector<int>({48, 50, 52}));
  EXPECT_EQ(passedList(e, Black), std::vector<int>({8, 10, 12}));
  // Artificial: more than eight pawns never overflow the list.
  PawnEntry many;
  computePawnEntry(rawPosition("4k3/8/PPPPPPPP/8/PPPPPPPP/8/8/4K3"), many);
  EXPECT_EQ(passedList(many, White).size(), 8u);
}

TEST(PawnStructure, SpansAndLockedFlag) {
  PawnEntry wide = entryOf("4k3/p6p/8/8/8/8/P6P/4K3 w - - 0 1");
  EXPECT_EQ(wide.span[White], 8);
  EXPECT_EQ(wide.span[Black], 8);
  PawnEntry none = entryOf("4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  EXPECT_EQ(none.span[White], 0);
  EXPECT_EQ(none.span[Black], 0);
  expectPair(none.score, 0, 0, "bare kings");

  // Rammed chain d4/e5 against d5/e6 with the c- and f-files empty.
  EXPECT_EQ(entryOf("4k3/8/4p3/3pP3/3P4/8/8/4K3 w - - 0 1").locked, 1);
  // A free h-pawn can still open the position.
  EXPECT_EQ(entryOf("4k3/8/4p3/3pP3/3P4/8/7P/4K3 w - - 0 1").locked, 0);
  // All four central files occupied: not locked.
  EXPECT_EQ(entryOf("4k3/8/2p1p3/2PpPp2/3P1P2/8/8/4K3 w - - 0 1").locked, 0);
}

TEST(PawnStructure, UncastledKingGetsCastledShelter) {
  PawnEntry e1 = entryOf("4k3/8/8/8/8/8/5PPP/4K3 w - - 0 1");
  PawnEntry g1 = entryOf("4k3/8/8/8/8/8/5PPP/6K1 w - - 0 1");
  EXPECT_EQ(e1.shelter[White], g1.shelter[White]);
  EXPECT_EQ(e1.shelter[White], 4);  // (243 + 486 + 243 + 32) / 220
  // The d1 king has no such alternative.
  EXPECT_LT(entryOf("4k3/8/8/8/8/8/5PPP/3K4 w - - 0 1").shelter[White], e1.shelter[White]);
}

TEST(PawnStructure, EdgePhalanxOnHalfOpenFile) {
  // a3 b3, no black pawns: control 3x(6,8), phalanx 2x(22,22), the a-pawn's
  // edge penalty (0,-40), two connected passers on the third rank 2x(7,12)
  // plus (33,122), storm file credits cancel, b4 proximity for both kings.
  PawnEntry e = entryOf("7k/8/8/8/8/PP6/8/7K w - - 0 1");
  expectPair(e.score, 109, 174, "score");
}

TEST(PawnStructure, ProbeFillsAndReusesTheSlot) {
  Position pos = fromFen("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
  static PawnEntry table[16];
  Key savedMask = pawnTableMask;
  pawnTableMask = 15;
  pos.pawnTable = table;
  const PawnEntry& first = probePawns(pos);
  EXPECT_EQ(first.key, pos.pawnKey);
  EXPECT_EQ(&first, &table[pos.pawnKey & 15]);
  PawnEntry direct;
  computePawnEntry(pos, direct);
  EXPECT_EQ(first.score, direct.score);
  EXPECT_EQ(&probePawns(pos), &first);
  pawnTableMask = savedMask;
  // Without a table the probe still answers.
  pos.pawnTable = nullptr;
  EXPECT_EQ(probePawns(pos).score, direct.score);
}

TEST(PawnStructure, FirstLayerIsColourSymmetric) {
  for (const std::string& fen : variedFens()) {
    PawnEntry e = entryOf(fen), m = entryOf(mirrorFen(fen));
    ASSERT_EQ(m.score, subPair(0, e.score)) << fen;
    EXPECT_EQ(e.shelter[White], m.shelter[Black]) << fen;
    EXPECT_EQ(e.shelter[Black], m.shelter[White]) << fen;
    EXPECT_EQ(e.span[White], m.span[Black]) << fen;
    EXPECT_EQ(e.locked, m.locked) << fen;
    for (int c = White; c <= Black; c++) {
      std::vector<int> own = passedList(e, c), mirrored = passedList(m, other(c));
      for (int& s : mirrored) s = mirrorSquare(s);
      std::sort(own.begin(), own.end());
      std::sort(mirrored.begin(), mirrored.end());
      EXPECT_EQ(own, mirrored) << fen;
    }
  }
}

TEST(PassedPawns, SecondLayerIsColourSymmetric) {
  for (const std::string& fen : variedFens()) {
    Position pos = fromFen(fen), mir = fromFen(mirrorFen(fen));
    PawnEntry e, m;
    computePawnEntry(pos, e);
    computePawnEntry(mir, m);
    EvalScratch sp, sm;
    clearScratch(pos, sp);
    pieceTerms(pos, e, sp);
    clearScratch(mir, sm);
    pieceTerms(mir, m, sm);
    sp.score[0] = sp.score[1] = sm.score[0] = sm.score[1] = 0;
    passedPawnTerms(pos, e, sp);
    passedPawnTerms(mir, m, sm);
    EXPECT_EQ(sp.score[White], sm.score[Black]) << fen;
    EXPECT_EQ(sp.score[Black], sm.score[White]) << fen;
  }
}

TEST(PassedPawns, AdvancedFreePasserTerms) {
  // White pawn e6 (r = 4), nothing on the path: base (480,578), own king e1
  // to the stop square e7 at distance 6 KO[4][6], enemy king a8 at distance
  // 4 KE[4][4], unattacked but undefended path (10k, 60k) with k = 12, and no
  // own piece on the path (k, 3k).
  Position pos = fromFen("k7/8/4P3/8/8/8/8/4K3 w - - 0 1");
  PawnEntry e;
  computePawnEntry(pos, e);
  EvalScratch s;
  clearScratch(pos, s);
  pieceTerms(pos, e, s);
  s.score[0] = s.score[1] = 0;
  passedPawnTerms(pos, e, s);
  expectPair(s.score[White], 480 + 120 + 12, 578 - 828 + 1187 + 720 + 36, "white passer");
  expectPair(s.score[Black], 0, 0, "black");

  // A black rook behind the pawn with a clear line attacks the whole path:
  // the free-path bonus is lost, the no-own-piece bonus stays.
  Position behind = fromFen("k7/8/4P3/8/8/8/8/K3r3 w - - 0 1");
  computePawnEntry(behind, e);
  clearScratch(behind, s);
  pieceTerms(behind, e, s);
  s.score[0] = s.score[1] = 0;
  passedPawnTerms(behind, e, s);
  // Own king a1 to e7: distance 6; enemy king a8: distance 4.
  expectPair(s.score[White], 480 + 12, 578 - 828 + 1187 + 36, "passer with rook behind");
}
