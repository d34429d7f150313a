// The "go" command: limit parsing, and end-to-end searches through pipes
// (node limit, infinite and ponder searches, quit during a search,
// repeatable node counts, the benchmark signature).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/go.h"
#include "engine_process.h"

namespace {

std::vector<std::string> words(const std::string& line) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < line.size()) {
    const size_t j = line.find(' ', i);
    const size_t end = j == std::string::npos ? line.size() : j;
    if (end > i) out.push_back(line.substr(i, end - i));
    i = end + 1;
  }
  return out;
}

TEST(GoParsing, ClockValuesAreMillisecondsAndSearchmovesCollectsMoves) {
  const GoLimits g = parseGoLimits(words("go wtime 60000 btime 30000 winc 1000 binc 500 searchmoves e2e4 d2d4 movestogo 20"));
  EXPECT_DOUBLE_EQ(g.wtime, 60.0);
  EXPECT_DOUBLE_EQ(g.btime, 30.0);
  EXPECT_DOUBLE_EQ(g.winc, 1.0);
  EXPECT_DOUBLE_EQ(g.binc, 0.5);
  EXPECT_EQ(g.searchMoves, "e2e4 d2d4 ");
  EXPECT_EQ(g.movesToGo, 20);
}

TEST(GoParsing, UnknownWordEndsParsing) {
  const GoLimits g = parseGoLimits(words("go foo wtime 1000"));
  EXPECT_DOUBLE_EQ(g.wtime, 0.0);
  EXPECT_EQ(g.depth, 0);
  EXPECT_FALSE(g.infinite);
  // "mate" is not a limit of this engine either.
  EXPECT_EQ(parseGoLimits(words("go depth 4 mate 3 movetime 100")).moveTime, 0.0);
  EXPECT_EQ(parseGoLimits(words("go depth 4 mate 3")).depth, 4);
}

TEST(GoParsing, NegativeClockCountsAsZeroAndNegativeCountsAsAbsent) {
  const GoLimits g = parseGoLimits(words("go wtime -120 btime -5 winc -10 movestogo -3"));
  EXPECT_DOUBLE_EQ(g.wtime, 0.0);
  EXPECT_DOUBLE_EQ(g.btime, 0.0);
  EXPECT_DOUBLE_EQ(g.winc, 0.0);
  EXPECT_EQ(g.movesToGo, 0);
  EXPECT_EQ(parseGoLimits(words("go movetime -100")).moveTime, 0.0);
  EXPECT_EQ(parseGoLimits(words("go nodes -100")).nodes, ~0ull);
  EXPECT_EQ(parseGoLimits(words("go nodes -1 wtime 900")).nodes, ~0ull);
  EXPECT_EQ(parseGoLimits(words("go nodes 18446744073709551000")).nodes, 18446744073709551000ull);
}

TEST(GoParsing, FlagsNodesAndDepth) {
  const GoLimits g = parseGoLimits(words("go depth 5 infinite ponder nodes 20000 movetime 1500"));
  EXPECT_EQ(g.depth, 5);
  EXPECT_TRUE(g.infinite);
  EXPECT_TRUE(g.ponder);
  EXPECT_EQ(g.nodes, 20000u);
  EXPECT_DOUBLE_EQ(g.moveTime, 1.5);
  EXPECT_EQ(parseGoLimits(words("go")).nodes, ~0ull);
}

TEST(GoParsing, KeywordEndsSearchmovesAndMissingValueIsHarmless) {
  const GoLimits g = parseGoLimits(words("go searchmoves e2e4 infinite g1f3"));
  EXPECT_EQ(g.searchMoves, "e2e4 ");
  EXPECT_TRUE(g.infinite);
  const GoLimits h = parseGoLimits(words("go wtime"));
  EXPECT_DOUBLE_EQ(h.wtime, 0.0);
  EXPECT_EQ(parseGoLimits(words("go depth")).depth, 0);
}

// ---- End-to-end through pipes ----

