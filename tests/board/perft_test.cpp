#include "board_test_util.h"

namespace {

// Checks every line of a perft file at the deepest depth whose count stays
// within budget (at least depth 1).
void runPerftFile(const char* name, uint64_t budget) {
  std::vector<PerftLine> lines = readPerftFile(name);
  ASSERT_FALSE(lines.empty()) << name;
  for (const PerftLine& line : lines) {
    std::pair<int, uint64_t> chosen = line.counts.front();
    for (const auto& c : line.counts)
      if (c.second <= budget) chosen = c;
    Position pos = fenPosition(line.fen);
    EXPECT_EQ(perft(pos, chosen.first), chosen.second) << line.fen << " depth " << chosen.first;
  }
}

}  // namespace

TEST(Perft, StandardFile) {
  Chess960Guard chess960(0);
  runPerftFile("perft.epd", 1000000);
}

TEST(Perft, Chess960File) {
  Chess960Guard chess960(1);
  runPerftFile("perft960.epd", 2000000);
}

TEST(Perft, StandardFileWithChess960Castling) {
  Chess960Guard chess960(1);
  runPerftFile("perft.epd", 300000);
}

TEST(Perft, DeeperKeyPositions) {
  Chess960Guard chess960(0);
  EXPECT_EQ(perft(fenPosition(StartFen), 5), 4865609u);
  EXPECT_EQ(perft(fenPosition("r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -"), 4), 4085603u);
  EXPECT_EQ(perft(fenPosition("8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - -"), 6), 11030083u);
  EXPECT_EQ(perft(fenPosition("r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1"), 4), 422333u);
  EXPECT_EQ(perft(fenPosition("rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8"), 4), 2103487u);
  EXPECT_EQ(perft(fenPosition(StartFen), 0), 1u);
}
