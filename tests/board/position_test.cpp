#include <cstring>

#include "board_test_util.h"

namespace {

bool samePosition(const Position& a, const Position& b) { return std::memcmp(&a, &b, sizeof(Position)) == 0; }
bool sameCastling(const CastlingData& a, const CastlingData& b) { return std::memcmp(&a, &b, sizeof(CastlingData)) == 0; }

void expectKeysFromScratch(const Position& pos) {
  EXPECT_EQ(pos.key, computeKey(pos));
  EXPECT_EQ(pos.pawnKey, computePawnKey(pos));
  EXPECT_EQ(pos.materialKey, computeMaterialKey(pos));
  EXPECT_EQ(pos.tbKey, computeTbKey(pos));
  EXPECT_EQ((int)pos.pieceCount, popcount(pos.occupied));
}

}  // namespace

TEST(Fen, StartPositionAndEmptyTextAgree) {
  Position a = fenPosition(StartFen);
  Position b = fenPosition("");
  EXPECT_TRUE(samePosition(a, b));
  EXPECT_EQ(a.castleLost, 0);
  EXPECT_EQ(a.pieceCount, 32u);
  EXPECT_EQ(a.inCheck, 0);
  EXPECT_EQ(a.ply, 0);
  EXPECT_EQ(a.phase, 96);
  EXPECT_EQ(a.previous, nullptr);
  EXPECT_EQ(a.board[sq("e1")], pieceCode(White, King));
  EXPECT_EQ(a.board[sq("d8")], pieceCode(Black, Queen));
  EXPECT_EQ(a.board[sq("e4")], 0);
  expectKeysFromScratch(a);
  EXPECT_EQ(castling.castleRook[0], sq("h1"));
  EXPECT_EQ(castling.castleRook[3], sq("a8"));
  EXPECT_EQ(castling.castleSquareMask[sq("e1")], 3);
  EXPECT_EQ(castling.castleSquareMask[sq("a8")], 8);
  EXPECT_EQ(castling.castlePath[0], squareBB[sq("e1")] | squareBB[sq("f1")] | squareBB[sq("g1")]);
  EXPECT_EQ(positionToFen(a), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
}

TEST(Fen, RefusedInputLeavesPositionAndCastlingUntouched) {
  const char* bad[] = {
      "8/8/8/8/8/8/8/8 x - -",                                    // side to move
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",               // no side field
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR white KQkq -",  // side field text
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/8 w - -",       // nine ranks
      "rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - -",        // nine squares
      "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w - -",         // digit past the rank
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNX w - -",         // bad letter
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQ1BNR w - -",         // no white king
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBKKBNR w - -",         // two white kings
      "4k3/8/8/8/8/8/8/4K2P w - -",                               // pawn on first rank
      "3pk3/8/8/8/8/8/8/4K3 w - -",                               // pawn on last rank
      "4k3/8/8/8/8/8/PPPPPPPP/P3K3 w - -",                        // pawn on first rank, nine pawns
      "4k3/8/8/8/8/P7/PPPPPPPP/4K3 w - -",                        // nine pawns
      "4k3/8/8/QQQQQQQQ/QQQQQQQQ/8/8/4K3 w - -",                  // seventeen pieces
      "4k3/8/8/8/8/8/8/4K2r b - -",                               // side not to move in check
      "4k3/4R3/8/8/8/8/8/4K3 w - -",                              // side not to move in check
      "4k3/8/8/8/8/8/8/4K3 w - - 0 1 extra",                      // seven fields
  };
  Position pos = fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  Position saved = pos;
  CastlingData savedCastling = castling;
  for (const char* fen : bad) {
    std::string error;
    EXPECT_FALSE(setPosition(pos, fen, &error)) << fen;
    EXPECT_FALSE(error.empty()) << fen;
    EXPECT_TRUE(samePosition(pos, saved)) << fen;
    EXPECT_TRUE(sameCastling(castling, savedCastling)) << fen;
  }
  EXPECT_FALSE(setPosition(pos, "8/8/8/8/8/8/8/8 x - -"));  // a null error pointer is fine
}

TEST(Fen, ShortFieldsAndShortLastRank) {
  Position pos = fenPosition("4k3/8/8/8/8/8/8/4K w");
  EXPECT_EQ(pos.castleLost, 15);
  EXPECT_EQ(pos.enPassant, 0u);
  EXPECT_EQ(pos.board[sq("e1")], pieceCode(White, King));
  for (const char* s : {"f1", "g1", "h1"}) EXPECT_EQ(pos.board[sq(s)], 0);
  EXPECT_EQ(pos.pieceCount, 2u);
  pos = fenPosition("4k3/8/8/8/8/8/8/4K3 b KQkq");
  EXPECT_EQ(pos.ply, 1);
  EXPECT_EQ(pos.castleLost, 15);  // no rooks: every right dropped
}

TEST(Fen, CastlingFields) {
  EXPECT_EQ(fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w - -").castleLost, 15);
  EXPECT_EQ(fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w Kq -").castleLost, 6);
  // Rights whose rook or king is missing are dropped.
  EXPECT_EQ(fenPosition("r3k3/8/8/8/8/8/8/R3K3 w KQkq -").castleLost, 1 | 4);
  EXPECT_EQ(fenPosition("r3k2r/8/8/8/8/8/4K3/R6R w KQkq -").castleLost, 3);  // king off its back rank
  EXPECT_EQ(fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w Hh -").castleLost, 2 | 8);
}

TEST(Fen, Chess960StartCastlingData) {
  Position a = fenPosition("bqnbrkrn/pppppppp/8/8/8/8/PPPPPPPP/BQNBRKRN w KQkq -");
  CastlingData x = castling;
  EXPECT_EQ(a.castleLost, 0);
  EXPECT_EQ(x.kingSquare[White], sq("f1"));
  EXPECT_EQ(x.castleRook[0], sq("g1"));
  EXPECT_EQ(x.castleRook[1], sq("e1"));
  EXPECT_EQ(x.castleRook[2], sq("g8"));
  EXPECT_EQ(x.castleRook[3], sq("e8"));
  EXPECT_EQ(x.castleEmpty[0], squareBB[sq("f1")] | squareBB[sq("g1")]);
  EXPECT_EQ(x.castleEmpty[0] & x.castleKeep[0], 0u);
  Bitboard c1f1 = 0;
  for (const char* s : {"c1", "d1", "e1", "f1"}) c1f1 |= squareBB[sq(s)];
  EXPECT_EQ(x.castleEmpty[1], c1f1);
  EXPECT_EQ(x.castleEmpty[1] & x.castleKeep[1], squareBB[sq("c1")] | squareBB[sq("d1")]);
  EXPECT_EQ(x.castlePath[1], c1f1);
  Position b = fenPosition("bqnbrkrn/pppppppp/8/8/8/8/PPPPPPPP/BQNBRKRN w GEge -");
  EXPECT_TRUE(samePosition(a, b));
  EXPECT_EQ(std::memcmp(&x, &castling, sizeof x), 0);
}

TEST(Fen, InnerRookRightFollowsThatRook) {
  Chess960Guard chess960(1);
  Position pos = fenPosition("r1rk4/pppppppp/8/8/8/8/PPPPPPPP/R1RK4 w Cc - 0 1");
  EXPECT_EQ(pos.castleLost, 1 | 4);
  EXPECT_EQ(castling.castleRook[1], sq("c1"));
  EXPECT_EQ(castling.castleRook[3], sq("c8"));
  EXPECT_EQ(positionToFen(pos), "r1rk4/pppppppp/8/8/8/8/PPPPPPPP/R1RK4 w Cc - 0 1");
  // Moving the outer rook keeps the right, moving the castling rook loses it.
  EXPECT_EQ(play(pos, "a1b1").castleLost & 2, 0);
  EXPECT_EQ(play(pos, "c1b1").castleLost & 2, 2);
  // Castling swaps king and rook: king d1 -> c1, rook c1 -> d1.
  Position castled = play(pos, "d1c1");
  EXPECT_EQ(castled.board[sq("c1")], pieceCode(White, King));
  EXPECT_EQ(castled.board[sq("d1")], pieceCode(White, Rook));
  EXPECT_EQ(castled.castleLost & 3, 3);
  EXPECT_EQ(castled.key, computeKey(castled));
}

TEST(Fen, EnPassantField) {
  Position pos = fenPosition("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
  EXPECT_EQ(pos.enPassant, 0u);
  EXPECT_EQ(pos.key, computeKey(pos));
  EXPECT_EQ(pos.lastMove, (unsigned)(sq("e2") * 64 + sq("e4")));
  pos = fenPosition("rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3");
  EXPECT_EQ(pos.enPassant, squareBB[sq("f6")]);
  EXPECT_EQ(pos.key, computeKey(pos));
  EXPECT_EQ(pos.lastMove, (unsigned)(sq("f7") * 64 + sq("f5")));
  // Impossible squares are ignored: wrong rank for the side to move, no
  // pushed pawn, squares behind occupied.
  for (const char* fen : {"rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f3 0 3",
                          "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq c6 0 3",
                          "rnbqkb1r/ppp1pnpp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f6 0 3",
                          "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq z9 0 3"}) {
    pos = fenPosition(fen);
    EXPECT_EQ(pos.enPassant, 0u) << fen;
    EXPECT_EQ(pos.lastMove, 0u) << fen;
    EXPECT_EQ(pos.key, computeKey(pos)) << fen;
  }
}

TEST(Fen, KeysSeparateStateAndMaterial) {
  Position a = fenPosition("r3k2r/8/8/3pP3/8/8/8/R3K2R w KQkq d6");
  Position b = fenPosition("r3k2r/8/8/3pP3/8/8/8/R3K2R w KQkq -");
  Position c = fenPosition("r3k2r/8/8/3pP3/8/8/8/R3K2R w KQk d6");
  EXPECT_NE(a.key, b.key);
  EXPECT_NE(a.key, c.key);
  EXPECT_NE(b.key, c.key);
  EXPECT_EQ(a.materialKey, b.materialKey);
  Position d = fenPosition("r3k2r/8/8/8/3pP3/8/8/R3K2R w - -");
  EXPECT_EQ(d.materialKey, a.materialKey);
  EXPECT_EQ(d.tbKey, a.tbKey);
  Position light = fenPosition("4k3/8/8/8/8/8/8/3BK3 w - -");  // d1 is light
  Position dark = fenPosition("4k3/8/8/8/8/8/8/2B1K3 w - -");  // c1 is dark
  EXPECT_NE(light.materialKey, dark.materialKey);
  EXPECT_EQ(light.tbKey, dark.tbKey);
  EXPECT_EQ(fenPosition("4k3/8/8/8/8/8/8/4K3 w - -").key ^ fenPosition("4k3/8/8/8/8/8/8/4K3 b - -").key,
            zobrist[0][0] ^ zobrist[0][1]);
}

TEST(Fen, RoundTripThroughPositionToFen) {
  for (const PerftLine& line : readPerftFile("perft.epd")) {
    Position a = fenPosition(line.fen);
    std::string text = positionToFen(a);
    Position b = fenPosition(text);
    EXPECT_EQ(a.key, b.key) << line.fen << " -> " << text;
    EXPECT_EQ(a.castleLost, b.castleLost) << line.fen;
    EXPECT_EQ(std::memcmp(a.board, b.board, 64), 0) << line.fen;
  }
}
