#include <algorithm>
#include <random>
#include <set>

#include "board_test_util.h"

namespace {

std::vector<int> generated(int (*gen)(const Position&, int*), const Position& pos) {
  int list[MaxMoves];
  int n = gen(pos, list);
  return std::vector<int>(list, list + n);
}

std::set<Move> moveSet(const std::vector<int>& entries) {
  std::set<Move> s;
  for (int e : entries) s.insert(entryMove(e));
  return s;
}

std::set<Move> legalSubset(const Position& pos, const std::set<Move>& moves) {
  std::set<Move> s;
  Position child;
  for (Move m : moves)
    if (makeMove(pos, child, m)) s.insert(m);
  return s;
}

int scoreOf(const std::vector<int>& entries, Move m) {
  for (int e : entries)
    if (entryMove(e) == m) return entryScore(e);
  return -99999;
}

// A spread of positions: the perft files' FENs and positions reached by
// random legal moves from them.
std::vector<Position> samplePositions(bool chess960, int walksPerFen, int plies) {
  std::vector<Position> out;
  std::mt19937 rng(99);
  for (const PerftLine& line : readPerftFile(chess960 ? "perft960.epd" : "perft.epd")) {
    Position root = fenPosition(line.fen);
    out.push_back(root);
    for (int w = 0; w < walksPerFen; w++) {
      Position cur = root;
      for (int p = 0; p < plies; p++) {
        std::vector<Move> moves = legalMoves(cur);
        if (moves.empty()) break;
        cur = play(cur, moveToText(moves[rng() % moves.size()]));
        out.push_back(cur);
      }
    }
  }
  return out;
}

}  // namespace

TEST(MoveGen, InitialPositionOrder) {
  HistoryTable history{};
  Position pos = fenPosition(StartFen);
  pos.historyTable = &history;
  history.v[White][Pawn][sq("e3")] = 0x12345;  // only the low 16 bits count
  std::vector<int> all = generated(generateAll, pos);
  ASSERT_EQ(all.size(), 20u);
  for (int i = 0; i < 8; i++) {
    EXPECT_EQ(moveFrom(entryMove(all[i])), sq("a2") + i);
    EXPECT_EQ(moveKind(entryMove(all[i])), KindNormal);
  }
  EXPECT_EQ(entryScore(all[4]), 0x2345);
  EXPECT_EQ(moveToText(entryMove(all[8])), "b1a3");
  EXPECT_EQ(moveToText(entryMove(all[11])), "g1h3");
  for (int i = 12; i < 20; i++) EXPECT_EQ(moveKind(entryMove(all[i])), KindDouble);
  EXPECT_EQ(moveToText(entryMove(all[12])), "a2a4");
  EXPECT_TRUE(generated(generateCaptures, pos).empty());
}

TEST(MoveGen, CaptureScoresAndPromotions) {
  // Pawn on b7 that can push to b8 and capture on a8 and c8.
  Position pos = fenPosition("r1n1k3/1P6/8/8/8/8/8/4K3 w - -");
  std::vector<int> caps = generated(generateCaptures, pos);
  ASSERT_EQ(caps.size(), 12u);
  // a-file side first, then h-file side, then the push; Q N R B each.
  const char* kinds = "qnrb";
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(moveToText(entryMove(caps[i])), std::string("b7a8") + kinds[i]);
    EXPECT_EQ(entryScore(caps[i]), 64 * Rook - 2);
    EXPECT_EQ(moveToText(entryMove(caps[4 + i])), std::string("b7c8") + kinds[i]);
    EXPECT_EQ(entryScore(caps[4 + i]), 64 * Knight - 2);
    EXPECT_EQ(moveToText(entryMove(caps[8 + i])), std::string("b7b8") + kinds[i]);
  }
  EXPECT_EQ(entryScore(caps[8]), 67);
  EXPECT_EQ(entryScore(caps[9]), 66);
  EXPECT_EQ(entryScore(caps[10]), 65);
  EXPECT_EQ(entryScore(caps[11]), 65);

  Position mixed = fenPosition("4k3/8/3q4/2P1n3/8/4r3/3B2N1/R3K3 w - -");
  std::vector<int> c2 = generated(generateCaptures, mixed);
  EXPECT_EQ(scoreOf(c2, makeMove16(sq("c5"), sq("d6"))), 32 * Queen - 2);
  EXPECT_EQ(scoreOf(c2, makeMove16(sq("g2"), sq("e3"))), 32 * Rook - 4);
  EXPECT_EQ(scoreOf(c2, makeMove16(sq("d2"), sq("e3"))), 32 * Rook - 6);
  EXPECT_EQ(c2.size(), 3u);
}

