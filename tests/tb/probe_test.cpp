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
// once, each through the kept probe lines from its own starting point (so
// different tables are first loaded by different threads), and every
// thread's win/draw/loss answers must be the independent prober's.  (DTZ
// is probed by the main thread only, with the helpers idle.)
TEST(TbProbe, ConcurrentFirstProbesGiveTheIndependentAnswers) {
  const std::vector<ProbeLine> lines = readProbeLines(keptProbeFile());
  ASSERT_EQ(lines.size(), 568u);
  initBoardTables();
  std::vector<Position> positions;
  for (const ProbeLine& l : lines) positions.push_back(fenPosition(l.fen));
  captureOutput([] { tbInit(localTables()); });
  ASSERT_EQ(maxMen, 4) << "no kept tables in " << localTables();
  constexpr int Threads = 4;
  std::vector<int> wrong(Threads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < Threads; ++t)
    threads.emplace_back([&, t] {
      for (size_t k = 0; k < lines.size(); ++k) {
        const size_t i = (k + t * lines.size() / Threads) % lines.size();
        int success = 0;
        const int wdl = probeWdl(positions[i], &success);
        wrong[t] += !(success && wdl == lines[i].wdl);
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, std::vector<int>(Threads, 0));
  tbInit("");
}

}  // namespace
