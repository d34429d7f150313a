// Whole-evaluation invariants over many positions: colour symmetry and the
// agreement of the two bit-counting builds.
#include <fstream>
#include <vector>

#include "board/movegen.h"
#include "eval_fixture.h"

using namespace evalfixture;

namespace {

std::vector<std::string> perftFens() {
  std::vector<std::string> fens;
  std::string path = std::string(ORVANE_TEST_DATA) + "/perft.epd";
  std::ifstream in(path);
  EXPECT_TRUE(in.is_open()) << "cannot read " << path;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) fens.push_back(line.substr(0, line.find(" ;")));
  EXPECT_GT(fens.size(), 10u) << "too few positions in " << path;
  return fens;
}

// Positions reached by random legal play from every perft position
// (deterministic generator), the starting positions included.
std::vector<std::string> variedFens(int pliesPerGame) {
  std::vector<std::string> out;
  uint64_t seed = 0x1234567887654321ull;
  auto next = [&] {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    return seed;
  };
  for (const std::string& fen : perftFens()) {
    Position pos;
    if (!setPosition(pos, fen.c_str())) continue;
    out.push_back(positionToFen(pos));
    for (int game = 0; game < 3; game++) {
      Position cur = pos;
      for (int ply = 0; ply < pliesPerGame; ply++) {
        int list[MaxMoves];
        int n = generateAll(cur, list);
        std::vector<Position> children;
        for (int i = 0; i < n; i++) {
          Position child;
          if (makeMove(cur, child, entryMove(list[i]))) children.push_back(child);
        }
        if (children.empty()) break;
        cur = children[next() % children.size()];
        out.push_back(positionToFen(cur));
      }
    }
  }
  return out;
}

}  // namespace

TEST(EvalSymmetry, MirroredPositionsScoreTheSame) {
  TestCaches tc;
  std::vector<std::string> fens = variedFens(25);
  ASSERT_GT(fens.size(), 3000u);
  int nonZero = 0;
  for (const std::string& fen : fens) {
    Position pos = fromFen(fen, tc.caches);
    Position mirror = fromFen(mirrorFen(fen), tc.caches);
    int a = evaluate(pos, -Wide, Wide);
    int b = evaluate(mirror, -Wide, Wide);
    ASSERT_EQ(a, b) << fen << "  vs  " << mirrorFen(fen);
    EXPECT_EQ(pos.lastPositional, -mirror.lastPositional) << fen;
    nonZero += a != 0;
  }
  EXPECT_GT(nonZero, (int)fens.size() / 2);
}

TEST(EvalSymmetry, BothBuildsAgree) {
  if (!cpuHasPopcnt()) GTEST_SKIP() << "no population-count instruction";
  TestCaches soft, hard;
  for (const std::string& fen : variedFens(12)) {
    Position a = fromFen(fen, soft.caches);
    Position b = fromFen(fen, hard.caches);
    ASSERT_EQ(evaluateSoft(a, -Wide, Wide), evaluateHard(b, -Wide, Wide)) << fen;
    EXPECT_EQ(a.lastPositional, b.lastPositional) << fen;
  }
}

TEST(EvalSymmetry, TraceEndsWithTheFullScore) {
  TestCaches tc;
  for (const std::string& fen : perftFens()) {
    Position pos = fromFen(fen, tc.caches);
    pos.lastPositional = 123456;  // a stale estimate must not matter
    std::string text = evalTrace(pos);
    int full = evaluate(pos, -Wide, Wide);
    std::string expected = "Evaluation: " + std::to_string(full) + "\n";
    ASSERT_GE(text.size(), expected.size());
    EXPECT_EQ(text.substr(text.size() - expected.size()), expected) << fen << "\n" << text;
  }
}
