// The driver's stop rules and answers, run in-process on small positions.
#include <gtest/gtest.h>

#include <string>

#include "board/bitboard.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/search.h"
#include "search/searchthread.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "tt/tt.h"

namespace {

class Driver : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    initBitboards();
    initZobrist();
    buildSpecialMaterialTable();
    initTables();
    if (!tt.buckets) ttAllocate(16);
    settings::threads = 1;
    buildPool();
  }
  void SetUp() override {
    moveTime = 0;
    nodeLimit = NoNodeLimit;
    pondering = 0;
    infiniteSearch = false;
  }

  // Runs one search and returns its "bestmove" line.
  std::string answer(const char* fen, int depth, const char* searchMoves = "", double target = NoTimeLimit) {
    static Position root;
    root = Position{};
    EXPECT_TRUE(setPosition(root, fen));
    testing::internal::CaptureStdout();
    search(root, depth, searchMoves, target, NoTimeLimit);
    const std::string out = testing::internal::GetCapturedStdout();
    const size_t at = out.rfind("bestmove");
    output = out;
    return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
  }
  std::string output;
};

TEST_F(Driver, NoLegalMoveAnswersNullMove) {
  EXPECT_EQ(answer("7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", 3), "bestmove 0000");  // stalemate
  EXPECT_EQ(answer("R6k/6pp/8/8/8/8/8/6K1 b - - 0 1", 3), "bestmove 0000");  // mated
}

TEST_F(Driver, SingleLegalMoveStopsAfterFiveIterations) {
  // The white king in check on e1 has one move, to e2.
  EXPECT_EQ(answer("4k3/8/8/8/8/8/3P1P2/r3K3 w - - 0 1", 20).substr(0, 13), "bestmove e1e2");
  EXPECT_EQ(lastIteration, 5);
}

TEST_F(Driver, FixedDepthStopsAtFirstMate) {
  EXPECT_EQ(answer("7k/8/6K1/8/8/8/8/R7 w - - 0 1", 10), "bestmove a1a8 ponder 0000");
  EXPECT_LT(lastIteration, 4);
}

