#include <cstring>
#include <random>

#include "board_test_util.h"

namespace {

void expectScratchValues(const Position& pos, const std::string& where) {
  ASSERT_EQ(pos.key, computeKey(pos)) << where;
  ASSERT_EQ(pos.pawnKey, computePawnKey(pos)) << where;
  ASSERT_EQ(pos.materialKey, computeMaterialKey(pos)) << where;
  ASSERT_EQ(pos.tbKey, computeTbKey(pos)) << where;
  ASSERT_EQ(pos.psq, computePsq(pos)) << where;
  ASSERT_EQ(pos.phase, computePhase(pos)) << where;
  ASSERT_EQ((int)pos.pieceCount, popcount(pos.occupied)) << where;
  Bitboard all[2] = {0, 0};
  for (int c = 0; c < 2; c++)
    for (int t = Pawn; t <= King; t++) {
      all[c] |= pos.pieces[c][t];
      for (Bitboard b = pos.pieces[c][t]; b; b &= b - 1) ASSERT_EQ(pos.board[lsb(b)], pieceCode(c, t)) << where;
    }
  ASSERT_EQ(all[0], pos.pieces[0][0]) << where;
  ASSERT_EQ(all[1], pos.pieces[1][0]) << where;
  ASSERT_EQ(pos.occupied, all[0] | all[1]) << where;
  for (Square s = 0; s < 64; s++) ASSERT_EQ(pos.board[s] != 0, (pos.occupied >> s) & 1) << where;
}

// Fills the piece-square table with random pairs for the test's lifetime.
struct RandomPieceSquare {
  ScorePair saved[16][64];
  RandomPieceSquare() {
    std::memcpy(saved, pieceSquare, sizeof saved);
    std::mt19937 rng(5);
    for (auto& row : pieceSquare)
      for (auto& v : row) v = makePair((int)(rng() % 2001) - 1000, (int)(rng() % 2001) - 1000);
  }
  ~RandomPieceSquare() { std::memcpy(pieceSquare, saved, sizeof saved); }
};

// Plays random legal moves (and now and then a null move) from fen, checking
// every incremental value against its from-scratch computation.
void randomWalk(const std::string& fen, std::mt19937& rng, int plies) {
  Position line[2];
  line[0] = fenPosition(fen);
  expectScratchValues(line[0], fen);
  for (int ply = 0; ply < plies; ply++) {
    const Position& cur = line[ply & 1];
    Position& next = line[(ply + 1) & 1];
    std::vector<Move> moves = legalMoves(cur);
    Move m;
    if (!cur.inCheck && rng() % 10 == 0)
      m = 0;
    else if (moves.empty())
      return;
    else
      m = moves[rng() % moves.size()];
    ASSERT_TRUE(makeMove(cur, next, m));
    next.inCheck = kingAttacked(next, next.sideToMove());
    next.previous = nullptr;
    ASSERT_EQ(next.inCheck, inCheckOf(next, next.sideToMove()) ? 1 : 0);
    expectScratchValues(next, fen + " after " + moveToText(m));
    // A FEN set-up of the same position gives the same key (the FEN carries the
    // en-passant square only when a capture is possible, as make-move does).
    if (ply % 8 == 0 && m != 0 && !settings::chess960) {
      Position again = fenPosition(positionToFen(next));
      ASSERT_EQ(again.key, next.key) << positionToFen(next);
    }
  }
}

}  // namespace

TEST(MakeMove, IncrementalValuesMatchScratchAlongRandomGames) {
  RandomPieceSquare table;
  std::mt19937 rng(2024);
  for (const PerftLine& line : readPerftFile("perft.epd"))
    for (int game = 0; game < 3; game++) randomWalk(line.fen, rng, 40);
  Chess960Guard chess960(1);
  for (const PerftLine& line : readPerftFile("perft960.epd"))
    for (int game = 0; game < 3; game++) randomWalk(line.fen, rng, 40);
}

