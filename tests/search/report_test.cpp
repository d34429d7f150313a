// Score texts (mate distances, clamping, tablebase root scores) and the
// exact form of the root search's report lines.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "board/types.h"
#include "search/driver.h"
#include "search/report.h"
#include "search/timeman.h"

namespace {

class ScoreTextTest : public ::testing::Test {
 protected:
  void SetUp() override { tbRootScore = NoTbRootScore; }
  void TearDown() override { tbRootScore = NoTbRootScore; }
};

TEST_F(ScoreTextTest, CentipawnsWithBoundsAndClamp) {
  EXPECT_EQ(scoreToText(0, 0).text, "cp 0");
  EXPECT_EQ(scoreToText(150, 1).text, "cp 150 lowerbound");
  EXPECT_EQ(scoreToText(-37, 2).text, "cp -37 upperbound");
  EXPECT_EQ(scoreToText(-26000, 0).text, "cp -25000");
  EXPECT_EQ(scoreToText(26000, 0).text, "cp 25000");
  EXPECT_EQ(scoreToText(-26000, 0).shown, -26000);
  // Just below the mate range is still a centipawn score.
  EXPECT_EQ(scoreToText(31799, 0).text, "cp 25000");
}

TEST_F(ScoreTextTest, MateDistancesInMoves) {
  EXPECT_EQ(scoreToText(31999, 0).text, "mate 1");
  EXPECT_EQ(scoreToText(31998, 0).text, "mate 2");
  EXPECT_EQ(scoreToText(31997, 0).text, "mate 2");
  EXPECT_EQ(scoreToText(31995, 0).text, "mate 3");
  EXPECT_EQ(scoreToText(31800, 0).text, "mate 101");
  EXPECT_EQ(scoreToText(-32000, 0).text, "mate -1");
  EXPECT_EQ(scoreToText(-31998, 0).text, "mate -1");
  EXPECT_EQ(scoreToText(-31996, 0).text, "mate -2");
  EXPECT_EQ(scoreToText(-31800, 0).text, "mate -100");
  EXPECT_EQ(scoreToText(31999, 1).text, "mate 1 lowerbound");
  EXPECT_EQ(scoreToText(-31998, 2).text, "mate -1 upperbound");
}

TEST_F(ScoreTextTest, TablebaseRootScoreReplacesNonMateScores) {
  tbRootScore = 31799;
  EXPECT_EQ(scoreToText(120, 0).text, "mate 1000");
  EXPECT_EQ(scoreToText(120, 0).shown, 31799);
  EXPECT_EQ(scoreToText(120, 1).text, "mate 1000");  // no bound word
  EXPECT_EQ(scoreToText(31995, 0).text, "mate 3");   // a real mate wins
  EXPECT_EQ(scoreToText(31995, 0).shown, 31995);
  tbRootScore = -31750;
  EXPECT_EQ(scoreToText(-5, 2).text, "mate -1000");
  tbRootScore = 2;
  EXPECT_EQ(scoreToText(-300, 1).text, "cp 2");
  tbRootScore = 31699;
  EXPECT_EQ(scoreToText(0, 0).text, "cp 25000");
}

std::string captured(void (*emit)()) {
  testing::internal::CaptureStdout();
  emit();
  return testing::internal::GetCapturedStdout();
}

TEST(ReportLines, PrincipalVariationLine) {
  tbRootScore = NoTbRootScore;
  searchStart = now();
  const std::string out = captured([] {
    const Move pv[3] = {makeMove16(12, 28, KindDouble), makeMove16(52, 36, KindDouble), 0};
    reportLine(3, 25, pv, 0);
  });
  ASSERT_EQ(out.rfind("info depth 3 time ", 0), 0u) << out;
  EXPECT_NE(out.find(" nodes "), std::string::npos);
  EXPECT_NE(out.find(" score cp 25 nps "), std::string::npos) << out;
  EXPECT_NE(out.find(" hashfull "), std::string::npos);
  EXPECT_NE(out.find(" tbhits "), std::string::npos);
  // The PV text keeps its trailing blank.
  EXPECT_EQ(out.substr(out.size() - 15), " pv e2e4 e7e5 \n") << out;
  // Exactly one line.
  EXPECT_EQ(out.find('\n'), out.size() - 1);
  // Every field in its place.
  EXPECT_TRUE(std::regex_match(
      out, std::regex("info depth 3 time [0-9]+ nodes [0-9]+ score cp 25 nps [0-9]+ hashfull [0-9]+ tbhits [0-9]+ "
                      "pv e2e4 e7e5 \n")))
      << out;
}

TEST(ReportLines, NothingBeforeTheFirstIteration) {
  const std::string out = captured([] {
    const Move pv[1] = {0};
    reportLine(0, 0, pv, 0);
  });
  EXPECT_EQ(out, "");
}

TEST(ReportLines, CurrentMoveAndMultiPV) {
  EXPECT_EQ(captured([] { reportCurrentMove(makeMove16(6, 21), 4); }), "info currmove g1f3 currmovenumber 4\n");
  tbRootScore = NoTbRootScore;
  searchStart = now();
  const std::string out = captured([] {
    const Move pv[2] = {makeMove16(6, 21), 0};
    reportMultiPVLine(2, 7, -31998, pv);
  });
  ASSERT_EQ(out.rfind("info multipv 2 depth 7 time ", 0), 0u) << out;
  EXPECT_NE(out.find(" score mate -1 nps "), std::string::npos) << out;
  EXPECT_NE(out.find(" tbhits "), std::string::npos);
  EXPECT_EQ(out.find(" hashfull "), std::string::npos);  // not part of a MultiPV line
  EXPECT_EQ(out.substr(out.size() - 10), " pv g1f3 \n");
  EXPECT_TRUE(std::regex_match(
      out, std::regex("info multipv 2 depth 7 time [0-9]+ nodes [0-9]+ score mate -1 nps [0-9]+ tbhits [0-9]+ pv g1f3 \n")))
      << out;
}

TEST(ReportLines, ElapsedTimeNeverBelowOneMillisecond) {
  searchStart = now() + 5.0;  // a clock that seems to run backwards
  EXPECT_DOUBLE_EQ(elapsedSeconds(), 0.001);
  // A report in the first millisecond shows "time 0"; its speed is taken
  // over one millisecond.
  const std::string out = captured([] {
    const Move pv[2] = {makeMove16(12, 28, KindDouble), 0};
    reportLine(1, 0, pv, 0);
  });
  EXPECT_EQ(out.rfind("info depth 1 time 0 nodes ", 0), 0u) << out;
  searchStart = now();
}

}  // namespace