TEST_F(Driver, DepthOnePrintsIterationLineReportAndFinalLine) {
  const std::string best = answer("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 1);
  EXPECT_EQ(output.rfind("info depth 1 time ", 0), 0u) << output;
  EXPECT_NE(output.find("\ninfo time "), std::string::npos) << output;
  EXPECT_EQ(best.rfind("bestmove ", 0), 0u);
  EXPECT_NE(best, "bestmove 0000");
}

TEST_F(Driver, SearchmovesRestrictsAndFallsBackWhenNothingMatches) {
  const char* start = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  EXPECT_EQ(answer(start, 3, "b1a3 ").substr(0, 13), "bestmove b1a3");
  EXPECT_EQ(lastIteration, 3);
  const std::string any = answer(start, 2, "e2e5 ");
  EXPECT_NE(any, "bestmove 0000");
  EXPECT_NE(output.find("info string"), std::string::npos);
}

TEST_F(Driver, NodeLimitStopsSearch) {
  nodeLimit = 3000;
  const std::string best = answer("r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3", 99);
  nodeLimit = NoNodeLimit;
  EXPECT_NE(best, "bestmove 0000");
  EXPECT_LT(totalNodes(), 3000u + 60000u);
}

// The clock poll hands a queued command over first: a queue that never
// empties lets a test move the deadlines at the exact moments a real
// search polls.  Whenever the root is on the first move of iteration 5 or
// later, the clock is put past three times the target (the hard deadline
// still far away).
int firstMovePolls = 0;
bool queueNeverEmpty() { return false; }
void passTheExtendedDeadlineOnFirstMoves() {
  if (lastIteration < 5 || rootMovesSearched.load() != 1) return;
  firstMovePolls++;
  setDeadlines(now() - 350.0, 100.0, NoTimeLimit);
}

TEST_F(Driver, ExtendedDeadlineSparesAFirstMoveThatIsNotWinning) {
  const int savedRatio = hardRatio;
  auto* const savedEmpty = commandQueueIsEmpty;
  auto* const savedPoller = commandPoller;
  hardRatio = 600;
  ttClearSilently();
  commandQueueIsEmpty = queueNeverEmpty;
  commandPoller = passTheExtendedDeadlineOnFirstMoves;
  // Black, a knight down, keeps searching its first move: the score the
  // root published last is below 0.
  firstMovePolls = 0;
  answer("r1bqkb1r/pppp1ppp/5n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R b KQkq - 0 4", 8);
  EXPECT_GT(firstMovePolls, 0);
  EXPECT_EQ(lastIteration, 8);
  EXPECT_EQ(threadSignals[0].stop.load(), 0);
  // White, a knight up, is stopped at the first such poll.
  firstMovePolls = 0;
  answer("r1bqkb1r/pppp1ppp/5n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 0 4", 8);
  EXPECT_EQ(firstMovePolls, 1);
  EXPECT_EQ(threadSignals[0].stop.load(), 1);
  commandQueueIsEmpty = savedEmpty;
  commandPoller = savedPoller;
  hardRatio = savedRatio;
}

TEST_F(Driver, SearchStartsWithoutAStalePositionalTerm) {
  // The root was evaluated before (its score is in thread 0's cache) and
  // its record still carries a positional term from some other position.
  // The search starts from 0, and the cached root score never rewrites it.
  static Position root;
  root = Position{};
  ASSERT_TRUE(setPosition(root, "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4"));
  root.psq = computePsq(root);
  root.phase = (int16_t)computePhase(root);
  attachEvalCaches(root, threadCaches[0]);
  evaluate(root, -35000, 35000);
  root.lastPositional = 123456;
  benchMode = 1;
  search(root, 3, "", NoTimeLimit, NoTimeLimit);
  benchMode = 0;
  EXPECT_EQ(root.lastPositional, 0);
}

TEST_F(Driver, BenchModeIsSilentAndRepeatable) {
  static Position root;
  benchMode = 1;
  uint64_t nodes[2];
  for (uint64_t& n : nodes) {
    initTables();
    ttClearSilently();
    for (auto& c : searchThreads[0]->history.v)
      for (auto& t : c)
        for (int& h : t) h = 5000;
    allocateEvalCaches(threadCaches[0], builtTableMemory, threadCount);
    root = Position{};
    ASSERT_TRUE(setPosition(root, "2rr2k1/1pqnbppp/p2p1n2/Pb2p3/4P3/2NNBB2/1PPQ1PPP/R2R2K1 b - - 0 1"));
    testing::internal::CaptureStdout();
    search(root, 5, "", NoTimeLimit, NoTimeLimit);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    n = totalNodes();
  }
  benchMode = 0;
  EXPECT_GT(nodes[0], 0u);
  EXPECT_EQ(nodes[0], nodes[1]);
}

}  // namespace

namespace {

TEST(Aspiration, FailuresWidenTheFailingSide) {
  AspirationWindow w{-20, -6, 7};
  widenAfterFail(w, -40);
  EXPECT_EQ(w.alpha, -47);
  EXPECT_EQ(w.beta, -13);
  EXPECT_EQ(w.delta, 10);
  widenAfterFail(w, -100);
  EXPECT_EQ(w.alpha, -110);
  EXPECT_EQ(w.beta, -30);
  // A fail high mirrors it; beyond 700 the side opens completely.
  AspirationWindow h{10, 24, 7};
  widenAfterFail(h, 40);
  EXPECT_EQ(h.alpha, 17);
  EXPECT_EQ(h.beta, 47);
  widenAfterFail(h, 800);
  EXPECT_EQ(h.beta, NoScore);
  AspirationWindow m{-31990, -31976, 7};
  widenAfterFail(m, -32000);
  EXPECT_EQ(m.alpha, -NoScore);
}

TEST(Aspiration, HelpersShiftTheirWindows) {
  const AspirationWindow main = firstWindow(30, 0, 4);
  EXPECT_EQ(main.alpha, 23);
  EXPECT_EQ(main.beta, 37);
  // Thread 2 centres one lower and closes its upper side just past the
  // score; thread 3 centres one higher and opens its lower side there.
  const AspirationWindow two = firstWindow(30, 2, 4);
  EXPECT_EQ(two.alpha, 22);
  EXPECT_EQ(two.beta, 31);
  const AspirationWindow three = firstWindow(30, 3, 4);
  EXPECT_EQ(three.alpha, 29);
  EXPECT_EQ(three.beta, 38);
  // Mate scores keep the window inside the score range.
  EXPECT_EQ(firstWindow(31998, 0, 1).beta, NoScore);
}

}  // namespace