TEST(MakeMove, DoublePushAndEnPassant) {
  Position start = fenPosition(StartFen);
  Position e4;
  ASSERT_TRUE(makeMove(start, e4, makeMove16(sq("e2"), sq("e4"), KindDouble)));
  EXPECT_EQ(e4.enPassant, 0u);
  EXPECT_EQ(e4.key, fenPosition("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1").key);
  EXPECT_EQ(e4.previous, &start);
  EXPECT_EQ(e4.staticEval, 999999);
  EXPECT_EQ(e4.movedType, Pawn);

  Position pos = fenPosition("4k3/8/8/8/3p4/8/4P3/4K3 w - -");
  Position pushed;
  ASSERT_TRUE(makeMove(pos, pushed, makeMove16(sq("e2"), sq("e4"), KindDouble)));
  EXPECT_EQ(pushed.enPassant, squareBB[sq("e3")]);
  EXPECT_EQ(pushed.key, computeKey(pushed));
  Position nulled;
  ASSERT_TRUE(makeMove(pushed, nulled, 0));
  EXPECT_EQ(nulled.enPassant, 0u);
  EXPECT_EQ(nulled.key, computeKey(nulled));

  Position taken;
  pushed.rule50 = 7;
  ASSERT_TRUE(makeMove(pushed, taken, makeMove16(sq("d4"), sq("e3"), KindEnPassant)));
  EXPECT_EQ(taken.capturedType, 0);
  EXPECT_EQ(taken.phase, pushed.phase);
  EXPECT_EQ(taken.pieceCount, pushed.pieceCount - 1);
  EXPECT_EQ(taken.rule50, 0);
  EXPECT_EQ(taken.board[sq("e4")], 0);
  EXPECT_EQ(taken.board[sq("e3")], pieceCode(Black, Pawn));
  EXPECT_EQ(taken.key, computeKey(taken));
  EXPECT_EQ(taken.pawnKey, computePawnKey(taken));
}

TEST(MakeMove, PromotionWithCapture) {
  Position pos = fenPosition("6r1/7P/8/8/8/8/8/k3K3 w - -");
  for (int kind = KindPromoQueen; kind <= KindPromoBishop; kind++) {
    Position child;
    ASSERT_TRUE(makeMove(pos, child, makeMove16(sq("h7"), sq("g8"), kind)));
    int p = promotionType(makeMove16(0, 0, kind));
    EXPECT_EQ(child.board[sq("g8")], pieceCode(White, p));
    EXPECT_EQ(child.phase, pos.phase - 8 + phaseValue[p]);
    EXPECT_EQ(child.pieceCount, pos.pieceCount - 1);
    EXPECT_EQ(child.capturedType, Rook);
    EXPECT_EQ(child.movedType, Pawn);
    EXPECT_EQ(child.materialKey, computeMaterialKey(child));
    EXPECT_EQ(child.tbKey, computeTbKey(child));
    EXPECT_NE(child.tbKey, pos.tbKey);
    EXPECT_EQ(child.key, computeKey(child));
    EXPECT_EQ(child.pawnKey, computePawnKey(child));
    EXPECT_EQ(child.pieces[White][Pawn], 0u);
  }
}

TEST(MakeMove, CastlingRightsAndCastling) {
  Position pos = fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  EXPECT_EQ(play(pos, "h1h2").castleLost, 1);
  EXPECT_EQ(play(pos, "a1b1").castleLost, 2);
  EXPECT_EQ(play(pos, "e1d1").castleLost, 3);
  EXPECT_EQ(play(pos, "a1a8").castleLost, 2 | 8);  // capturing a castling rook
  Position castled = play(pos, "e1g1");
  EXPECT_EQ(castled.board[sq("g1")], pieceCode(White, King));
  EXPECT_EQ(castled.board[sq("f1")], pieceCode(White, Rook));
  EXPECT_EQ(castled.board[sq("e1")], 0);
  EXPECT_EQ(castled.board[sq("h1")], 0);
  EXPECT_EQ(castled.castleLost, 3);
  EXPECT_EQ(castled.movedType, King);
  EXPECT_EQ(castled.key, computeKey(castled));
}