TEST(GoSession, NodeLimitIsHonoured) {
  EngineProcess engine;
  engine.send("uci");
  ASSERT_TRUE(engine.readUntil("uciok"));
  engine.send("position startpos moves e2e4 e7e5");
  engine.send("go nodes 20000");
  std::string info;
  auto best = readBestMove(engine, 20000, &info);
  ASSERT_TRUE(best);
  const uint64_t nodes = nodesOf(info);
  EXPECT_GE(nodes, 20000u);
  EXPECT_LT(nodes, 40000u);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

TEST(GoSession, InfiniteAnswersOnlyAfterStop) {
  EngineProcess engine;
  engine.send("position fen 7k/8/6K1/8/8/8/8/R7 w - - 0 1");  // mate in one
  engine.send("go infinite");
  // Nothing but "info" lines may come before "stop", even after a mate.
  for (;;) {
    auto line = engine.readLine(1500);
    if (!line) break;
    ASSERT_NE(line->rfind("bestmove", 0), 0u) << *line;
  }
  engine.send("stop");
  auto best = readBestMove(engine, 2000);
  ASSERT_TRUE(best);
  EXPECT_EQ(*best, "bestmove a1a8 ponder 0000");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

TEST(GoSession, PonderWaitsForPonderhit) {
  EngineProcess engine;
  engine.send("position startpos");
  engine.send("go ponder wtime 100 btime 100");
  // Far past its 100 ms clock the ponder search still has not answered.
  while (auto line = engine.readLine(700)) ASSERT_NE(line->rfind("bestmove", 0), 0u) << *line;
  engine.send("isready");
  auto early = engine.readUntil("readyok", 2000);
  ASSERT_TRUE(early);
  for (const std::string& line : *early) EXPECT_NE(line.rfind("bestmove", 0), 0u) << line;
  engine.send("ponderhit");
  auto best = readBestMove(engine, 2000);
  ASSERT_TRUE(best);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

// A level's small node budget ends the ponder search's deepening, not the
// ponder: the answer still waits for "ponderhit".
TEST(GoSession, PonderAtALevelWaitsForPonderhit) {
  EngineProcess engine;
  engine.send("setoption name UCI_LimitStrength value true");
  engine.send("setoption name UCI_Elo value 1000");
  engine.send("position startpos moves e2e4");
  engine.send("go ponder wtime 60000 btime 60000");
  while (auto line = engine.readLine(700)) ASSERT_NE(line->rfind("bestmove", 0), 0u) << *line;
  engine.send("ponderhit");
  auto best = readBestMove(engine, 2000);
  ASSERT_TRUE(best);
  EXPECT_NE(*best, "bestmove 0000");
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

TEST(GoSession, QuitDuringSearchEndsWithoutAnswer) {
  EngineProcess engine;
  engine.send("go infinite");
  ASSERT_TRUE(engine.readLine(2000));
  engine.send("quit");
  std::vector<std::string> rest;
  while (auto line = engine.readLine(2000)) rest.push_back(*line);
  for (const std::string& line : rest) EXPECT_NE(line.rfind("bestmove", 0), 0u) << line;
  EXPECT_EQ(engine.waitExit(), 0);
}

// Generous timeouts: the test catches a search that never polls its input,
// not the response time itself (slow sanitizer builds on a busy machine).
TEST(GoSession, StopAndIsreadyAnsweredDuringSearch) {
  EngineProcess engine;
  engine.send("go infinite");
  ASSERT_TRUE(engine.readLine(2000));
  engine.send("isready");
  EXPECT_TRUE(engine.readUntil("readyok", 5000));
  engine.send("stop");
  auto best = readBestMove(engine, 5000);
  ASSERT_TRUE(best);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

TEST(GoSession, AnswersWithoutLegalMoveAndWithTinyClock) {
  EngineProcess engine;
  engine.send("position fen 7k/5Q2/6K1/8/8/8/8/8 b - - 0 1");  // stalemate
  engine.send("go depth 3");
  auto best = readBestMove(engine, 5000);
  ASSERT_TRUE(best);
  EXPECT_EQ(*best, "bestmove 0000");
  engine.send("position startpos");
  engine.send("go wtime -120 btime 1000");
  best = readBestMove(engine, 2000);
  ASSERT_TRUE(best);
  engine.send("go nodes 1");  // stopped at once, still a legal answer
  best = readBestMove(engine, 2000);
  ASSERT_TRUE(best);
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

TEST(GoSession, SearchmovesRestrictsTheAnswer) {
  EngineProcess engine;
  engine.send("position startpos");
  engine.send("go depth 4 searchmoves a2a3 h2h3");
  auto best = readBestMove(engine, 10000);
  ASSERT_TRUE(best);
  EXPECT_TRUE(best->rfind("bestmove a2a3", 0) == 0 || best->rfind("bestmove h2h3", 0) == 0) << *best;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
}

// A fixed-depth search is the same work in every fresh process.
TEST(GoSession, FixedDepthNodeCountsRepeat) {
  auto run = [] {
    EngineProcess engine;
    engine.send("position fen r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3");
    engine.send("go depth 7");
    std::string info;
    auto best = readBestMove(engine, 30000, &info);
    engine.send("quit");
    engine.waitExit();
    return best ? *best + " " + std::to_string(nodesOf(info)) : std::string("none");
  };
  const std::string first = run();
  EXPECT_NE(first, "none");
  EXPECT_EQ(first, run());
}

// The benchmark's node total is the engine's signature: the same in every
// run.  A second repetition starts with an empty transposition table but
// keeps the history and evaluation caches of the first, so it searches
// other trees (the same in every run too).
TEST(Bench, NodeTotalRepeats) {
  auto run = [](const std::vector<std::string>& args) {
    EngineProcess engine(args);
    std::vector<std::string> totals;
    while (auto line = engine.readLine(60000))
      if (line->find(" nds ") != std::string::npos) totals.push_back(line->substr(0, line->find(" nds ")));
    EXPECT_EQ(engine.waitExit(), 0);
    return totals;
  };
  const std::vector<std::string> first = run({"bench", "1", "5", "2"});
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(run({"bench", "1", "5"}), std::vector<std::string>{first[0]});
  EXPECT_NE(first[0], first[1]);
  EXPECT_EQ(first, run({"bench", "1", "5", "2"}));
}

}  // namespace
