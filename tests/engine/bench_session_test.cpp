// The benchmark as testing frameworks run it: the two closing lines they
// read (the signature and the speed), and the same signature from several
// benchmark processes started at once.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

// Every line a benchmark process prints, after checking that it ended well.
std::vector<std::string> finish(EngineProcess& engine) {
  std::vector<std::string> lines;
  while (auto line = engine.readLine(60000)) lines.push_back(*line);
  EXPECT_EQ(engine.waitExit(), 0);
  return lines;
}

std::vector<std::string> runBench(const std::vector<std::string>& args) {
  EngineProcess engine(args);
  return finish(engine);
}

// The number the closing line "<label>: <number>" carries, or -1 when the
// line is not of that form.
long long closingNumber(const std::string& line, const std::string& label) {
  std::smatch match;
  if (!std::regex_match(line, match, std::regex(label + ": ([0-9]+)"))) return -1;
  return std::stoll(match[1]);
}

// The signature: the number of the second-to-last line, "Nodes searched".
long long signatureOf(const std::vector<std::string>& lines) {
  return lines.size() < 2 ? -1 : closingNumber(lines[lines.size() - 2], "Nodes searched");
}

// Reads the output as a testing framework does: from the last line up, the
// first "N nodes" or "Nodes searched: N" and the first "N nps" or
// "Nodes/second: N", letter case ignored.  -1 for a number not found.
std::pair<long long, long long> frameworkReading(const std::vector<std::string>& lines) {
  const std::regex nodes("([0-9]+) nodes\\b|nodes searched\\s*:\\s*([0-9]+)", std::regex::icase);
  const std::regex speed("([0-9]+) nps\\b|nodes/second\\s*:\\s*([0-9]+)", std::regex::icase);
  auto number = [](const std::smatch& m) { return std::stoll(m[1].matched ? m[1].str() : m[2].str()); };
  long long nodeCount = -1, nps = -1;
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
    std::smatch m;
    if (nodeCount < 0 && std::regex_search(*line, m, nodes)) nodeCount = number(m);
    if (nps < 0 && std::regex_search(*line, m, speed)) nps = number(m);
  }
  return {nodeCount, nps};
}

// A depth line of the benchmark: its node total and cumulative seconds.
struct DepthLine {
  long long nodes;
  double seconds;
};
std::vector<DepthLine> depthLines(const std::vector<std::string>& lines) {
  const std::regex depthLine(" *[0-9]+ \\.{50} +([0-9]+) nds +([0-9.]+) sec.*");
  std::vector<DepthLine> depths;
  for (const std::string& line : lines) {
    std::smatch m;
    if (std::regex_match(line, m, depthLine)) depths.push_back({std::stoll(m[1]), std::stod(m[2])});
  }
  return depths;
}

// Two repetitions of depths 5 to 7: the signature is the first
// repetition's depth-7 total, and the speed is every node over the sum of
// the repetitions' times, as far as their two printed decimals tell.
TEST(BenchSession, ClosingLinesCarrySignatureAndSpeed) {
  const std::vector<std::string> lines = runBench({"bench", "1", "7", "2"});
  const std::vector<DepthLine> depths = depthLines(lines);
  ASSERT_EQ(depths.size(), 6u);
  ASSERT_GE(lines.size(), 2u);
  const long long signature = closingNumber(lines[lines.size() - 2], "Nodes searched");
  const long long nps = closingNumber(lines.back(), "Nodes/second");
  EXPECT_EQ(signature, depths[2].nodes) << lines[lines.size() - 2];
  EXPECT_NE(signature, depths[5].nodes);
  ASSERT_GE(nps, 0) << lines.back();

  long long allNodes = 0;
  for (const DepthLine& d : depths) allNodes += d.nodes;
  const double seconds = depths[2].seconds + depths[5].seconds, rounding = 2 * 0.005;
  EXPECT_GE(nps, (long long)(allNodes / (seconds + rounding)) - 1);
  if (seconds > rounding) {
    EXPECT_LE(nps, (long long)(allNodes / (seconds - rounding)) + 1);
  }
  EXPECT_EQ(frameworkReading(lines), std::make_pair(signature, nps));
}

// Frameworks run one benchmark per core at once and compare the
// signatures: two and four processes started together print the one a
// process alone prints.
TEST(BenchSession, ConcurrentRunsPrintOneSignature) {
  const std::vector<std::string> args = {"bench", "1", "7"};
  const long long alone = signatureOf(runBench(args));
  ASSERT_GT(alone, 0);
  for (int count : {2, 4}) {
    std::vector<std::unique_ptr<EngineProcess>> engines;
    for (int i = 0; i < count; i++) engines.push_back(std::make_unique<EngineProcess>(args));
    std::vector<long long> signatures;
    for (auto& engine : engines) signatures.push_back(signatureOf(finish(*engine)));
    EXPECT_EQ(signatures, std::vector<long long>(count, alone)) << count << " processes at once";
  }
}

}  // namespace