TEST(MakeMove, Chess960CastlingOverlaps) {
  // King f1, rook g1: the king lands on the rook's square.
  for (int mode = 0; mode < 2; mode++) {
    Chess960Guard chess960(mode);
    Position pos = fenPosition("4k3/8/8/8/8/8/8/5KR1 w G -");
    Position child;
    ASSERT_TRUE(makeMove(pos, child, makeMove16(sq("f1"), sq("g1"), KindCastle)));
    EXPECT_EQ(child.board[sq("g1")], pieceCode(White, King));
    EXPECT_EQ(child.board[sq("f1")], pieceCode(White, Rook));
    EXPECT_EQ(child.pieceCount, 3u);
    EXPECT_EQ(popcount(child.pieces[White][0]), 2);
    EXPECT_EQ(child.key, computeKey(child));
    EXPECT_EQ(child.pawnKey, computePawnKey(child));
  }
  Chess960Guard chess960(1);
  // King already on g1 (it does not move), rook on h1 goes to f1.
  Position still = fenPosition("4k3/8/8/8/8/8/8/6KR w H -");
  Position child = play(still, "g1h1");
  EXPECT_EQ(child.board[sq("g1")], pieceCode(White, King));
  EXPECT_EQ(child.board[sq("f1")], pieceCode(White, Rook));
  EXPECT_EQ(child.board[sq("h1")], 0);
  EXPECT_EQ(child.key, computeKey(child));
  // A rook that shields the king's destination: castling would leave the
  // king attacked by the rook on a1 once the b1 rook has moved to d1.
  Position shield = fenPosition("4k3/8/8/8/8/8/8/rRK5 w B -");
  Position out;
  EXPECT_FALSE(makeMove(shield, out, makeMove16(sq("c1"), sq("b1"), KindCastle)));
}

TEST(MakeMove, NullMove) {
  Position pos = fenPosition("4k3/8/8/8/4p3/8/3P4/4K2R w K - 0 1");
  pos.rule50 = 3;
  pos.inCheck = 1;
  Position child;
  ASSERT_TRUE(makeMove(pos, child, 0));
  EXPECT_EQ(child.sideToMove(), Black);
  EXPECT_EQ(child.inCheck, 0);
  EXPECT_EQ(child.rule50, 4);
  EXPECT_EQ(child.ply, pos.ply + 1);
  EXPECT_EQ(child.lastMove, 0u);
  EXPECT_EQ(std::memcmp(child.pieces, pos.pieces, sizeof pos.pieces), 0);
  EXPECT_EQ(child.key, pos.key ^ zobrist[0][0] ^ zobrist[0][1]);
}

TEST(MakeMove, CountsNodesUnlessStopped) {
  Position pos = fenPosition(StartFen);
  pos.threadIndex = 5;
  Position child;
  uint64_t before = threadSignals[5].nodes.load();
  makeMove(pos, child, makeMove16(sq("g1"), sq("f3")));
  EXPECT_EQ(threadSignals[5].nodes.load(), before + 1);
  threadSignals[5].stop = 1;
  makeMove(pos, child, makeMove16(sq("g1"), sq("f3")));
  EXPECT_EQ(threadSignals[5].nodes.load(), before + 1);
  threadSignals[5].stop = 0;
  threadSignals[5].nodes = 0;
}

TEST(MakeMove, IllegalMoveIsReported) {
  Position pos = fenPosition("4k3/8/8/8/8/8/4r3/R3K3 w Q -");
  Position child;
  EXPECT_FALSE(makeMove(pos, child, makeMove16(sq("a1"), sq("a2"))));
  EXPECT_TRUE(makeMove(pos, child, makeMove16(sq("e1"), sq("e2"))));
  EXPECT_EQ(child.capturedType, Rook);
}

// Perft's make-move differs from the search's only in the prefetch hints:
// over every pseudo-legal move (all kinds occur in the perft files) two plies
// deep, both give the same legality answer and byte-identical children.
TEST(MakeMove, PerftEntryMatchesSearchEntry) {
  initBoardTables();
  for (const std::string& file : {std::string("perft.epd"), std::string("perft960.epd")}) {
    Chess960Guard guard(file == "perft960.epd" ? 1 : 0);
    for (const PerftLine& line : readPerftFile(file)) {
      const Position root = fenPosition(line.fen);
      int list[MaxMoves], inner[MaxMoves];
      const int n = generateAll(root, list);
      for (int i = 0; i < n; i++) {
        Position a{}, b{};
        const bool legalA = makeMove(root, a, entryMove(list[i]));
        ASSERT_EQ(legalA, makeMoveNoPrefetch(root, b, entryMove(list[i]))) << line.fen;
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << line.fen;
        if (!legalA) continue;
        a.inCheck = kingAttacked(a, a.sideToMove());
        const int m = a.inCheck ? generateEvasions(a, inner) : generateAll(a, inner);
        for (int j = 0; j < m; j++) {
          Position x{}, y{};
          ASSERT_EQ(makeMove(a, x, entryMove(inner[j])), makeMoveNoPrefetch(a, y, entryMove(inner[j]))) << line.fen;
          ASSERT_EQ(std::memcmp(&x, &y, sizeof x), 0) << line.fen;
        }
      }
    }
  }
}
