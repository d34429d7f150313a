// King safety: hand-counted attack units, queen contact checks, clamping of
// the units at 0 and at the table's end, and the static exchange test on
// classic exchanges (x-rays, king recaptures, excluded move kinds).

#include "board/settings.h"
#include "eval/king.h"
#include "eval/terms.h"
#include "eval_test_util.h"

using namespace evaltest;

namespace {

struct Evaluated {
  Position pos;
  PawnEntry entry;
  EvalScratch scratch;
};

Evaluated afterPieces(const std::string& fen) {
  Evaluated r;
  r.pos = fromFen(fen);
  computePawnEntry(r.pos, r.entry);
  clearScratch(r.pos, r.scratch);
  pieceTerms(r.pos, r.entry, r.scratch);
  return r;
}

int see(const std::string& fen, int side, Square from, Square to, int kind = KindNormal) {
  return seeLoses(fromFen(fen), side, makeMove16(from, to, kind));
}

constexpr Square sq(const char* name) { return makeSquare(name[0] - 'a', name[1] - '1'); }

}  // namespace

TEST(KingSafety, HandCountedUnits) {
  // White: 3 - shelter[black] (f7 g7 h7 before g8: (243+486+243+32)/220 = 4)
  // plus one safe distant queen check on d8 (+3) = 2.  Black: 3, -3 for
  // having no queen, nothing else = 0.
  Evaluated e = afterPieces("6k1/5ppp/8/8/8/8/8/3QK3 w - - 0 1");
  EXPECT_EQ(e.entry.shelter[Black], 4);
  EXPECT_EQ(kingAttackUnits(e.pos, e.entry, e.scratch, White), 2);
  EXPECT_EQ(kingAttackUnits(e.pos, e.entry, e.scratch, Black), 0);
  EvalScratch s = e.scratch;
  s.score[White] = s.score[Black] = 0;
  kingSafety(e.pos, e.entry, s);
  EXPECT_EQ(s.score[White], KA[2]);
  EXPECT_EQ(s.score[Black], 0u);
  EXPECT_EQ(egOf(KA[2]), 0);
}

TEST(KingSafety, QueenContactCheckNeedsSupport) {
  // Qg1 reaches five distant checks on the g-file (+3 each) and the contact
  // square g7, which only the king defends: +1 alone, +10 with the a1
  // bishop also hitting g7.
  Evaluated alone = afterPieces("6k1/8/8/8/8/8/8/4K1Q1 b - - 0 1");
  EXPECT_EQ(alone.scratch.queenCheckUnits[White], 15 + 1);
  Evaluated supported = afterPieces("6k1/8/8/8/8/8/8/B3K1Q1 b - - 0 1");
  EXPECT_EQ(supported.scratch.queenCheckUnits[White], 15 + 10);
  // The queen-check sum is capped at 25 in the total.
  Evaluated two = afterPieces("6k1/8/8/8/8/8/8/B2QK1Q1 b - - 0 1");
  EXPECT_GT(two.scratch.queenCheckUnits[White], 25);
  EvalScratch capped = two.scratch;
  capped.queenCheckUnits[White] = 25;
  EXPECT_EQ(kingAttackUnits(two.pos, two.entry, two.scratch, White),
            kingAttackUnits(two.pos, two.entry, capped, White));
}

TEST(KingSafety, UnitsAreClampedAtBothEnds) {
  Evaluated e = afterPieces("r1bq1rk1/pppp1ppp/2n2n2/2b1p3/2B1P3/3P1N2/PPP2PPP/RNBQ1RK1 w - - 0 1");
  EvalScratch s = e.scratch;
  s.kingUnits[White] = 100000;  // far beyond any table
  s.kingUnits[Black] = -100000;
  s.score[White] = s.score[Black] = 0;
  kingSafety(e.pos, e.entry, s);
  EXPECT_EQ(s.score[White], KA[KingAttackSize - 1]);
  EXPECT_EQ(s.score[Black], KA[0]);
  EXPECT_EQ(KA[0], 0u);
}

TEST(KingSafety, CrowdedBoardStaysInTable) {
  // Artificial: dozens of attackers around the black king on d5.  Units:
  // 3 (no shelter to subtract), 14 knights touching the king's squares
  // (+3 each, none of their check squares is free), Bc5 and Be5 (+1 each),
  // Rc3 and Re3 (+1 each), Rd3 (+1, and +2 on the king's file), no queen
  // reaching a free check square, all eight squares around the king
  // undefended (+2 each): 3 + 42 + 2 + 5 + 16 = 68; KA[68] with the default
  // option is trunc(1213 x 65 / 10) = 7884 in the middle game.
  Position pos = rawPosition("QQQQQQQQ/QNNNNNQQ/QNB1BNQQ/QNBkBNQQ/QNNNNNQQ/RRRRRRRR/BBBBBBBB/NNNNNNNK");
  PawnEntry e;
  computePawnEntry(pos, e);
  EvalScratch s;
  clearScratch(pos, s);
  pieceTerms(pos, e, s);
  EXPECT_EQ(s.kingUnits[White], 49);
  EXPECT_EQ(kingAttackUnits(pos, e, s, White), 68);
  s.score[White] = s.score[Black] = 0;
  kingSafety(pos, e, s);
  EXPECT_EQ(mgOf(s.score[White]), 7884);
  EXPECT_EQ(egOf(s.score[White]), 0);
}

