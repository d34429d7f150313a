// The tablebase root filter and the in-search probe, on real Syzygy files:
// the moves kept in won, drawn and lost roots, the fifty-move option, the
// repetition rule, the WDL fallback and the switches that turn probing off.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "board/settings.h"
#include "tb/probe.h"
#include "tb/tbsearch.h"

namespace {

namespace fs = std::filesystem;

// The full shared set when it is there, else the small copy in the tests.
std::string tableDirectory() {
  const std::string shared = std::string(ORVANE_SHARED) + "/syzygy";
  return fs::is_directory(shared) ? shared : std::string(ORVANE_TEST_DATA) + "/syzygy";
}

// Restores the options the tests change.
struct OptionGuard {
  int use = settings::useSyzygy, limit = settings::syzygyProbeLimit, rule50 = settings::syzygy50MoveRule;
  ~OptionGuard() {
    settings::useSyzygy = use;
    settings::syzygyProbeLimit = limit;
    settings::syzygy50MoveRule = rule50;
  }
};

class TbSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    initBoardTables();
    tbInit(tableDirectory());
    int success = 0;
    probeWdl(fenPosition("8/8/8/4k3/8/8/3KQ3/8 b - - 0 1"), &success);
    if (maxMen < 4 || !success) GTEST_SKIP() << "no usable Syzygy tables in " << tableDirectory();
  }
  void TearDown() override { tbInit(""); }

  // Runs the filter on root with an ample time target.
  std::vector<TbRootMove> filter(const Position& root, TbRootResult* result = nullptr) {
    TbRootMove moves[MaxMoves + 1];
    const TbRootResult r = tbRootFilter(root, 10.0, moves, MaxMoves + 1);
    if (result) *result = r;
    std::vector<TbRootMove> out(moves, moves + r.moveCount);
    EXPECT_EQ(moves[r.moveCount].move, 0);
    return out;
  }

  // Win/draw/loss after m, from the mover's point of view.
  static int wdlAfter(const Position& root, Move m) {
    Position child;
    EXPECT_TRUE(makeMove(root, child, m));
    int success = 0;
    const int v = -probeWdl(child, &success);
    EXPECT_TRUE(success);
    return v;
  }

  static bool selected(const std::vector<TbRootMove>& list, Move m) {
    for (const TbRootMove& rm : list)
      if (rm.move == m) return true;
    return false;
  }

  OptionGuard options;
};

// White king d2, queen c2 against the king on e5: a win for White.
const char* const KqkWhite = "8/8/8/4k3/8/8/2QK4/8 w - - 0 1";
// Rook against rook, drawn; the white rook has squares where it is lost.
const char* const KrkrDrawn = "1r6/8/8/8/R7/2k5/8/7K w - - 0 1";

TEST_F(TbSearch, WonRootKeepsExactlyTheWinningMovesFastestFirst) {
  const Position root = fenPosition(KqkWhite);
  TbRootResult r;
  const std::vector<TbRootMove> kept = filter(root, &r);
  EXPECT_EQ(r.rootScore, TbWinScore);
  EXPECT_EQ(r.probeLimit, 0);
  EXPECT_GT(r.limit, 0);
  for (Move m : legalMoves(root)) EXPECT_EQ(selected(kept, m), wdlAfter(root, m) == 2) << moveToText(m);
  for (size_t i = 1; i < kept.size(); i++) EXPECT_LE(kept[i - 1].score, kept[i].score);
  ASSERT_FALSE(kept.empty());
  EXPECT_GT(kept.front().score, 0);
  EXPECT_LT(kept.front().score, kept.back().score);  // slower wins are kept too
}

// The white king walks d2-e2-d2 while the black king goes e5-e6-e5: the
// last position repeats the one four plies before it.
struct RepeatingLine {
  Position positions[5];
  RepeatingLine() {
    positions[0] = fenPosition(KqkWhite);
    const char* moves[4] = {"d2e2", "e5e6", "e2d2", "e6e5"};
    for (int i = 0; i < 4; i++) {
      positions[i + 1] = play(positions[i], moves[i]);
      positions[i + 1].previous = &positions[i];
    }
  }
};

TEST(TbRepetition, SeenOnlySinceTheLastZeroingMove) {
  RepeatingLine line;
  EXPECT_TRUE(repetitionSinceZeroing(line.positions[4]));
  EXPECT_FALSE(repetitionSinceZeroing(line.positions[3]));
  // A capture or pawn move in between ends the look back.
  line.positions[2].rule50 = 0;
  EXPECT_FALSE(repetitionSinceZeroing(line.positions[4]));
}

TEST_F(TbSearch, WonRootAfterRepetitionKeepsOnlyTheFastestConversion) {
  const RepeatingLine line;
  const std::vector<TbRootMove> fresh = filter(line.positions[0]);
  const std::vector<TbRootMove> repeated = filter(line.positions[4]);
  ASSERT_FALSE(repeated.empty());
  for (const TbRootMove& rm : repeated) EXPECT_EQ(rm.score, fresh.front().score);
  EXPECT_LT(repeated.size(), fresh.size());
}

TEST_F(TbSearch, DrawnRootKeepsExactlyTheDrawingMoves) {
  const Position root = fenPosition(KrkrDrawn);
  TbRootResult r;
  const std::vector<TbRootMove> kept = filter(root, &r);
  EXPECT_EQ(r.rootScore, 0);
  int losing = 0;
  for (Move m : legalMoves(root)) {
    const int v = wdlAfter(root, m);
    EXPECT_EQ(selected(kept, m), v == 0) << moveToText(m);
    losing += v < 0;
  }
  EXPECT_GT(losing, 0);
  for (const TbRootMove& rm : kept) EXPECT_EQ(rm.score, 0);
}

