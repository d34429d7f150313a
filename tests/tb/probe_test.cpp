// Probes against the WDL and DTZ values of an independent prober, on the
// real table files: the shared set and the small copy kept with the tests.
#include <algorithm>
#include <thread>

#include "tb_test_util.h"

namespace {

// Probes every line and counts the answers that differ; reports the first few.
int wrongAnswers(const std::vector<ProbeLine>& lines) {
  int wrong = 0;
  for (const ProbeLine& l : lines) {
    Position pos = fenPosition(l.fen);
    int wdlSuccess = 0, dtzSuccess = 0;
    int wdl = probeWdl(pos, &wdlSuccess);
    int dtz = probeDtz(pos, &dtzSuccess);
    if (wdlSuccess && dtzSuccess && wdl == l.wdl && dtz == l.dtz) continue;
    if (++wrong <= 10)
      ADD_FAILURE() << l.fen << ": wdl " << wdl << " (success " << wdlSuccess << "), dtz " << dtz << " (success "
                    << dtzSuccess << "); expected wdl " << l.wdl << ", dtz " << l.dtz;
  }
  return wrong;
}

TEST(TbProbe, EveryLineOfTheSharedProbeFile) {
  const std::vector<ProbeLine> lines = readProbeLines(sharedProbeFile());
  ASSERT_EQ(lines.size(), 2855u);
  initBoardTables();
  captureOutput([] { tbInit(sharedTables()); });
  ASSERT_EQ(maxMen, 5) << "no 5-man tables in " << sharedTables();
  EXPECT_EQ(wrongAnswers(lines), 0);
  tbInit("");
}

// The tables kept with the tests answer their lines of the probe file
// alone; a probe that fails counts as a wrong answer.
TEST(TbProbe, LinesOfTheTablesKeptWithTheTests) {
  const std::vector<ProbeLine> lines = readProbeLines(keptProbeFile());
  ASSERT_EQ(lines.size(), 568u);
  initBoardTables();
  captureOutput([] { tbInit(localTables()); });
  ASSERT_EQ(maxMen, 4) << "no kept tables in " << localTables();
  EXPECT_EQ(wrongAnswers(lines), 0);
  tbInit("");
}

// The probes resolve a king-versus-king position without any table and
// refuse positions with castling rights, which no table covers.
TEST(TbProbe, BareKingsAndCastlingRights) {
  initBoardTables();
  tbInit("");
  int success = 0;
  EXPECT_EQ(probeWdl(fenPosition("8/8/4k3/8/8/8/8/4K3 w - - 0 1"), &success), 0);
  EXPECT_EQ(success, 1);
  captureOutput([] { tbInit(localTables()); });
  Position castle = fenPosition("4k3/8/8/8/8/8/8/4K2R w K - 0 1");
  probeWdl(castle, &success);
  EXPECT_EQ(success, 0);
  probeDtz(castle, &success);
  EXPECT_EQ(success, 0);
  Position plain = fenPosition("4k3/8/8/8/8/8/8/4K2R w - - 0 1");
  EXPECT_EQ(probeWdl(plain, &success), 2);
  EXPECT_EQ(success, 1);
  EXPECT_EQ(materialString(plain, false), "KRvK");
  EXPECT_EQ(materialString(plain, true), "KvKR");
  tbInit("");
}

}  // namespace

namespace {

// Several threads make the first probes of freshly registered tables at
// once: each table is loaded once and every thread gets the same answers.
TEST(TbProbe, ConcurrentFirstProbesAgree) {
  initBoardTables();
  std::vector<Position> positions;
  for (const char* material : {"KPvKP", "KQvKQ", "KRvKR", "KQQvK", "KBvKN"})
    for (const Position& pos : randomPositions(material, 30, 5)) positions.push_back(pos);
  captureOutput([] { tbInit(localTables()); });
  std::vector<std::vector<int>> answers(4);
  std::vector<std::thread> threads;
  for (auto& out : answers)
    threads.emplace_back([&positions, &out] {
      for (const Position& pos : positions) {
        int success = 0;
        int wdl = probeWdl(pos, &success);
        out.push_back(success ? wdl : 99);
      }
    });
  for (std::thread& t : threads) t.join();
  for (const auto& out : answers) EXPECT_EQ(out, answers[0]);
  EXPECT_EQ(std::count(answers[0].begin(), answers[0].end(), 99), 0);
  tbInit("");
}

}  // namespace