TEST(KingSafety, OptionScalesTheTable) {
  int saved = settings::kingSafety;
  settings::kingSafety = 0;
  buildEvalTables();
  for (int u = 0; u < KingAttackSize; u++) EXPECT_EQ(KA[u], 0u);
  settings::kingSafety = 200;
  buildEvalTables();
  EXPECT_EQ(mgOf(KA[200]), 29520);
  settings::kingSafety = saved;
  buildEvalTables();
  EXPECT_EQ(mgOf(KA[10]), 442);
}

TEST(KingSafety, UnitsAreColourSymmetric) {
  for (const std::string& fen : variedFens()) {
    Evaluated a = afterPieces(fen), b = afterPieces(mirrorFen(fen));
    for (int c = White; c <= Black; c++)
      EXPECT_EQ(kingAttackUnits(a.pos, a.entry, a.scratch, c), kingAttackUnits(b.pos, b.entry, b.scratch, other(c)))
          << fen;
  }
}

TEST(StaticExchange, ClassicCases) {
  // Queen takes a pawn defended by a pawn: loses.
  EXPECT_EQ(see("4k3/8/4p3/3p4/8/8/8/3QK3 w - - 0 1", White, sq("d1"), sq("d5")), -1);
  // Pawn takes knight: never losing (victim at least the mover).
  EXPECT_EQ(see("4k3/8/4p3/3n4/4P3/8/8/4K3 w - - 0 1", White, sq("e4"), sq("d5")), 0);
  // Rook takes a bishop defended by a pawn: loses.
  EXPECT_EQ(see("4k3/8/2p5/3b4/8/8/8/3RK3 w - - 0 1", White, sq("d1"), sq("d5")), -1);
  // Knight takes an undefended pawn: fine.
  EXPECT_EQ(see("4k3/8/8/3p4/8/2N5/8/4K3 w - - 0 1", White, sq("c3"), sq("d5")), 0);
  // Knight takes a pawn defended by a rook, with a rook of its own behind:
  // N x P, R x N, R x R wins a pawn and a rook for a knight.
  EXPECT_EQ(see("3rk3/8/8/3p4/8/2N5/8/3RK3 w - - 0 1", White, sq("c3"), sq("d5")), 0);
  // The same without the white rook: the knight is lost for a pawn.
  EXPECT_EQ(see("3rk3/8/8/3p4/8/2N5/8/4K3 w - - 0 1", White, sq("c3"), sq("d5")), -1);
}

TEST(StaticExchange, XRaysJoinBehindCapturers) {
  // Re2 takes e5 (defended by Re7) with Re1 behind it: even exchange of
  // rooks wins the pawn.
  EXPECT_EQ(see("6k1/4r3/8/4p3/8/8/4R3/4R1K1 w - - 0 1", White, sq("e2"), sq("e5")), 0);
  // A second black rook behind e7 tips the balance.
  EXPECT_EQ(see("4r1k1/4r3/8/4p3/8/8/4R3/4R1K1 w - - 0 1", White, sq("e2"), sq("e5")), -1);
  // Bxe4 Nxe4 loses the bishop for a pawn, unless the queen behind the
  // bishop on the diagonal recaptures.
  EXPECT_EQ(see("6k1/8/3n4/8/4p3/8/6B1/K6Q w - - 0 1", White, sq("g2"), sq("e4")), 0);
  EXPECT_EQ(see("6k1/8/3n4/8/4p3/8/6B1/K7 w - - 0 1", White, sq("g2"), sq("e4")), -1);
}

TEST(StaticExchange, KingsAndExcludedKinds) {
  // The king may not take a defended pawn.
  EXPECT_EQ(see("4k3/8/8/8/8/2p5/3p4/3K4 w - - 0 1", White, sq("d1"), sq("d2")), -1);
  EXPECT_EQ(see("4k3/8/8/8/8/8/3p4/3K4 w - - 0 1", White, sq("d1"), sq("d2")), 0);
  // A queen moving next to a king defended square: lost unless supported.
  EXPECT_EQ(see("6k1/8/8/8/8/8/8/4K1Q1 b - - 0 1", White, sq("g1"), sq("g7")), -1);
  EXPECT_EQ(see("6k1/8/8/8/8/8/8/B3K1Q1 b - - 0 1", White, sq("g1"), sq("g7")), 0);
  // Kinds 2, 3, 6, 7 are never losing, even where the plain move would be.
  for (int kind : {KindEnPassant, KindCastle, KindPromoRook, KindPromoBishop})
    EXPECT_EQ(see("4k3/8/4p3/3p4/8/8/8/3QK3 w - - 0 1", White, sq("d1"), sq("d5"), kind), 0) << kind;
  // Black's view works the same way.
  EXPECT_EQ(see("3qk3/8/8/8/3P4/4P3/8/4K3 b - - 0 1", Black, sq("d8"), sq("d4")), -1);
}

TEST(StaticExchange, ColourSymmetricOnAllCaptures) {
  for (const std::string& fen : variedFens(20)) {
    Position pos = fromFen(fen), mir = fromFen(mirrorFen(fen));
    int list[MaxMoves];
    int n = generateAll(pos, list);
    int side = pos.sideToMove();
    for (int i = 0; i < n; i++) {
      Move m = entryMove(list[i]);
      Move mm = makeMove16(mirrorSquare(moveFrom(m)), mirrorSquare(moveTo(m)), moveKind(m));
      EXPECT_EQ(seeLoses(pos, side, m), seeLoses(mir, other(side), mm)) << fen << " move " << m;
    }
  }
}
