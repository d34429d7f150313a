// End-to-end searches through the engine process: helper threads, clocks
// and fixed times, the draw score option, the "eval" command beside a
// search, and the end of input with work still queued.  The time bounds are
// generous (the machine may be busy): they catch a limit that is ignored or
// a clock read for the wrong side, not slowness.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

bool startsWith(const std::string& line, const std::string& prefix) { return line.rfind(prefix, 0) == 0; }

// Every line the engine prints until it closes its output.
std::vector<std::string> readToEnd(EngineProcess& engine, int timeoutMs) {
  std::vector<std::string> lines;
  while (auto line = engine.readLine(timeoutMs)) lines.push_back(*line);
  return lines;
}

// Sends a "go" line and returns the seconds until its "bestmove" (or -1 when
// none came within timeoutMs); *best receives the line.
double timedGo(EngineProcess& engine, const std::string& go, std::string* best, int timeoutMs = 30000) {
  const auto start = std::chrono::steady_clock::now();
  engine.send(go);
  auto answer = readBestMove(engine, timeoutMs);
  if (!answer) return -1;
  *best = *answer;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The score text ("cp 45", "mate 3") of an info line, empty without one.
std::string scoreOf(const std::string& info) {
  const size_t at = info.find(" score ");
  if (at == std::string::npos) return "";
  const size_t kind = at + 7, value = info.find(' ', kind) + 1;
  return info.substr(kind, info.find(' ', value) - kind);
}

TEST(ThreadSession, HelpersSearchStopAndQuit) {
  EngineProcess engine;
  ASSERT_TRUE(engine.sync(20000));
  engine.send("setoption name Threads value 3");
  auto announced = engine.sync(20000);
  ASSERT_TRUE(announced);
  EXPECT_EQ(*announced, std::vector<std::string>{"info string Threads now set to 3"});

  std::string best;
  engine.send("position startpos moves e2e4 c7c5");
  ASSERT_GT(timedGo(engine, "go depth 8", &best), 0);

  engine.send("go infinite");
  ASSERT_TRUE(engine.readLine(5000));
  engine.send("stop");
  auto stopped = readBestMove(engine, 10000);
  ASSERT_TRUE(stopped);

  // A smaller pool between two searches.
  engine.send("setoption name Threads value 2");
  announced = engine.sync(20000);
  ASSERT_TRUE(announced);
  EXPECT_EQ(*announced, std::vector<std::string>{"info string Threads now set to 2"});
  ASSERT_GT(timedGo(engine, "go depth 6", &best), 0);

  // "quit" while the helpers search: no answer, and every thread is joined.
  engine.send("setoption name Threads value 3");
  engine.send("go infinite");
  ASSERT_TRUE(engine.readUntil("info string Threads now set to 3", 20000));
  ASSERT_TRUE(engine.readLine(5000));
  engine.send("quit");
  for (const std::string& line : readToEnd(engine, 10000)) EXPECT_FALSE(startsWith(line, "bestmove")) << line;
  EXPECT_EQ(engine.waitExit(10000), 0);
}

TEST(ClockSession, FixedTimeAndBlackClocksAreHonoured) {
  EngineProcess engine;
  ASSERT_TRUE(engine.sync(20000));
  std::string best;
  engine.send("position startpos");
  const double fixed = timedGo(engine, "go movetime 500", &best);
  EXPECT_GE(fixed, 0.45);
  EXPECT_LT(fixed, 5.0);

  // Black to move: its own small clock decides (its hard limit is under a
  // second), not White's large one (which would allow some twenty seconds).
  engine.send("position startpos moves e2e4");
  const double black = timedGo(engine, "go wtime 600000 btime 2000 winc 10000 binc 100", &best);
  EXPECT_GT(black, 0);
  EXPECT_LT(black, 2.0);

  // The last move before the time control may use most of the clock, never
  // all of it: with 5 s left the hard limit is 2.7 times a target of 1.63 s,
  // 4.41 s, so an engine that spends the whole 5 s fails.  With thirty moves
  // to go the hard limit is five times a target of 0.76 s.
  const double last = timedGo(engine, "go wtime 600000 btime 5000 movestogo 1", &best);
  EXPECT_GT(last, 0);
  EXPECT_LT(last, 4.8);
  const double many = timedGo(engine, "go wtime 600000 btime 20000 movestogo 30", &best);
  EXPECT_GT(many, 0);
  EXPECT_LT(many, 4.5);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

// White's king can only step between a1 and b1, and the game has already
// been there: the one legal move repeats a position, so the search reports
// the draw score, "Drawscore" scaled by the material on the board (rook 8
// and bishop 3 phase points out of 48: 200 gives 45, -100 gives -22).  An
// infinite search counts a draw as 0 and leaves the option as it was.
TEST(DrawScoreSession, OptionReachesTheSearch) {
  EngineProcess engine;
  ASSERT_TRUE(engine.sync(20000));
  engine.send("position fen 7k/8/8/8/8/4b3/7r/K7 w - - 0 1 moves a1b1 h8g8 b1a1 g8h8");
  // The score of the last report before the answer to `go`.
  auto lastScore = [&](const std::string& go, bool stop) {
    engine.send(go);
    if (stop) engine.send("stop");
    std::vector<std::string> lines;
    auto best = readBestMove(engine, 20000, nullptr, &lines);
    EXPECT_EQ(best.value_or("none"), "bestmove a1b1 ponder 0000");
    std::string score;
    for (const std::string& line : lines)
      if (!scoreOf(line).empty()) score = scoreOf(line);
    return score;
  };
  engine.send("setoption name Drawscore value 200");
  EXPECT_EQ(lastScore("go depth 6", false), "cp 45");
  engine.send("setoption name Drawscore value -100");
  EXPECT_EQ(lastScore("go depth 6", false), "cp -22");
  EXPECT_EQ(lastScore("go infinite", true), "cp 0");
  EXPECT_EQ(lastScore("go depth 6", false), "cp -22");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
}

// The number after " <field> " in an info line, -1 without one.
long long fieldOf(const std::string& info, const std::string& field) {
  const size_t at = info.find(" " + field + " ");
  return at == std::string::npos ? -1 : std::atoll(info.c_str() + at + field.size() + 2);
}

// "eval" sizes caches of its own; the searchers keep indexing theirs with
// their own sizes.  Small caches shared by eight threads once crashed the
// next search, and larger ones silently shrank (changing the node count).
// The eight-thread search must reach its depth with node counts and times
// that only grow, its closing line's time no longer than the answer took,
// within a minute (a sanitizer build on two busy cores included).
TEST(EvalSession, EvalLeavesTheSearchersCachesAlone) {
  {
    EngineProcess engine;
    for (const char* line : {"setoption name Table Memory value 1", "setoption name Threads value 8",
                             "position startpos", "eval"})
      engine.send(line);
    ASSERT_TRUE(engine.sync(20000));
    std::vector<std::string> lines;
    const auto start = std::chrono::steady_clock::now();
    engine.send("go depth 10");
    ASSERT_TRUE(readBestMove(engine, 120000, nullptr, &lines));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0);
    long long deepest = 0, nodes = 0, time = 0;
    for (const std::string& line : lines) {
      if (!startsWith(line, "info ") || fieldOf(line, "nodes") < 0) continue;
      deepest = std::max(deepest, fieldOf(line, "depth"));
      EXPECT_GE(fieldOf(line, "nodes"), nodes) << line;
      EXPECT_GE(fieldOf(line, "time"), time) << line;
      nodes = fieldOf(line, "nodes");
      time = fieldOf(line, "time");
    }
    EXPECT_EQ(deepest, 10);
    ASSERT_GE(lines.size(), 2u);
    const std::string& closing = lines[lines.size() - 2];
    EXPECT_TRUE(startsWith(closing, "info time ")) << closing;
    EXPECT_EQ(fieldOf(closing, "nodes"), nodes);
    EXPECT_GT(nodes, 10000);
    EXPECT_LE(time, seconds * 1000 + 50);
    engine.send("quit");
    EXPECT_EQ(engine.waitExit(10000), 0);
  }
  auto depth11Nodes = [](bool evalFirst) {
    EngineProcess engine;
    engine.send("position startpos");
    if (evalFirst) engine.send("eval");
    engine.send("go depth 11");
    std::string info;
    EXPECT_TRUE(readBestMove(engine, 60000, &info));
    engine.send("quit");
    engine.waitExit(10000);
    return nodesOf(info);
  };
  const uint64_t plain = depth11Nodes(false);
  EXPECT_GT(plain, 0u);
  EXPECT_EQ(depth11Nodes(true), plain);
}

// A script pipes its commands and closes its end: the queued search still
// answers, the lines after it still run, and only then does the process end.
// A search that only "stop" or "ponderhit" could end is stopped and answers.
TEST(EndOfInputSession, QueuedWorkFinishesBeforeTheEnd) {
  {
    EngineProcess engine;
    engine.write("position startpos\ngo depth 5\nisready\n");
    engine.closeInput();
    const std::vector<std::string> lines = readToEnd(engine, 20000);
    int answers = 0, ready = 0;
    for (const std::string& line : lines) {
      answers += startsWith(line, "bestmove ") && line != "bestmove 0000";
      ready += line == "readyok";
    }
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(engine.waitExit(10000), 0);
  }
  {
    EngineProcess engine;
    engine.write("go infinite\nposition startpos moves e2e4\ngo ponder wtime 600000 btime 600000\nd\n");
    engine.closeInput();
    const std::vector<std::string> lines = readToEnd(engine, 20000);
    std::vector<std::string> answers;
    for (const std::string& line : lines)
      if (startsWith(line, "bestmove ") || startsWith(line, "Fen: ")) answers.push_back(line.substr(0, 9));
    EXPECT_EQ(answers, (std::vector<std::string>{"bestmove ", "bestmove ", "Fen: rnbq"}));
    EXPECT_EQ(engine.waitExit(10000), 0);
  }
}

}  // namespace