TEST_F(TbSearch, LostRootKeepsAllMovesUntilTheFiftyMoveHorizonNears) {
  TbRootResult r;
  const Position far = fenPosition("8/8/8/4k3/8/8/3KQ3/8 b - - 0 1");
  EXPECT_EQ(filter(far, &r).size(), legalMoves(far).size());
  EXPECT_EQ(r.rootScore, -TbWinScore);

  // 90 plies without a capture: the loss (14 plies to zeroing) comes too late
  // for the fifty-move rule; only the longest resistance is kept.
  // (FEN set-up does not read the halfmove clock.)
  Position near = fenPosition("8/8/8/4k3/8/8/3KQ3/8 b - - 0 1");
  near.rule50 = 90;
  const std::vector<TbRootMove> kept = filter(near, &r);
  EXPECT_EQ(r.rootScore, -((-14 + 200 - 90) / 2));
  ASSERT_FALSE(kept.empty());
  EXPECT_LT(kept.size(), legalMoves(near).size());
  for (const TbRootMove& rm : filter(far)) EXPECT_GE(rm.score, kept.front().score);
  for (const TbRootMove& rm : kept) EXPECT_EQ(rm.score, kept.front().score);

  // Far past the fifty-move rule the loss is a draw, never a win.
  near.rule50 = 195;
  filter(near, &r);
  EXPECT_EQ(r.rootScore, 0);
}

TEST_F(TbSearch, FiftyMoveOptionDecidesCursedWinsAndBlessedLosses) {
  if (maxMen < 5) GTEST_SKIP() << "needs the 5-man tables of ../shared/syzygy";
  const Position cursed = fenPosition("1k6/b7/8/N3Kb2/8/8/8/8 b - - 0 1");   // wdl 1, dtz 127
  const Position blessed = fenPosition("1k6/b7/2b5/8/K4N2/8/8/8 w - - 0 1");  // wdl -1, dtz -104
  int score = 0;
  TbRootResult r;

  settings::syzygy50MoveRule = 1;
  ASSERT_FALSE(filter(cursed, &r).empty());
  EXPECT_EQ(r.rootScore, 2);
  ASSERT_FALSE(filter(blessed, &r).empty());
  EXPECT_EQ(r.rootScore, -2);
  ASSERT_TRUE(tbScore(cursed, 3, &score));
  EXPECT_EQ(score, 2);
  ASSERT_TRUE(tbScore(blessed, 3, &score));
  EXPECT_EQ(score, -2);

  settings::syzygy50MoveRule = 0;
  ASSERT_FALSE(filter(cursed, &r).empty());
  EXPECT_EQ(r.rootScore, TbWinScore);
  ASSERT_FALSE(filter(blessed, &r).empty());
  EXPECT_EQ(r.rootScore, -TbWinScore);
  ASSERT_TRUE(tbScore(cursed, 3, &score));
  EXPECT_EQ(score, MateBound - 3);
  ASSERT_TRUE(tbScore(blessed, 3, &score));
  EXPECT_EQ(score, 3 - MateBound);

  // A plain win is a near-mate either way; a draw is 0.
  ASSERT_TRUE(tbScore(fenPosition(KqkWhite), 5, &score));
  EXPECT_EQ(score, MateBound - 5);
  ASSERT_TRUE(tbScore(fenPosition(KrkrDrawn), 5, &score));
  EXPECT_EQ(score, 0);
}

TEST_F(TbSearch, WithoutDtzTablesTheWinDrawLossFilterDecides) {
  // Only the WDL file of KQvK: the filter keeps every winning move, in
  // generation order, with the win as the root score.
  const fs::path dir = fs::temp_directory_path() / ("orvane-wdl-only-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::copy_file(tableDirectory() + "/KQvK.rtbw", dir / "KQvK.rtbw", fs::copy_options::overwrite_existing);
  tbInit(dir.string());
  const Position root = fenPosition(KqkWhite);
  TbRootResult r;
  const std::vector<TbRootMove> kept = filter(root, &r);
  EXPECT_EQ(r.rootScore, TbWinScore);
  for (Move m : legalMoves(root)) EXPECT_EQ(selected(kept, m), wdlAfter(root, m) == 2) << moveToText(m);
  for (const TbRootMove& rm : kept) EXPECT_EQ(rm.score, 2);
  tbInit("");
  fs::remove_all(dir);
}

TEST_F(TbSearch, SwitchedOffOrShortOfTimeNothingIsProbed) {
  const Position root = fenPosition(KqkWhite);
  TbRootMove moves[MaxMoves + 1];
  auto expectNoProbe = [&](double target) {
    const TbRootResult r = tbRootFilter(root, target, moves, MaxMoves + 1);
    EXPECT_EQ(r.limit, 0);
    EXPECT_EQ(r.probeLimit, 0);
    EXPECT_EQ(r.moveCount, 0);
    EXPECT_EQ(r.rootScore, TbNoRootScore);
    EXPECT_EQ(moves[0].move, 0);
    EXPECT_EQ(tbHits.load(), 0u);
  };
  expectNoProbe(0.1);
  settings::useSyzygy = 0;
  expectNoProbe(10.0);
  settings::useSyzygy = 1;

  // A root above the probe limit is searched normally, probing up to it.
  settings::syzygyProbeLimit = 2;
  const TbRootResult r = tbRootFilter(root, 10.0, moves, MaxMoves + 1);
  EXPECT_EQ(r.moveCount, 0);
  EXPECT_EQ(r.probeLimit, 2);
  EXPECT_EQ(tbHits.load(), 0u);

  // Castling rights are not in the tables: the search gets no answer.
  int score;
  EXPECT_FALSE(tbScore(fenPosition("4k3/8/8/8/8/8/8/R3K3 w Q - 0 1"), 1, &score));
}

}  // namespace
