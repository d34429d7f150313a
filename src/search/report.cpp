#include "search/report.h"

#include <cstdio>
#include <cstdlib>

#include "board/movetext.h"
#include "board/output.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/threads.h"
#include "search/timeman.h"
#include "tt/tt.h"

namespace {

// Score text limit: a non-mate score never prints beyond +-250 pawns.
constexpr int MaxCentipawns = 25000;
// Tablebase root scores at or above this print as a distant mate.
constexpr int TbWinBound = 31700;

// "mate n" counts moves, not plies: positive when the side to move mates.
int mateMoves(int v) {
  return v > 0 ? (MateScore - v) / 2 + 1 : -((MateScore - 1 - std::abs(v)) / 2) - 1;
}

// "time <ms> nodes <n>" and the speed text pieces shared by the reports.
struct Stats {
  long long ms;
  unsigned long long nodes;
  unsigned long long nps;
};
// The time shows the whole milliseconds really elapsed (0 in the first
// millisecond); the speed divides by at least one millisecond.
Stats currentStats() {
  const double raw = now() - searchStart;
  const double e = elapsedSeconds();
  const uint64_t n = totalNodes();
  return {raw > 0 ? (long long)(raw * 1000) : 0, (unsigned long long)n, (unsigned long long)((double)n / e)};
}

}  // namespace

ScoreText scoreToText(int score, int bound) {
  const bool tbRoot = tbRootScore != NoTbRootScore;
  const int v = tbRoot && std::abs(score) < MateBound ? tbRootScore : score;
  char buf[48];
  if (std::abs(v) >= MateBound)
    std::snprintf(buf, sizeof buf, "mate %d", mateMoves(v));
  else if (!tbRoot || std::abs(v) < TbWinBound)
    std::snprintf(buf, sizeof buf, "cp %d", v < -MaxCentipawns ? -MaxCentipawns : v > MaxCentipawns ? MaxCentipawns : v);
  else
    std::snprintf(buf, sizeof buf, "mate %d", v > 0 ? 1000 : -1000);
  std::string text = buf;
  if (!tbRoot) {
    if (bound == 1) text += " lowerbound";
    if (bound == 2) text += " upperbound";
  }
  return {text, v};
}

double elapsedSeconds() {
  const double e = now() - searchStart;
  return e < 0.001 ? 0.001 : e;
}

void reportLine(int depth, int score, const Move* pv, int bound) {
  if (depth < 1) return;
  const Stats s = currentStats();
  const ScoreText st = scoreToText(score, bound);
  const std::string pvText = pvToText(pv);
  char head[200];
  std::snprintf(head, sizeof head, "info depth %d time %lld nodes %llu score %s nps %llu hashfull %d tbhits %u pv ",
                depth, s.ms, s.nodes, st.text.c_str(), s.nps, ttHashfull(), (unsigned)tbHits.load(std::memory_order_relaxed));
  writeText(head + pvText + "\n");

  // The log keeps a compact form: depth, seconds, shown score, bound mark
  // and the start of the PV, cut back to whole moves.
  std::string shortPv = pvText.substr(0, 31);
  const size_t blank = shortPv.rfind(' ');
  if (blank != std::string::npos) shortPv.resize(blank);
  static const char* const boundMark[3] = {"--", "FH", "FL"};
  char logText[256];
  std::snprintf(logText, sizeof logText, "info: %3d %8.2f %8d %s  %s\n", depth, elapsedSeconds(), st.shown,
                boundMark[bound >= 0 && bound <= 2 ? bound : 0], shortPv.c_str());
  logMessage(logText);
}

void reportCurrentMove(Move move, int number) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "info currmove %s currmovenumber %d\n", moveToText(move).c_str(), number);
  writeText(buf);
}

void reportMultiPVLine(int k, int depth, int score, const Move* pv) {
  const Stats s = currentStats();
  char head[200];
  std::snprintf(head, sizeof head, "info multipv %d depth %d time %lld nodes %llu score %s nps %llu tbhits %u pv ", k, depth,
                s.ms, s.nodes, scoreToText(score, 0).text.c_str(), s.nps, (unsigned)tbHits.load(std::memory_order_relaxed));
  writeText(head + pvToText(pv) + "\n");
}
