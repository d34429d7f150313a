// The "go" command: limits, time allocation and the call of the search.
#include "engine/go.h"

#include <algorithm>
#include <cstdlib>

#include "board/settings.h"
#include "engine/uci.h"
#include "search/driver.h"
#include "search/flags.h"
#include "search/search.h"
#include "search/timeman.h"

namespace {

// The longest searchmoves text kept.
constexpr size_t MaxSearchMovesText = 2047;
// Depth limit of every search without a "depth" (the driver's "unlimited").
constexpr int UnlimitedDepth = 99;

// Milliseconds as seconds; a negative or unreadable value counts as 0.
double clockSeconds(const std::string& text) {
  const long long ms = std::strtoll(text.c_str(), nullptr, 10);
  return ms > 0 ? ms / 1000.0 : 0.0;
}

int intValue(const std::string& text) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  return v > 1000000000LL ? 1000000000 : v < -1000000000LL ? -1000000000 : (int)v;
}

// A node count.  A negative count, read as unsigned, lies beyond any search:
// it means no limit (not a limit of 0, which would stop at once).
uint64_t nodeCount(const std::string& text) {
  if (!text.empty() && text[0] == '-') return NoNodeLimit;
  return std::strtoull(text.c_str(), nullptr, 10);
}

}  // namespace

GoLimits parseGoLimits(const std::vector<std::string>& tokens) {
  GoLimits limits;
  bool listingMoves = false;
  for (size_t i = 1; i < tokens.size(); i++) {
    const std::string& word = tokens[i];
    const bool hasValue = i + 1 < tokens.size();
    const std::string value = hasValue ? tokens[i + 1] : std::string();
    if (word == "infinite") {
      limits.infinite = true;
    } else if (word == "ponder") {
      limits.ponder = true;
    } else if (word == "wtime" || word == "btime" || word == "winc" || word == "binc") {
      const double seconds = clockSeconds(value);
      (word == "wtime" ? limits.wtime : word == "btime" ? limits.btime : word == "winc" ? limits.winc : limits.binc) =
          seconds;
      i += hasValue;
    } else if (word == "movestogo") {
      limits.movesToGo = std::max(0, intValue(value));
      i += hasValue;
    } else if (word == "depth") {
      limits.depth = intValue(value);
      i += hasValue;
    } else if (word == "movetime") {
      limits.moveTime = clockSeconds(value);
      i += hasValue;
    } else if (word == "nodes") {
      limits.nodes = nodeCount(value);
      i += hasValue;
    } else if (word == "searchmoves") {
      listingMoves = true;
      continue;
    } else if (listingMoves) {
      if (limits.searchMoves.size() + word.size() + 1 <= MaxSearchMovesText) limits.searchMoves += word + " ";
      continue;
    } else {
      break;
    }
    listingMoves = false;
  }
  return limits;
}

void goCommand(const std::vector<std::string>& tokens) {
  contempt = settings::drawScore;
  if (searching.load(std::memory_order_relaxed)) return;
  pondering.store(0, std::memory_order_relaxed);
  ponderCounter--;
  const GoLimits limits = parseGoLimits(tokens);
  if (limits.ponder) {
    pondering.store(1, std::memory_order_relaxed);
    ponderCounter = 2;
  }
  moveTime = limits.moveTime;
  nodeLimit = limits.nodes;
  infiniteSearch = limits.infinite;

  Position& root = currentPosition();
  const char* searchMoves = limits.searchMoves.c_str();
  if (limits.depth > 0 || limits.infinite) {
    if (limits.infinite) contempt = 0;
    search(root, limits.infinite ? UnlimitedDepth : limits.depth, searchMoves, NoTimeLimit, NoTimeLimit);
    contempt = settings::drawScore;
  } else if (limits.moveTime > 0) {
    search(root, UnlimitedDepth, searchMoves, limits.moveTime, NoTimeLimit);
  } else if (limits.nodes != NoNodeLimit) {
    search(root, UnlimitedDepth, searchMoves, NoTimeLimit, NoTimeLimit);
  } else {
    const bool black = root.ply & 1;
    const double remaining = black ? limits.btime : limits.wtime;
    const double increment = black ? limits.binc : limits.winc;
    const TimeBudget budget = limits.movesToGo == 0 && limits.depth == 0
                                  ? allocateSuddenDeath(remaining, increment, root.ply / 2 + 1)
                                  : allocateMovesToGo(remaining, limits.movesToGo);
    search(root, UnlimitedDepth, searchMoves, budget.target, budget.maximum);
  }
  infiniteSearch = false;
  nodeLimit = NoNodeLimit;
}