TEST(MoveGen, EnPassantInEveryGenerator) {
  // Black's d7-d5 gives check to the king on e4 and can be taken en passant.
  Position pos = fenPosition("4k3/3p4/8/4P3/4K3/8/8/8 b - -");
  pos = play(pos, "d7d5");
  ASSERT_EQ(pos.inCheck, 1);
  ASSERT_EQ(pos.enPassant, squareBB[sq("d6")]);
  Move ep = makeMove16(sq("e5"), sq("d6"), KindEnPassant);
  EXPECT_EQ(scoreOf(generated(generateCaptures, pos), ep), 31);
  EXPECT_TRUE(moveSet(generated(generateAll, pos)).count(ep));
  EXPECT_TRUE(moveSet(generated(generateEvasions, pos)).count(ep));
  EXPECT_TRUE(isPseudoLegal(pos, ep));
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("e5"), sq("d6"))));
}

TEST(MoveGen, EvasionsFromKnightAndSlider) {
  Position knight = fenPosition("4k3/8/8/8/8/3n4/8/RB2K3 w Q -");
  ASSERT_EQ(knight.inCheck, 1);
  std::set<Move> ev = moveSet(generated(generateEvasions, knight));
  std::set<Move> expected = {makeMove16(sq("b1"), sq("d3")), makeMove16(sq("e1"), sq("d1")),
                             makeMove16(sq("e1"), sq("f1")), makeMove16(sq("e1"), sq("d2")),
                             makeMove16(sq("e1"), sq("e2")), makeMove16(sq("e1"), sq("f2"))};
  EXPECT_EQ(ev, expected);
  int castles[4];
  EXPECT_EQ(generateCastling(knight, White, castles), 0);

  // Rook check along the eighth rank; the b7 pawn blocks only as a queen.
  Position slider = fenPosition("r5K1/1P6/8/8/8/8/8/4k3 w - -");
  ASSERT_EQ(slider.inCheck, 1);
  std::vector<int> list = generated(generateEvasions, slider);
  int pushes = 0;
  for (int e : list)
    if (moveFrom(entryMove(e)) == sq("b7") && moveTo(entryMove(e)) == sq("b8")) {
      pushes++;
      EXPECT_EQ(moveKind(entryMove(e)), KindPromoQueen);
    }
  EXPECT_EQ(pushes, 1);
  EXPECT_TRUE(moveSet(list).count(makeMove16(sq("b7"), sq("a8"), KindPromoKnight)));
}

TEST(MoveGen, CastlingConditions) {
  Position pos = fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
  int list[4];
  EXPECT_EQ(generateCastling(pos, White, list), 2);
  EXPECT_EQ(entryMove(list[0]), makeMove16(sq("e1"), sq("h1"), KindCastle));
  EXPECT_EQ(entryMove(list[1]), makeMove16(sq("e1"), sq("a1"), KindCastle));
  EXPECT_EQ(generateCastling(pos, Black, list), 2);
  Position checked = fenPosition("r3k2r/8/8/8/8/8/4r3/R3K2R w KQkq -");
  EXPECT_EQ(generateCastling(checked, White, list), 0);
  Position path = fenPosition("r3k2r/8/8/8/8/8/5r2/R3K2R w KQkq -");  // f1 attacked
  EXPECT_EQ(generateCastling(path, White, list), 1);
  EXPECT_EQ(moveTo(entryMove(list[0])), sq("a1"));
  Position b1 = fenPosition("r3k2r/8/8/8/8/8/1r6/R3K2R w KQkq -");  // b1 attacked: queen-side still fine
  EXPECT_EQ(generateCastling(b1, White, list), 2);
  Position blocked = fenPosition("r3k2r/8/8/8/8/8/8/RN2K2R w KQkq -");
  EXPECT_EQ(generateCastling(blocked, White, list), 1);
  {
    Chess960Guard chess960(0);
    EXPECT_EQ(moveToText(makeMove16(sq("e1"), sq("h1"), KindCastle)), "e1g1");
    EXPECT_EQ(moveToText(makeMove16(sq("e8"), sq("a8"), KindCastle)), "e8c8");
  }
  Chess960Guard chess960(1);
  EXPECT_EQ(moveToText(makeMove16(sq("e1"), sq("h1"), KindCastle)), "e1h1");
}

