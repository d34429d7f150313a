// How the dialogue ends: at the end of input a perft still prints its
// total, and after "quit" the lines that came before it are carried out
// (a "go" among them is not started) before the process ends.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine_process.h"

namespace {

// Every line the engine writes from now until its output ends.
std::vector<std::string> restOfOutput(EngineProcess& engine) {
  std::vector<std::string> lines;
  while (auto line = engine.readLine(20000)) lines.push_back(*line);
  return lines;
}

// Lines other than search reports ("info" lines that are not "info string").
std::vector<std::string> withoutReports(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  for (const std::string& line : lines)
    if (line.rfind("info ", 0) != 0 || line.rfind("info string ", 0) == 0) kept.push_back(line);
  return kept;
}

TEST(QuitSession, EndOfInputLetsAPerftFinish) {
  EngineProcess engine;
  engine.send("go perft 5");
  engine.closeInput();
  const std::vector<std::string> lines = restOfOutput(engine);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Nodes searched: 4865609");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

// A search runs; the save and the quit arrive together.  The search stops
// without an answer, the save is made in full, and the process ends.
TEST(QuitSession, LinesBeforeQuitAreCarriedOut) {
  const std::string file = "/tmp/orvane-quit-" + std::to_string(getpid()) + ".hash";
  std::filesystem::remove(file);
  EngineProcess engine;
  engine.send("setoption name Hash value 4");
  ASSERT_TRUE(engine.sync(20000).has_value());
  engine.send("go infinite");
  std::optional<std::string> report;
  while ((report = engine.readLine(20000)) && report->rfind("info depth", 0) != 0) {
  }
  ASSERT_TRUE(report.has_value()) << "the search did not start";
  engine.write("setoption name Hash File Name value " + file + "\nsetoption name Save Hash to File\nquit\n");
  EXPECT_EQ(engine.waitExit(10000), 0);
  EXPECT_EQ(withoutReports(restOfOutput(engine)),
            (std::vector<std::string>{"info string Saving Hash", "info string Hash Saved"}));
  std::error_code missing;
  EXPECT_EQ(std::filesystem::file_size(file, missing), 4u << 20) << "the save before quit was not made";
  std::filesystem::remove(file, missing);
}

// A long count runs; a search, a short count, "isready", the quit (as the
// input thread reads it, and after a blank, as only the handler reads it)
// and a line after it arrive together.  The quit ends the count, neither
// "go" starts, "isready" is answered and the line after the quit is not
// carried out.
TEST(QuitSession, QueuedGoBeforeQuitIsNotStarted) {
  for (const std::string quit : {"quit", " quit"}) {
    EngineProcess engine;
    ASSERT_TRUE(engine.sync(20000).has_value());
    engine.send("go perft 9");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    engine.write("go depth 1\ngo perft 2\nisready\n" + quit + "\nd\n");
    EXPECT_EQ(engine.waitExit(10000), 0) << '"' << quit << '"';
    EXPECT_EQ(restOfOutput(engine), (std::vector<std::string>{"info string perft stopped", "readyok"}))
        << '"' << quit << '"';
  }
}

}  // namespace
