// The king-and-pawn win table: tablebase samples and a full consistency
// check of every entry against the board's own move generator.
#include <fstream>
#include <sstream>

#include "board/movegen.h"
#include "eval/kpk.h"
#include "eval_fixture.h"

using namespace evalfixture;

namespace {

// Pawn side wins according to the table, for a K+P v K position.
bool tableSaysWin(const Position& pos) {
  int pc = pos.pieces[White][Pawn] ? White : Black;
  return kpkWins(pc, pos.kingSquare(pc), lsb(pos.pieces[pc][Pawn]), pos.kingSquare(other(pc)),
                 pos.sideToMove() == pc);
}

bool isKpk(const Position& pos) {
  return popcount(pos.occupied) == 3 && (pos.pieces[White][Pawn] | pos.pieces[Black][Pawn]);
}

// After a promotion (the defender to move, king and queen or rook against
// king): won unless the defender can take the new piece or is stalemated.
bool promotionWon(const Position& pos) {
  int list[MaxMoves];
  int n = generateAll(pos, list);
  bool anyLegal = false;
  for (int i = 0; i < n; i++) {
    Position child;
    if (!makeMove(pos, child, entryMove(list[i]))) continue;
    anyLegal = true;
    if (popcount(child.occupied) == 2) return false;
  }
  return anyLegal || inCheckOf(pos, pos.sideToMove());
}

// The value of pos from the pawn side's view, recomputed one ply deep from
// the table's answers for the successors.
bool oneStepWin(const Position& pos) {
  int pc = pos.pieces[White][Pawn] ? White : Black;
  int list[MaxMoves];
  int n = generateAll(pos, list);
  bool anyLegal = false;
  if (pos.sideToMove() == pc) {
    for (int i = 0; i < n; i++) {
      Move m = entryMove(list[i]);
      Position child;
      if (!makeMove(pos, child, m)) continue;
      if (isPromotion(m)) {
        if ((promotionType(m) == Queen || promotionType(m) == Rook) && promotionWon(child)) return true;
        continue;
      }
      if (tableSaysWin(child)) return true;
    }
    return false;
  }
  for (int i = 0; i < n; i++) {
    Position child;
    if (!makeMove(pos, child, entryMove(list[i]))) continue;
    anyLegal = true;
    if (!isKpk(child) || !tableSaysWin(child)) return false;
  }
  return anyLegal || inCheckOf(pos, pos.sideToMove());  // checkmate or stalemate
}

std::string kpkFen(Square wk, Square pawn, Square bk, bool whiteToMove) {
  char board[64] = {};
  board[wk] = 'K', board[pawn] = 'P', board[bk] = 'k';
  std::string fen;
  for (int r = 7; r >= 0; r--) {
    int empty = 0;
    for (int f = 0; f < 8; f++) {
      char c = board[makeSquare(f, r)];
      if (!c) { empty++; continue; }
      if (empty) fen += (char)('0' + empty), empty = 0;
      fen += c;
    }
    if (empty) fen += (char)('0' + empty);
    if (r) fen += '/';
  }
  return fen + (whiteToMove ? " w - - 0 1" : " b - - 0 1");
}

}  // namespace

TEST(Kpk, AgreesWithTablebaseSamples) {
  TestCaches tc;
  const std::string path = std::string(ORVANE_TEST_DATA) + "/kpk-samples.txt";
  std::ifstream in(path);
  ASSERT_TRUE(in) << "cannot read " << path;
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string fen = line.substr(0, line.find(" ;"));
    const int wdl = std::stoi(line.substr(line.find("wdl ") + 4));
    Position pos = fromFen(fen, tc.caches);
    ASSERT_TRUE(isKpk(pos)) << fen;
    int pc = pos.pieces[White][Pawn] ? White : Black;
    bool pawnSideWins = pos.sideToMove() == pc ? wdl == 2 : wdl == -2;
    EXPECT_EQ(tableSaysWin(pos), pawnSideWins) << fen;
    checked++;
  }
  EXPECT_EQ(checked, 22);
}

TEST(Kpk, KnownPositions) {
  TestCaches tc;
  // King in front of its pawn on the sixth rank wins whoever moves.
  EXPECT_TRUE(tableSaysWin(fromFen("4k3/8/4K3/4P3/8/8/8/8 w - - 0 1", tc.caches)));
  EXPECT_TRUE(tableSaysWin(fromFen("4k3/8/4K3/4P3/8/8/8/8 b - - 0 1", tc.caches)));
  // Opposition in front of the pawn: whoever must give way decides.
  EXPECT_TRUE(tableSaysWin(fromFen("8/8/4k3/8/4K3/4P3/8/8 b - - 0 1", tc.caches)));
  EXPECT_FALSE(tableSaysWin(fromFen("8/8/4k3/8/4K3/4P3/8/8 w - - 0 1", tc.caches)));
  // Rook pawn with the defender in the corner.
  EXPECT_FALSE(tableSaysWin(fromFen("k7/8/8/8/8/8/P7/7K w - - 0 1", tc.caches)));
  EXPECT_FALSE(tableSaysWin(fromFen("8/8/8/8/8/8/7p/5K1k w - - 0 1", tc.caches)));
  // Unstoppable pawn (the defender outside the square).
  EXPECT_TRUE(tableSaysWin(fromFen("K7/8/8/8/1p6/8/8/7k b - - 0 1", tc.caches)));
}

TEST(Kpk, EveryEntryConsistentWithItsSuccessors) {
  TestCaches tc;
  int positions = 0, wins = 0;
  for (Square pawn = 8; pawn < 56; pawn++) {
    if (fileOf(pawn) > 3 && fileOf(pawn) != 6) continue;  // files a-d plus one mirrored file
    for (Square wk = 0; wk < 64; wk++)
      for (Square bk = 0; bk < 64; bk++) {
        if (wk == bk || wk == pawn || bk == pawn) continue;
        if (std::max(std::abs(fileOf(wk) - fileOf(bk)), std::abs(rankOf(wk) - rankOf(bk))) <= 1) continue;
        for (bool whiteToMove : {true, false}) {
          Position pos;
          if (!setPosition(pos, kpkFen(wk, pawn, bk, whiteToMove).c_str())) continue;  // side not to move in check
          bool win = tableSaysWin(pos);
          ASSERT_EQ(win, oneStepWin(pos)) << kpkFen(wk, pawn, bk, whiteToMove);
          positions++;
          wins += win;
        }
      }
  }
  EXPECT_GT(positions, 150000);
  EXPECT_GT(wins, positions / 2);
}
