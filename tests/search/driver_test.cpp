// The driver's stop rules and answers, run in-process on small positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board/bitboard.h"
#include "board/movetext.h"
#include "board/position.h"
#include "board/settings.h"
#include "eval/evaluate.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/level.h"
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

// Playing levels ("UCI_LimitStrength", "UCI_Elo"), searched in-process.
class Level : public Driver {
 protected:
  void TearDown() override {
    settings::limitStrength = 0;
    settings::uciElo = LevelDefaultElo;
    nodeLimit = NoNodeLimit;
  }
  // A search from empty tables, so two runs can be compared node for node.
  std::string freshAnswer(const char* fen, int depth, double target = NoTimeLimit, bool emptyCaches = false) {
    ttClearSilently();
    for (auto& c : searchThreads[0]->history.v)
      for (auto& t : c)
        for (int& h : t) h = 5000;
    if (emptyCaches) allocateEvalCaches(threadCaches[0], builtTableMemory, threadCount);
    return answer(fen, depth, "", target);
  }
  // The move of a "bestmove" line.
  static std::string moveOf(const std::string& best) { return best.substr(9, best.find(' ', 9) - 9); }
  // Whether the move is one of the root's legal moves and was searched to an
  // exact score (one of the level's candidate lines).
  static bool isSearchedCandidate(const std::string& text) {
    const SearchThread& main = *searchThreads[0];
    for (int i = 0; main.rootMoves[i].move; i++) {
      if (moveToText(main.rootMoves[i].move) != text) continue;
      LevelCandidate line[1];
      return rootCandidates(main.rootMoves[i].move, line, 1) == 1;
    }
    return false;
  }
};

// Several moves of nearly equal worth for White.
const char* const QuietMiddlegame = "r1bq1rk1/ppp2ppp/2np1n2/2b1p3/2B1P3/2NP1N2/PPP2PPP/R1BQ1RK1 w - - 0 7";

TEST_F(Level, OffTheEloChangesNothing) {
  settings::limitStrength = 0;
  settings::uciElo = 800;
  const std::string low = freshAnswer(QuietMiddlegame, 7, NoTimeLimit, true);
  const uint64_t lowNodes = totalNodes();
  EXPECT_EQ(output.find("multipv"), std::string::npos) << output;
  settings::uciElo = 2850;
  EXPECT_EQ(freshAnswer(QuietMiddlegame, 7, NoTimeLimit, true), low);
  EXPECT_EQ(totalNodes(), lowNodes);
  // On, the same search is cut to the level's budget.
  settings::limitStrength = 1;
  settings::uciElo = 1400;
  freshAnswer(QuietMiddlegame, 7);
  EXPECT_LT(totalNodes(), lowNodes);
}

TEST_F(Level, NodeBudgetIsKeptAndGoNodesStillBinds) {
  settings::limitStrength = 1;
  for (int elo : {800, 1400, 1800}) {
    settings::uciElo = elo;
    const LevelPlan plan = levelPlanFor(elo);
    EXPECT_NE(moveOf(freshAnswer(QuietMiddlegame, 99)), "0000");
    EXPECT_LE(totalNodes(), plan.nodeBudget + 200) << elo;
    EXPECT_GE(totalNodes(), plan.nodeBudget) << elo;
  }
  // Budgets shrink with the level.
  EXPECT_LT(levelPlanFor(1000).nodeBudget, levelPlanFor(1200).nodeBudget);
  EXPECT_LT(levelPlanFor(2600).nodeBudget, levelPlanFor(2850).nodeBudget);
  EXPECT_EQ(levelPlanFor(100).nodeBudget, levelPlanFor(800).nodeBudget);
  settings::uciElo = 2850;
  nodeLimit = 1000;
  freshAnswer(QuietMiddlegame, 99);
  EXPECT_LE(totalNodes(), 1200u);
}

TEST_F(Level, PlaysSearchedLinesThatDifferFromGameToGameButRepeatWithASeed) {
  settings::limitStrength = 1;
  settings::uciElo = 800;
  std::vector<std::string> first, second;
  for (auto* played : {&first, &second}) {
    seedLevelRandom(12345);
    for (int game = 0; game < 30; game++) {
      const std::string move = moveOf(freshAnswer(QuietMiddlegame, 99));
      EXPECT_TRUE(isSearchedCandidate(move)) << move;
      played->push_back(move);
    }
  }
  EXPECT_EQ(first, second);
  std::sort(first.begin(), first.end());
  EXPECT_GE(std::unique(first.begin(), first.end()) - first.begin(), 2) << "always the same move";
}

