// The "go" command: parses the limits and runs the search to "bestmove".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The limits of one "go" line.  Clock values are seconds; a negative clock
// value counts as 0, and a negative moves-to-go or node count as absent.
struct GoLimits {
  double wtime = 0, btime = 0, winc = 0, binc = 0;
  int movesToGo = 0;
  double moveTime = 0;
  int depth = 0;
  uint64_t nodes = ~0ull;  // ~0 = no node limit
  bool infinite = false;
  bool ponder = false;
  std::string searchMoves;  // each listed move followed by one blank
};

// Reads the tokens after "go" (tokens[0]); parsing stops at the first
// unknown word outside the searchmoves list.
GoLimits parseGoLimits(const std::vector<std::string>& tokens);

// tokens[0] is "go".  Runs on the main thread inside the command handler.
void goCommand(const std::vector<std::string>& tokens);
