#include "search/level.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "board/settings.h"

namespace settings {
int limitStrength = 0;
int uciElo = LevelDefaultElo;
}  // namespace settings

namespace {

// The calibrated anchors (bench/levels.py measured them against Debian's
// stockfish at its own UCI_Elo, and each low level against the next one up;
// at a blitz clock the engine itself is weaker than stockfish's 2600, so 2600
// is only kept a little below 2850); levels in between are interpolated, the
// node budget geometrically.
struct LevelAnchor {
  int elo;
  double nodes;
  int temperature;
  int maxLoss;
  int lines;  // root lines kept exact: the candidates
};
constexpr LevelAnchor levelAnchors[] = {
    // elo, nodes, temperature, maxLoss, lines
    {800, 150, 400, 1200, 4},    {1000, 1000, 150, 500, 4},  {1200, 2500, 95, 400, 4},
    {1400, 6000, 60, 250, 4},    {1800, 30000, 35, 150, 4},  {2200, 3000000, 4, 30, 4},
    {2600, 3000000, 3, 12, 2},   {2850, 50000000, 1, 0, 1},
};
constexpr int anchorCount = sizeof levelAnchors / sizeof levelAnchors[0];

int levelLines = 0;  // extra root lines of the running search (0 = none)

uint64_t randomState = 0;

// A 64-bit seed from the system's entropy and the clock, so two games at
// one level differ.
uint64_t systemSeed() {
  std::random_device device;
  const uint64_t entropy = ((uint64_t)device() << 32) ^ device();
  return entropy ^ (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count();
}

// splitmix64: a small, fast generator with a full 64-bit period.
uint64_t nextRandom() {
  if (randomState == 0) randomState = systemSeed() | 1;
  uint64_t z = (randomState += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A uniform number in [0, 1).
double nextUnit() { return (double)(nextRandom() >> 11) * (1.0 / 9007199254740992.0); }

}  // namespace

LevelPlan levelPlanFor(int elo) {
  elo = std::clamp(elo, LevelMinElo, LevelMaxElo);
  int i = 0;
  while (i + 2 < anchorCount && elo > levelAnchors[i + 1].elo) i++;
  const LevelAnchor& lo = levelAnchors[i];
  const LevelAnchor& hi = levelAnchors[i + 1];
  const double f = (double)(elo - lo.elo) / (hi.elo - lo.elo);
  LevelPlan plan;
  plan.active = true;
  plan.nodeBudget = (uint64_t)std::lround(lo.nodes * std::pow(hi.nodes / lo.nodes, f));
  plan.temperature = (int)std::lround(lo.temperature + f * (hi.temperature - lo.temperature));
  plan.maxLoss = (int)std::lround(lo.maxLoss + f * (hi.maxLoss - lo.maxLoss));
  // A level that tolerates no loss has nothing to choose from.
  plan.lines = plan.maxLoss > 0 ? (int)std::lround(lo.lines + f * (hi.lines - lo.lines)) : 1;
  return plan;
}

LevelPlan currentLevelPlan() {
  if (!settings::limitStrength) return LevelPlan{false, 0, 0, 0, 0};
  return levelPlanFor(settings::uciElo);
}

// Each candidate within maxLoss of the best is drawn with the weight
// e^(-loss / temperature); the best one always has weight 1.  A mate the
// search found is always played, the quickest one: any level sees it.
int chooseLevelCandidate(const LevelCandidate* candidates, int count, const LevelPlan& plan) {
  if (count <= 1 || !plan.active || candidates[0].score >= MateBound) return 0;
  constexpr int MaxCandidates = 16;
  double weight[MaxCandidates];
  double total = 0.0;
  const int n = std::min(count, MaxCandidates);
  const double temperature = std::max(plan.temperature, 1);
  for (int i = 0; i < n; i++) {
    const int loss = std::max(0, candidates[0].score - candidates[i].score);
    weight[i] = loss > plan.maxLoss ? 0.0 : std::exp(-loss / temperature);
    total += weight[i];
  }
  double pick = nextUnit() * total;
  for (int i = 0; i < n; i++) {
    if (pick < weight[i]) return i;
    pick -= weight[i];
  }
  return 0;
}

void seedLevelRandom(uint64_t seed) { randomState = seed | 1; }

int rootLineCount() { return std::max(settings::multiPV, levelLines); }
void setLevelLines(int lines) { levelLines = lines; }