TEST_F(Level, SeesMatesInOneAndFreeQueensFrom1400) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"6k1/5ppp/8/8/8/8/5PPP/R5K1 w - - 0 1", "a1a8"},                                  // back rank
      {"r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4", "h5f7"},  // f7
      {"k7/8/1K6/8/8/8/7Q/8 w - - 0 1", "h2h8"},
      {"4k3/8/8/3q4/8/8/3R4/4K3 w - - 0 1", "d2d5"},           // a queen hangs
      {"r3k3/8/8/8/3q4/8/4N3/4K3 w - - 0 1", "e2d4"},
      {"3rk3/8/8/8/3Q4/8/8/4K3 b - - 0 1", "d8d4"},
  };
  settings::limitStrength = 1;
  seedLevelRandom(7);
  for (int elo : {1400, 1401, 2000}) {
    settings::uciElo = elo;
    for (const auto& [fen, move] : cases)
      for (int game = 0; game < 12; game++) EXPECT_EQ(moveOf(freshAnswer(fen, 99)), move) << fen << " at " << elo;
  }
}

TEST(LevelChoice, DrawsOnlyLinesWithinTheLossTheLevelTolerates) {
  const LevelPlan plan = levelPlanFor(1000);
  const LevelCandidate lines[4] = {{1, 50, 0}, {2, 50 - plan.maxLoss, 0}, {3, 49 - plan.maxLoss, 0}, {4, -900, 0}};
  seedLevelRandom(99);
  int drawn[4] = {};
  for (int i = 0; i < 2000; i++) drawn[chooseLevelCandidate(lines, 4, plan)]++;
  EXPECT_GT(drawn[0], drawn[1]);
  EXPECT_GT(drawn[1], 0);
  EXPECT_EQ(drawn[2] + drawn[3], 0);
  // Higher levels stray less, and never from a mate.
  const LevelPlan strong = levelPlanFor(2600);
  EXPECT_LT(strong.temperature, plan.temperature);
  EXPECT_LT(strong.maxLoss, plan.maxLoss);
  const LevelCandidate mate[2] = {{1, MateScore - 1, 0}, {2, MateScore - 3, 0}};
  for (int i = 0; i < 200; i++) EXPECT_EQ(chooseLevelCandidate(mate, 2, plan), 0);
}

// At the third iteration the clock is put past the hard deadline.
void passTheHardDeadlineAtIterationThree() {
  if (lastIteration >= 3) setDeadlines(now() - 10.0, 1.0, 2.0);
}

TEST_F(Level, NeverThinksPastTheFullStrengthDeadlines) {
  settings::limitStrength = 1;
  settings::uciElo = 2850;  // a budget far beyond 50 ms
  freshAnswer(QuietMiddlegame, 99, 0.05);
  const double levelHard = hardDeadline - searchStart;
  settings::limitStrength = 0;
  freshAnswer(QuietMiddlegame, 99, 0.05);
  EXPECT_DOUBLE_EQ(levelHard, hardDeadline - searchStart);
  // A level that weighs several lines ends its deepening at half the time
  // it is given, where a doubt may keep full strength going for twice that.
  settings::limitStrength = 1;
  settings::uciElo = 2200;
  freshAnswer(QuietMiddlegame, 99, 0.05);
  EXPECT_LE(softDeadline - searchStart, 0.5 * 0.05 + 1e-9);

  // A level's search stops at the hard deadline at once, every level alike.
  auto* const savedEmpty = commandQueueIsEmpty;
  auto* const savedPoller = commandPoller;
  commandQueueIsEmpty = queueNeverEmpty;
  commandPoller = passTheHardDeadlineAtIterationThree;
  settings::limitStrength = 1;
  for (int elo : {1800, 2600, 2850}) {
    settings::uciElo = elo;
    nodeLimit = 3000000;  // bounds the search should the deadline be missed
    freshAnswer(QuietMiddlegame, 99, 5.0);
    EXPECT_EQ(lastIteration, 3) << elo;
    EXPECT_EQ(threadSignals[0].stop.load(), 1) << elo;
  }
  commandQueueIsEmpty = savedEmpty;
  commandPoller = savedPoller;
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
