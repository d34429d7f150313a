// Probes against the WDL and DTZ values of an independent prober, on the
// real table files: the shared set and the small copy kept with the tests.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "tb/probe.h"

namespace {

struct ProbeLine {
  std::string fen;
  int wdl, dtz;
};

std::vector<ProbeLine> readProbeLines() {
  std::vector<ProbeLine> lines;
  std::ifstream in(std::string(ORVANE_SHARED) + "/testdata/syzygy-probes.txt");
  std::string line;
  while (std::getline(in, line)) {
    size_t a = line.find(" ; wdl "), b = line.find(" ; dtz ");
    if (a == std::string::npos || b == std::string::npos) continue;
    lines.push_back({line.substr(0, a), std::stoi(line.substr(a + 7)), std::stoi(line.substr(b + 7))});
  }
  return lines;
}

TEST(TbProbe, EveryLineOfTheSharedProbeFile) {
  std::vector<ProbeLine> lines = readProbeLines();
  if (lines.empty()) GTEST_SKIP() << "no ../shared/testdata/syzygy-probes.txt";
  initBoardTables();
  tbInit(std::string(ORVANE_SHARED) + "/syzygy");
  if (maxMen < 5) GTEST_SKIP() << "no ../shared/syzygy tables";
  int wrongWdl = 0, wrongDtz = 0;
  for (const ProbeLine& l : lines) {
    Position pos = fenPosition(l.fen);
    int success = 0;
    int wdl = probeWdl(pos, &success);
    EXPECT_NE(success, 0) << l.fen;
    if (wdl != l.wdl && ++wrongWdl < 20) ADD_FAILURE() << l.fen << ": wdl " << wdl << ", expected " << l.wdl;
    int dtz = probeDtz(pos, &success);
    EXPECT_NE(success, 0) << l.fen;
    if (dtz != l.dtz && ++wrongDtz < 20) ADD_FAILURE() << l.fen << ": dtz " << dtz << ", expected " << l.dtz;
  }
  EXPECT_EQ(wrongWdl, 0);
  EXPECT_EQ(wrongDtz, 0);
  tbInit("");
}

}  // namespace
