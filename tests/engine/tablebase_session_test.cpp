// Tablebases end to end, with the tables kept with the tests: the engine
// process with "SyzygyPath" set answers a won endgame with a winning move
// and the tablebase score, obeys "searchmoves" outside the tablebase
// choice, probes nothing when "Use Syzygy" is off or the move must be
// played at once, and plays on with the win/draw/loss tables when a
// distance-to-zero table turns out damaged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "../tb/tb_test_util.h"
#include "engine_process.h"
#include "tb/probe.h"

namespace {

const char* const KqkWhite = "8/8/8/4k3/8/8/2QK4/8 w - - 0 1";

std::string tableDirectory() { return std::string(ORVANE_TEST_DATA) + "/syzygy"; }

// Win/draw/loss for the mover after the move text, probed in this process.
int wdlAfter(const std::string& fen, const std::string& moveText, int* success) {
  const Position root = fenPosition(fen);
  const Position child = play(root, moveText);
  return -probeWdl(child, success);
}

class TablebaseSession : public ::testing::Test {
 protected:
  void SetUp() override {
    initBoardTables();
    captureOutput([] { tbInit(tableDirectory()); });
    int success = 0;
    probeWdl(fenPosition(KqkWhite), &success);
    ASSERT_TRUE(success) << "no usable Syzygy tables in " << tableDirectory();
    engine.send("setoption name SyzygyPath value " + tableDirectory());
  }
  void TearDown() override {
    tbInit("");
    engine.send("quit");
    EXPECT_EQ(engine.waitExit(), 0);
  }

  // Sends "go", collects the lines up to "bestmove" and returns the move.
  std::string go(const std::string& command) {
    engine.send(command);
    info.clear();
    lines.clear();
    std::string best;
    for (;;) {
      auto line = engine.readLine(60000);
      if (!line) break;
      lines.push_back(*line);
      if (line->rfind("bestmove ", 0) == 0) {
        best = line->substr(9, line->find(' ', 9) - 9);
        break;
      }
      if (line->find(" pv ") != std::string::npos) info.push_back(*line);
    }
    return best;
  }

  EngineProcess engine;
  std::vector<std::string> info;   // the PV lines of the last search
  std::vector<std::string> lines;  // every line the last search printed
};

int countContaining(const std::vector<std::string>& lines, const std::string& word) {
  int n = 0;
  for (const std::string& line : lines) n += line.find(word) != std::string::npos;
  return n;
}

long tbhitsOf(const std::string& line) {
  const size_t at = line.find(" tbhits ");
  return at == std::string::npos ? -1 : std::stol(line.substr(at + 8));
}

std::string scoreOf(const std::string& line) {
  const size_t at = line.find(" score ");
  if (at == std::string::npos) return "";
  const size_t end = line.find(' ', line.find(' ', at + 7) + 1);
  return line.substr(at + 7, end - at - 7);
}

TEST_F(TablebaseSession, WonEndgameAnswersWinningMoveWithTablebaseScore) {
  engine.send("position fen " + std::string(KqkWhite));
  const std::string best = go("go depth 8");
  int success = 0;
  EXPECT_EQ(wdlAfter(KqkWhite, best, &success), 2) << best;
  EXPECT_TRUE(success);
  ASSERT_FALSE(info.empty());
  for (const std::string& line : info) {
    EXPECT_GT(tbhitsOf(line), 0) << line;
    const std::string score = scoreOf(line);
    // The tablebase win, or a real mate once the search finds one.
    EXPECT_TRUE(score == "mate 1000" || (score.rfind("mate ", 0) == 0 && std::stoi(score.substr(5)) > 0)) << line;
  }
}

TEST_F(TablebaseSession, SearchmovesOutsideTheTablebaseChoiceAreStillObeyed) {
  // Qe4+ gives the queen away: the tables reject it, the user asked for it.
  int success = 0;
  ASSERT_EQ(wdlAfter(KqkWhite, "c2e4", &success), 0);
  engine.send("position fen " + std::string(KqkWhite));
  EXPECT_EQ(go("go depth 6 searchmoves c2e4"), "c2e4");
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(scoreOf(info.back()).rfind("cp ", 0), 0u) << info.back();
}

TEST_F(TablebaseSession, UseSyzygyOffOrAShortTargetProbesNothing) {
  engine.send("position fen " + std::string(KqkWhite));
  // 0.1 seconds leave no time for the tables.
  go("go movetime 100");
  ASSERT_FALSE(info.empty());
  for (const std::string& line : info) EXPECT_EQ(tbhitsOf(line), 0) << line;

  engine.send("setoption name Use Syzygy value false");
  go("go depth 6");
  ASSERT_FALSE(info.empty());
  for (const std::string& line : info) {
    EXPECT_EQ(tbhitsOf(line), 0) << line;
    EXPECT_EQ(line.find("mate 1000"), std::string::npos) << line;
  }
}

// The data area of KQvK.rtbz is zeroed: the root's DTZ probe finds the
// damage, the engine reports it once (not again in the next search), ranks
// the root by win/draw/loss instead and plays a winning move.
TEST_F(TablebaseSession, DamagedDistanceTableFallsBackToWinDrawLoss) {
  ScratchDir dir;
  for (const auto& f : std::filesystem::directory_iterator(tableDirectory()))
    dir.copy(f.path().string(), f.path().filename().string());
  std::string bytes;
  {
    std::ifstream in(dir.file("KQvK.rtbz"), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const size_t area = dtzDataArea(bytes, 3);
  ASSERT_GT(area, 100u);
  ASSERT_LT(area, bytes.size() / 2);
  std::fill(bytes.begin() + (long)area, bytes.end(), '\0');
  std::ofstream(dir.file("KQvK.rtbz"), std::ios::binary | std::ios::trunc).write(bytes.data(), (long)bytes.size());

  engine.send("setoption name SyzygyPath value " + dir.path);
  const auto found = engine.sync();
  ASSERT_TRUE(found);
  EXPECT_EQ(countContaining(*found, "Corrupted"), 0);
  int reports = 0;
  for (int search = 0; search < 2; search++) {
    engine.send("position fen " + std::string(KqkWhite));
    const std::string best = go("go depth 6");
    int success = 0;
    EXPECT_EQ(wdlAfter(KqkWhite, best, &success), 2) << best;
    EXPECT_TRUE(success);
    ASSERT_FALSE(info.empty());
    EXPECT_GT(tbhitsOf(info.back()), 0) << info.back();
    // The root ranked by the tables shows their win, not a searched score.
    EXPECT_EQ(scoreOf(info.back()), "mate 1000") << info.back();
    reports += countContaining(lines, "Corrupted table");
    if (search == 0) {
      ASSERT_EQ(reports, 1);
      EXPECT_NE(lines[0].find("info string Corrupted table "), std::string::npos) << lines[0];
      EXPECT_NE(lines[0].find("KQvK.rtbz"), std::string::npos) << lines[0];
    }
  }
  EXPECT_EQ(reports, 1);
}

}  // namespace