TEST(MoveGen, PseudoLegalKinds) {
  Position pos = fenPosition(StartFen);
  EXPECT_FALSE(isPseudoLegal(pos, 0));
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("e2"), sq("e4"))));
  EXPECT_TRUE(isPseudoLegal(pos, makeMove16(sq("e2"), sq("e4"), KindDouble)));
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("e2"), sq("e3"), KindDouble)));
  EXPECT_TRUE(isPseudoLegal(pos, makeMove16(sq("e2"), sq("e3"))));
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("e2"), sq("e3"), KindPromoQueen)));
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("g1"), sq("f3"), KindDouble)));
  EXPECT_TRUE(isPseudoLegal(pos, makeMove16(sq("g1"), sq("f3"))));
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("f1"), sq("c4"))));  // blocked
  EXPECT_FALSE(isPseudoLegal(pos, makeMove16(sq("e7"), sq("e5"), KindDouble)));  // not our pawn
  Position promo = fenPosition("4k3/1P6/8/8/8/8/8/4K2N w - -");
  EXPECT_TRUE(isPseudoLegal(promo, makeMove16(sq("b7"), sq("b8"), KindPromoRook)));
  EXPECT_FALSE(isPseudoLegal(promo, makeMove16(sq("b7"), sq("b8"))));
  EXPECT_FALSE(isPseudoLegal(promo, makeMove16(sq("h1"), sq("g3"), KindPromoQueen)));
  Position blocked = fenPosition("4k3/8/8/8/8/4n3/4P3/4K3 w - -");
  EXPECT_FALSE(isPseudoLegal(blocked, makeMove16(sq("e2"), sq("e4"), KindDouble)));
  EXPECT_FALSE(isPseudoLegal(blocked, makeMove16(sq("e2"), sq("e3"))));
}

// For every move word: pseudo-legal and legal by make-move exactly when it
// is a legal move of the complete generator; every generated move passes the
// pseudo-legality test; captures are a subset of all moves; evasions give
// the same legal set as the complete generator when in check.
void checkGeneratorInvariants(const Position& pos, bool allWords) {
  std::vector<int> all = generated(generateAll, pos);
  std::set<Move> allSet = moveSet(all);
  ASSERT_EQ(allSet.size(), all.size()) << positionToFen(pos);
  for (Move m : allSet) ASSERT_TRUE(isPseudoLegal(pos, m)) << positionToFen(pos) << " " << moveToText(m);
  std::set<Move> caps = moveSet(generated(generateCaptures, pos));
  for (Move m : caps) ASSERT_TRUE(allSet.count(m)) << positionToFen(pos) << " " << moveToText(m);
  for (Move m : allSet) {
    bool isCapture = pos.board[moveTo(m)] && moveKind(m) != KindCastle;
    if (isCapture || moveKind(m) == KindEnPassant || isPromotion(m)) {
      ASSERT_TRUE(caps.count(m)) << positionToFen(pos) << " " << moveToText(m);
    }
  }
  std::set<Move> legal = legalSubset(pos, allSet);
  if (pos.inCheck) {
    std::set<Move> ev = moveSet(generated(generateEvasions, pos));
    for (Move m : ev) ASSERT_TRUE(isPseudoLegal(pos, m)) << positionToFen(pos) << " " << moveToText(m);
    // Blocking pushes onto the last rank are offered only as queen promotions.
    std::set<Move> expected;
    for (Move m : legal)
      if (!isPromotion(m) || moveKind(m) == KindPromoQueen || pos.board[moveTo(m)]) expected.insert(m);
    ASSERT_EQ(legalSubset(pos, ev), expected) << positionToFen(pos);
  }
  if (!allWords) return;
  Position child;
  for (int m = 0; m < 65536; m++) {
    bool accepted = isPseudoLegal(pos, m) && makeMove(pos, child, m);
    ASSERT_EQ(accepted, legal.count(m) == 1) << positionToFen(pos) << " move " << m << " " << moveToText(m);
  }
}

TEST(MoveGen, GeneratorInvariantsInCheck) {
  const char* fens[] = {
      "8/8/8/2k5/3Pp3/8/8/4K3 b - d3",                                 // pawn check, en passant
      "4k3/8/8/8/8/5n2/8/4K2r w - -",                                  // double check
      "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq -",     // mate
      "r3k2r/8/8/8/8/8/8/R3K1r1 w Qkq -",
      "4k3/8/8/8/1b6/8/8/R3K2R w KQ -",                                 // bishop check, castling rights
      "4k3/8/8/8/8/8/3P1PN1/3RK2q w - -",
      "K4r2/2kP4/8/8/8/8/8/8 w - -",                                   // blocking push onto the last rank
  };
  for (const char* fen : fens) {
    Position pos = fenPosition(fen);
    EXPECT_EQ(pos.inCheck, 1) << fen;
    checkGeneratorInvariants(pos, true);
  }
}

TEST(MoveGen, GeneratorInvariantsOnManyPositions) {
  std::vector<Position> positions = samplePositions(false, 2, 30);
  for (size_t i = 0; i < positions.size(); i++) checkGeneratorInvariants(positions[i], i % 6 == 0);
  Chess960Guard chess960(1);
  positions = samplePositions(true, 2, 30);
  for (size_t i = 0; i < positions.size(); i++) checkGeneratorInvariants(positions[i], i % 6 == 0);
}
