// Time allocation and deadlines against hand-computed values, and the
// clock poll's stop decisions.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "../board/board_test_util.h"
#include "board/position.h"
#include "board/settings.h"
#include "engine/go.h"
#include "engine/uci.h"
#include "eval/evaluate.h"
#include "search/flags.h"
#include "search/search.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "tt/tt.h"

namespace {

// Restores the globals the allocation reads and writes.
class TimeManagement : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::overheadMs = 30;
    settings::timeUsage = 0;
    ponderCounter = 0;
    moveTime = 0;
    nodeLimit = NoNodeLimit;
    hardRatio = 500;
  }
  void TearDown() override { SetUp(); }
};

TEST_F(TimeManagement, SuddenDeathWithoutIncrementAtMoveOne) {
  // Divisor 48 - 16/30 = 47.4667; 60 / 47.4667 = 1.26404 -> 1.264 - 0.035.
  const TimeBudget b = allocateSuddenDeath(60.0, 0.0, 1);
  EXPECT_NEAR(b.target, 1.229, 1e-9);
  EXPECT_NEAR(b.maximum, 54.0, 1e-9);
  EXPECT_EQ(hardRatio, 600);
  setDeadlines(100.0, b.target, b.maximum);
  EXPECT_NEAR(hardDeadline - 100.0, 7.374, 1e-6);
  EXPECT_NEAR(extendedDeadline - 100.0, 3.687, 1e-6);
  EXPECT_NEAR(softDeadline - 100.0, 0.92175, 1e-6);
  EXPECT_NEAR(mateDeadline - 100.0, 0.092175, 1e-6);
}

TEST_F(TimeManagement, SuddenDeathWithIncrement) {
  // Divisor 30.4; 59 / 30.4 + 1.3 = 3.24079 -> 3.240 - 0.035.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 1.0, 1).target, 3.205, 1e-9);
  // From move 30 on the divisor is 18: 59 / 18 + 1.3 = 4.57778 -> 4.577 - 0.035.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 1.0, 30).target, 4.542, 1e-9);
  // Move 29 still uses the rising divisor 30 + 12 * 29 / 30 = 41.6.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 1.0, 29).target, 2.683, 1e-9);
}

TEST_F(TimeManagement, SuddenDeathLateWithoutIncrementAndTimeUsage) {
  // Move 30 without increment: divisor 32; 60 / 32 = 1.875 - 0.035.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 0.0, 30).target, 1.840, 1e-9);
  // Move 29 still uses the falling divisor 48 - 16 * 29 / 30 = 32.5333.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 0.0, 29).target, 1.809, 1e-9);
  // "Time Usage" 9 lowers the divisor by 9: 60 / 38.4667 = 1.55979.
  settings::timeUsage = 9;
  EXPECT_NEAR(allocateSuddenDeath(60.0, 0.0, 1).target, 1.524, 1e-9);
  // And from move 30 on: 60 / 23 = 2.6087.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 0.0, 30).target, 2.573, 1e-9);
  // With an increment it only counts from move 30: divisor 18 - 9 = 9.
  EXPECT_NEAR(allocateSuddenDeath(60.0, 1.0, 30).target, 7.820, 1e-9);
}

TEST_F(TimeManagement, SuddenDeathPonderBonusAndOverhead) {
  ponderCounter = 1;  // 1.26404 * 1.3 = 1.64326 -> 1.643 - 0.035
  EXPECT_NEAR(allocateSuddenDeath(60.0, 0.0, 1).target, 1.608, 1e-9);
  ponderCounter = 0;
  settings::overheadMs = 100;  // 1.264 - 0.105
  EXPECT_NEAR(allocateSuddenDeath(60.0, 0.0, 1).target, 1.159, 1e-9);
}

TEST_F(TimeManagement, SuddenDeathCapsAndFloor) {
  // A large increment is capped at a third of the clock: 1 / 3.3 = 0.30303.
  EXPECT_NEAR(allocateSuddenDeath(1.0, 1.0, 1).target, 0.303 - 0.035, 1e-9);
  // A nearly empty clock still gets the 4 ms floor, and never a negative time.
  EXPECT_NEAR(allocateSuddenDeath(0.010, 0.0, 1).target, 0.004, 1e-12);
  EXPECT_NEAR(allocateSuddenDeath(0.0, 0.0, 80).target, 0.004, 1e-12);
  EXPECT_NEAR(allocateSuddenDeath(0.0, 0.0, 80).maximum, 0.0, 1e-12);
}

