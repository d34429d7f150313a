// Helpers shared by the board tests: table set-up, FEN set-up that fails the
// test on refusal, move lookup by text and the perft data files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/movetext.h"
#include "board/position.h"
#include "board/settings.h"

inline void initBoardTables() {
  static bool done = false;
  if (done) return;
  hasPopcnt = cpuHasPopcnt();
  initBitboards();
  initZobrist();
  done = true;
}

inline Position fenPosition(const std::string& fen) {
  initBoardTables();
  Position pos;
  std::string error;
  EXPECT_TRUE(setPosition(pos, fen.c_str(), &error)) << fen << ": " << error;
  return pos;
}

inline Square sq(const char* name) { return makeSquare(name[0] - 'a', name[1] - '1'); }

// The generated move whose text (in the current castling notation) is text, or 0.
inline Move findMove(const Position& pos, const std::string& text) {
  int list[MaxMoves];
  int n = generateAll(pos, list);
  for (int i = 0; i < n; i++)
    if (moveToText(entryMove(list[i])) == text) return entryMove(list[i]);
  return 0;
}

// Plays a legal move given as text; fails the test if it is not legal.
inline Position play(const Position& pos, const std::string& text) {
  Move m = findMove(pos, text);
  EXPECT_NE(m, 0) << "no move " << text;
  Position child;
  EXPECT_TRUE(makeMove(pos, child, m)) << "illegal " << text;
  child.inCheck = kingAttacked(child, child.sideToMove());
  child.previous = nullptr;
  return child;
}

inline std::vector<Move> legalMoves(const Position& pos) {
  int list[MaxMoves];
  int n = generateAll(pos, list);
  std::vector<Move> moves;
  Position child;
  for (int i = 0; i < n; i++)
    if (makeMove(pos, child, entryMove(list[i]))) moves.push_back(entryMove(list[i]));
  return moves;
}

struct PerftLine {
  std::string fen;
  std::vector<std::pair<int, uint64_t>> counts;  // (depth, leaves)
};

// Fails the calling test when the file is missing or holds no position, so
// that no loop over it can pass by running zero times.
inline std::vector<PerftLine> readPerftFile(const std::string& name) {
  std::vector<PerftLine> lines;
  std::ifstream in(std::string(ORVANE_TEST_DATA) + "/" + name);
  EXPECT_TRUE(in.is_open()) << "cannot read " << ORVANE_TEST_DATA << "/" << name;
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty()) continue;
    PerftLine line;
    std::stringstream ss(text);
    std::string part;
    std::getline(ss, line.fen, ';');
    while (std::getline(ss, part, ';')) {
      std::stringstream ps(part);
      std::string d;
      uint64_t n;
      if (ps >> d >> n) line.counts.push_back({std::stoi(d.substr(1)), n});
    }
    lines.push_back(line);
  }
  EXPECT_GT(lines.size(), 10u) << "too few positions in " << name;
  return lines;
}

// Keeps settings::chess960 at a value for the lifetime of the guard.
struct Chess960Guard {
  int saved;
  explicit Chess960Guard(int value) : saved(settings::chess960) { settings::chess960 = value; }
  ~Chess960Guard() { settings::chess960 = saved; }
};
