// The tablebase root filter and the in-search probe, on real Syzygy files:
// the exact (move, score) lists kept in won, drawn and lost roots, the
// fifty-move option, the repetition rule, the WDL fallback, the switches
// that turn probing off, and the probes the search makes in its tree.  The
// tables kept with the tests serve everything but the cursed wins, which
// need the 5-man tables of ../shared/syzygy; a missing table is a failure.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/search.h"
#include "search/searchthread.h"
#include "search/tables.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "tb/probe.h"
#include "tb/tbsearch.h"
#include "tt/tt.h"

namespace {

namespace fs = std::filesystem;

// The up to 4-man tables kept with the tests, and the shared 3-5 man set.
std::string keptTables() { return std::string(ORVANE_TEST_DATA) + "/syzygy"; }
std::string sharedTables() { return std::string(ORVANE_SHARED) + "/syzygy"; }

// Restores the options the tests change.
struct OptionGuard {
  int use = settings::useSyzygy, limit = settings::syzygyProbeLimit, rule50 = settings::syzygy50MoveRule,
      depth = settings::syzygyProbeDepth;
  ~OptionGuard() {
    settings::useSyzygy = use;
    settings::syzygyProbeLimit = limit;
    settings::syzygy50MoveRule = rule50;
    settings::syzygyProbeDepth = depth;
  }
};

// Registers the tables of dir (output hidden) and checks that they serve
// the men wanted: absent tables fail the test instead of skipping it.
void useTables(const std::string& dir, int men) {
  testing::internal::CaptureStdout();
  tbInit(dir);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(maxMen, men) << "no usable " << men << "-man Syzygy tables in " << dir;
}

class TbSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    initBoardTables();
    ASSERT_NO_FATAL_FAILURE(useTables(keptTables(), 4));
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

// The DTZ filter's kept moves as "move:score" words, best first.  The
// expected lists below were derived outside this engine: the DTZ and WDL
// of every child from an independent prober, then the move scores (1 for a
// mate; the child's DTZ negated and one ply longer after a quiet move; the
// child's WDL as +-1 or +-101 after a capture or pawn move) and the
// selection (wins up to 99 - rule50 plies unless even the fastest is beyond
// that, then only the fastest).
struct DtzCase {
  const char* fen;
  int rule50;
  bool fiveMen;  // needs the shared 5-man tables
  int rootScore;
  const char* kept;
};

const DtzCase DtzCases[] = {
    // Two mates in one (Qa3, Qa6) first, then every other win in time.
    {"k7/2K5/8/8/8/3Q4/8/8 w - - 0 1", 0, false, TbWinScore,
     "d3a3:1 d3a6:1 c7b6:3 d3b1:3 d3b3:3 d3b5:3 d3c2:3 d3c3:3 d3c4:3 d3d1:3 d3d2:3 d3d5:3 d3d6:3 d3d7:3 d3e2:3 "
     "d3e4:3 d3f1:3 d3f3:3 d3f5:3 d3g3:3 d3h3:3 c7c6:5 c7c8:5 d3d8:5 d3g6:5 d3h7:5 c7d6:7 c7d7:7 c7d8:7"},
    // A fresh won root keeps all its wins, fastest (13 plies) first.
    {KqkWhite, 0, false, TbWinScore,
     "c2c6:13 c2a4:15 c2c3:15 c2c4:15 c2c5:15 c2c7:15 c2c8:15 c2d1:15 c2d3:15 c2g6:15 d2c3:15 d2d3:15 d2e3:15 "
     "c2a2:17 c2b1:17 c2b2:17 c2b3:17 c2c1:17 c2h7:17 d2d1:17 d2e1:17 d2e2:17 d2c1:19"},
    // 84 plies gone: only the wins that zero within 99 - 84 = 15 plies.
    {KqkWhite, 84, false, TbWinScore,
     "c2c6:13 c2a4:15 c2c3:15 c2c4:15 c2c5:15 c2c7:15 c2c8:15 c2d1:15 c2d3:15 c2g6:15 d2c3:15 d2d3:15 d2e3:15"},
    // Past the fifty-move rule the win is a draw (never a loss): only the
    // fastest conversion is kept.
    {KqkWhite, 195, false, 0, "c2c6:13"},
    // A cursed win (DTZ 107, a draw under the fifty-move rule, scored 2):
    // only its two fastest moves.
    {"4B2B/8/3n4/8/1K6/5k2/8/8 w - - 0 1", 0, true, 2, "e8c6:107 e8g6:107"},
};

std::string keptText(const std::vector<TbRootMove>& kept, bool sortTies) {
  std::vector<std::pair<int, std::string>> words;
  for (const TbRootMove& rm : kept) words.push_back({rm.score, moveToText(rm.move)});
  if (sortTies) std::sort(words.begin(), words.end());
  std::string text;
  for (const auto& [score, move] : words) text += (text.empty() ? "" : " ") + move + ":" + std::to_string(score);
  return text;
}

TEST_F(TbSearch, DtzFilterKeepsExactMoveLists) {
  for (const DtzCase& c : DtzCases) {
    SCOPED_TRACE(std::string(c.fen) + " rule50 " + std::to_string(c.rule50));
    if (c.fiveMen) {
      ASSERT_NO_FATAL_FAILURE(useTables(sharedTables(), 5));
    }
    Position root = fenPosition(c.fen);
    root.rule50 = c.rule50;  // FEN set-up does not read the halfmove clock
    TbRootResult r;
    const std::vector<TbRootMove> kept = filter(root, &r);
    EXPECT_EQ(r.rootScore, c.rootScore);
    EXPECT_EQ(r.moveCount, (int)kept.size());
    EXPECT_EQ(r.probeLimit, 0);
    // Ties come in the filter's own order; the scores must not fall.
    EXPECT_EQ(keptText(kept, true), c.kept);
    for (size_t i = 1; i < kept.size(); i++) EXPECT_LE(kept[i - 1].score, kept[i].score) << keptText(kept, false);
    if (c.fiveMen) {
      ASSERT_NO_FATAL_FAILURE(useTables(keptTables(), 4));
    }
  }
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
  EXPECT_EQ(fresh.size(), 23u);
  EXPECT_EQ(keptText(repeated, false), "c2c6:13");
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
  ASSERT_NO_FATAL_FAILURE(useTables(sharedTables(), 5));
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
  fs::copy_file(keptTables() + "/KQvK.rtbw", dir / "KQvK.rtbw", fs::copy_options::overwrite_existing);
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

// ---------------------------------------------------------------- probes in the tree

// The search on thread 0, in this process, with the kept tables.
class TbInSearch : public TbSearch {
 protected:
  static void SetUpTestSuite() {
    initBitboards();
    initZobrist();
    buildSpecialMaterialTable();
    initTables();
    initSearchTables();
    if (!tt.buckets) ttAllocate(16);
    settings::threads = 1;
    buildPool();
  }
  void SetUp() override {
    TbSearch::SetUp();
    moveTime = 0;
    nodeLimit = NoNodeLimit;
    pondering = 0;
    infiniteSearch = false;
    drawScore = 0;
    searchStart = now();
    setDeadlines(now(), NoTimeLimit, NoTimeLimit);
    ttClearSilently();
  }
  void TearDown() override {
    tbProbeLimit = 0;
    TbSearch::TearDown();
  }

  // A whole "go depth" through the driver (root filter included); returns
  // the final score.
  int searchFrom(const char* fen, int depth) {
    static Position root;
    root = Position{};
    EXPECT_TRUE(setPosition(root, fen));
    ttClearSilently();
    testing::internal::CaptureStdout();
    const int score = search(root, depth, "", NoTimeLimit, NoTimeLimit);
    output = testing::internal::GetCapturedStdout();
    return score;
  }

  // pos made a node of thread 0's tree.
  static void attach(Position& pos) {
    SearchThread& main = *searchThreads[0];
    pos.threadIndex = 0;
    pos.historyTable = &main.history;
    attachEvalCaches(pos, threadCaches[0]);
    pos.inCheck = kingAttacked(pos, pos.sideToMove());
  }

  // The "tbhits" count of the last line with a principal variation.
  long lastTbhits() const {
    const size_t line = output.rfind(" pv ");
    const size_t at = output.rfind(" tbhits ", line);
    return line == std::string::npos || at == std::string::npos ? -1 : std::stol(output.substr(at + 8));
  }

  std::string output;
};

// White to move takes the hanging black rook with Qxa7 and reaches a won
// KQvK: one ply from the root, so the exact tablebase score is a win at
// ply 1, which no other move can reach (KQvKR has no quick mate here).
const char* const QueenTakesRook = "8/r7/4k3/8/3Q4/8/8/4K3 w - - 0 1";
// Five men: exd6 takes the knight and leaves a won KPvKP (the d-pawn runs,
// the black king is too far and the h-pawn too slow).
const char* const PawnTakesKnight = "7k/7p/3n4/4P3/8/8/8/K7 w - - 0 1";

TEST_F(TbInSearch, CapturesIntoTheTablesGetTheirExactScore) {
  struct Case {
    const char* fen;
    int probeLimit, probeDepth, depth;
    bool probes;
  };
  const Case cases[] = {
      // The capture reaches exactly the probe limit (3 men) within the depth.
      {QueenTakesRook, 3, 2, 4, true},
      // The default limit, bounded by the 4-man tables found.
      {PawnTakesKnight, 6, 2, 4, true},
      // One man short of the limit: nothing is probed.
      {QueenTakesRook, 2, 2, 4, false},
      // "Syzygy Probe Depth" beyond every node of a 3-ply search (depth is
      // counted in half-plies: the root's children have at most 6).
      {QueenTakesRook, 3, 7, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fen) + " limit " + std::to_string(c.probeLimit) + " probe depth " +
                 std::to_string(c.probeDepth));
    settings::syzygyProbeLimit = c.probeLimit;
    settings::syzygyProbeDepth = c.probeDepth;
    const int score = searchFrom(c.fen, c.depth);
    if (c.probes) {
      EXPECT_GT(tbHits.load(), 0u) << output;
      EXPECT_EQ(score, MateBound - 1) << output;
      EXPECT_GT(lastTbhits(), 0) << output;
    } else {
      EXPECT_EQ(tbHits.load(), 0u) << output;
      EXPECT_GT(score, 0) << output;
      EXPECT_LT(score, MateBound - 100) << output;
      EXPECT_EQ(lastTbhits(), 0) << output;
    }
  }
}

// The node routines probe when the remaining depth reaches "Syzygy Probe
// Depth" and the men are within the limit, and answer with the table's
// score at their ply.  Nothing in a subtree searched one half-ply shallower
// may probe: children never get more depth than their parent.
TEST_F(TbInSearch, NodesProbeFromTheProbeDepthAndTheLimitOn) {
  settings::syzygyProbeDepth = 4;
  for (const char* fen : {KqkWhite, "8/8/8/4k3/8/8/2QK4/8 b - - 0 1"}) {
    Position pos = fenPosition(fen);
    attach(pos);
    const int expected = pos.sideToMove() == White ? MateBound - 3 : 3 - MateBound;
    // A null window the node cannot meet without the tables: the winner
    // fails low below the win, the loser fails high above the loss.
    const int beta = pos.sideToMove() == White ? expected : expected + 1;
    for (bool pv : {true, false})
      for (int limit : {2, 3})
        for (int depth : {3, 4}) {
          SCOPED_TRACE(std::string(fen) + (pv ? " PV" : " non-PV") + " limit " + std::to_string(limit) + " depth " +
                       std::to_string(depth));
          ttClearSilently();
          tbProbeLimit = limit;
          tbHits.store(0);
          threadSignals[0].stop.store(0);
          Move line[PvLength];
          const int v = pv ? searchPV(pos, -NoScore, NoScore, depth, 3, line)
                           : searchNonPV(pos, beta, depth, 3, line, 0, false, false);
          if (limit == 3 && depth == 4) {
            EXPECT_EQ(v, expected);
            EXPECT_EQ(pos.staticEval, expected);
            EXPECT_GT(tbHits.load(), 0u);
          } else {
            EXPECT_EQ(tbHits.load(), 0u);
            EXPECT_NE(v, expected);
          }
        }
  }
}

}  // namespace