TEST_F(TimeManagement, MovesToGo) {
  // base 60 / 22 = 2.72727; * 2^(0.5^3.75) = 2.87146; hard 5 * alloc.
  const TimeBudget b = allocateMovesToGo(60.0, 20);
  EXPECT_NEAR(b.target, 2.83846, 1e-5);
  EXPECT_EQ(b.maximum, NoTimeLimit);
  EXPECT_EQ(hardRatio, 500);
  setDeadlines(0.0, b.target, b.maximum);
  EXPECT_NEAR(hardDeadline, 5.0 * b.target, 1e-9);
  // Five times the allocation is a ratio of exactly 500, however the
  // division rounds (16 moves with 60 s gave 499); with 8 moves half the
  // clock is the smaller limit, 30 / 6.00995 = 499.17 %.
  allocateMovesToGo(60.0, 16);
  EXPECT_EQ(hardRatio, 500);
  allocateMovesToGo(60.0, 8);
  EXPECT_EQ(hardRatio, 499);
  // Above 40 moves the time is twice the even share: 2 * 60 / 52.
  EXPECT_NEAR(allocateMovesToGo(60.0, 50).target, 120.0 / 52 - 0.033, 1e-9);
  // The ponder bonus is 1.33 here, also for the "go" after the ponder search.
  ponderCounter = 1;
  EXPECT_NEAR(allocateMovesToGo(60.0, 20).target, 2.87146 * 1.33 - 0.033, 1e-4);
  // An empty clock still gets the 5 ms floor.
  ponderCounter = 0;
  EXPECT_NEAR(allocateMovesToGo(0.0, 5).target, 0.005, 1e-12);
}

TEST_F(TimeManagement, LastMoveOfPeriodMayUseNearlyAllTime) {
  const TimeBudget b = allocateMovesToGo(60.0, 1);
  setDeadlines(0.0, b.target, b.maximum);
  EXPECT_GT(hardDeadline, 0.85 * 60.0);
  EXPECT_LE(hardDeadline, 0.9 * 60.0);
  // Half the clock at most otherwise.
  const TimeBudget b2 = allocateMovesToGo(10.0, 2);
  setDeadlines(0.0, b2.target, b2.maximum);
  EXPECT_LE(hardDeadline, 5.0 + 1e-9);
}

TEST_F(TimeManagement, FixedMoveTimeDeadlines) {
  moveTime = 2.5;
  hardRatio = 600;
  setDeadlines(10.0, 2.5, NoTimeLimit);
  EXPECT_DOUBLE_EQ(hardDeadline, 12.5);
  EXPECT_DOUBLE_EQ(softDeadline, 12.5);
  EXPECT_DOUBLE_EQ(mateDeadline, 12.5);
  EXPECT_DOUBLE_EQ(extendedDeadline, 17.5);
}

TEST_F(TimeManagement, HardDeadlineNeverPastTheMaximum) {
  hardRatio = 600;
  settings::overheadMs = 0;
  setDeadlines(0.0, 1.0, 2.0);
  EXPECT_DOUBLE_EQ(hardDeadline, 2.0);
}

TEST_F(TimeManagement, HardDeadlineKeepsTheOverheadClearOfTheMaximum) {
  // 225 ms left, 100 ms increment, late in the game: target 68 - 35 ms, the
  // six-fold hard limit reaches 0.9 T; the overhead stays in reserve.
  const TimeBudget b = allocateSuddenDeath(0.225, 0.1, 46);
  EXPECT_NEAR(b.target, 0.033, 1e-9);
  EXPECT_NEAR(b.maximum, 0.2025, 1e-9);
  setDeadlines(0.0, b.target, b.maximum);
  EXPECT_NEAR(hardDeadline, 0.2025 - 0.030, 1e-9);
  // A long clock is far from the cap: the hard limit stays 6 x target.
  const TimeBudget big = allocateSuddenDeath(60.0, 0.0, 1);
  setDeadlines(0.0, big.target, big.maximum);
  EXPECT_NEAR(hardDeadline, 7.374, 1e-6);
}

// "go" hands the allocation the clock and increment of the side to move,
// the move number (the position's plies, two a move, counted from the
// set-up position as "position ... moves" adds them) and the moves-to-go
// count when there is one.  The budget is read back from the deadlines of
// the search it starts: the extended deadline lies three targets after the
// start, the mate deadline 0.075 of one.  The positions are stalemates, so
// each search ends at once.
TEST_F(TimeManagement, GoFeedsTheSideToMovesClockToTheAllocation) {
  initBoardTables();
  buildSpecialMaterialTable();
  initTables();
  if (!tt.buckets) ttAllocate(16);
  settings::threads = 1;
  buildPool();
  auto target = [](const char* fen, int ply, const std::string& go) {
    currentPosition() = fenPosition(fen);
    currentPosition().ply = ply;
    testing::internal::CaptureStdout();
    goCommand(splitTokens(go));
    testing::internal::GetCapturedStdout();
    return (extendedDeadline - mateDeadline) / 2.925;
  };
  const char* white = "8/8/8/8/8/1k6/2q5/K7 w - - 0 1";
  const char* black = "7k/5Q2/6K1/8/8/8/8/8 b - - 0 1";
  const std::string clocks = "go wtime 60000 btime 30000 winc 1000 binc 500";
  // Both at move 11.
  EXPECT_NEAR(target(white, 20, clocks), allocateSuddenDeath(60.0, 1.0, 11).target, 1e-6);
  EXPECT_NEAR(target(black, 21, clocks), allocateSuddenDeath(30.0, 0.5, 11).target, 1e-6);
  EXPECT_NEAR(target(black, 21, clocks + " movestogo 1"), allocateMovesToGo(30.0, 1).target, 1e-6);
  EXPECT_NEAR(target(white, 20, clocks + " movestogo 12"), allocateMovesToGo(60.0, 12).target, 1e-6);
}

// The clock counts whole milliseconds in seconds: a pause of 50 ms reads
// as 50 ms or a little more.  (That it ignores steps of the wall clock is
// tested by ClockStepSession.)
TEST_F(TimeManagement, ClockCountsSecondsInMilliseconds) {
  const double t = now();
  EXPECT_NEAR(t * 1000.0, std::round(t * 1000.0), 1e-3);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const double elapsed = now() - t;
  EXPECT_GE(elapsed, 0.049);
  EXPECT_LT(elapsed, 5.0);
}

// The poll: deadlines stop thread 0 unless it ponders; the node limit
// counts all threads.
TEST_F(TimeManagement, CheckTimeStopsAtHardDeadlineUnlessPondering) {
  threadSignals[0].stop = 0;
  setDeadlines(now() - 10.0, 1.0, NoTimeLimit);  // every deadline has passed
  pondering = 1;
  EXPECT_EQ(checkTime(0), 0);
  EXPECT_EQ(threadSignals[0].stop.load(), 0);
  pondering = 0;
  EXPECT_EQ(checkTime(0), 1);
  EXPECT_EQ(threadSignals[0].stop.load(), 1);
  threadSignals[0].stop = 0;
}

TEST_F(TimeManagement, CheckTimeKeepsGoingBeforeTheDeadlines) {
  threadSignals[0].stop = 0;
  setDeadlines(now(), 100.0, NoTimeLimit);
  EXPECT_EQ(checkTime(0), 0);
  EXPECT_EQ(threadSignals[0].stop.load(), 0);
}

TEST_F(TimeManagement, CheckTimeExtendedDeadlineOnlyCutsTheFirstRootMove) {
  threadSignals[0].stop = 0;
  hardRatio = 600;
  setDeadlines(now() - 4.0, 1.0, NoTimeLimit);  // past 3 x target, before 6 x
  rootMovesSearched = 2;
  EXPECT_EQ(checkTime(0), 0);
  rootMovesSearched = 1;
  rootBestScore = -20;  // the first move came back not winning: look further
  EXPECT_EQ(checkTime(0), 0);
  rootBestScore = -NoScore;  // still on it
  EXPECT_EQ(checkTime(0), 1);
  threadSignals[0].stop = 0;
  rootBestScore = 35;
  EXPECT_EQ(checkTime(0), 1);
  threadSignals[0].stop = 0;
  rootMovesSearched = 0;
}

TEST_F(TimeManagement, CheckTimeEnforcesTheNodeLimit) {
  threadSignals[0].stop = 0;
  setDeadlines(now(), 100.0, NoTimeLimit);
  threadSignals[0].nodes = 5000;
  nodeLimit = 6000;
  EXPECT_EQ(checkTime(0), 0);
  threadSignals[0].nodes = 6000;
  EXPECT_EQ(checkTime(0), 1);
  threadSignals[0].stop = 0;
  threadSignals[0].nodes = 0;
}

TEST_F(TimeManagement, CheckTimeStopsOnQuit) {
  threadSignals[0].stop = 0;
  setDeadlines(now(), 100.0, NoTimeLimit);
  quitRequested = 1;
  EXPECT_EQ(checkTime(0), 1);
  quitRequested = 0;
  threadSignals[0].stop = 0;
}

}  // namespace
