// Helpers shared by the evaluation term tests: one-time table set-up, FEN
// set-up with a readable failure, colour-flipped mirrors and a pool of
// varied positions (fixed FENs plus seeded random games).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/position.h"
#include "eval/tables.h"

namespace evaltest {

inline void initOnce() {
  static bool done = false;
  if (done) return;
  initBitboards();
  initZobrist();
  buildEvalTables();
  done = true;
}

inline Position fromFen(const std::string& fen) {
  initOnce();
  Position pos{};
  std::string error;
  EXPECT_TRUE(setPosition(pos, fen.c_str(), &error)) << fen << ": " << error;
  pos.pawnTable = nullptr;
  pos.evalCache = nullptr;
  pos.materialTable = nullptr;
  return pos;
}

// The same position with colours exchanged: ranks mirrored, cases swapped,
// the other side to move.
inline std::string mirrorFen(const std::string& fen) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start <= fen.size()) {
    size_t end = fen.find(' ', start);
    if (end == std::string::npos) end = fen.size();
    if (end > start) fields.push_back(fen.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> ranks;
  start = 0;
  const std::string& board = fields[0];
  while (true) {
    size_t end = board.find('/', start);
    ranks.push_back(board.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string out;
  for (int i = (int)ranks.size() - 1; i >= 0; i--) {
    for (char ch : ranks[i]) out += std::isupper((unsigned char)ch) ? (char)std::tolower(ch) : (char)std::toupper(ch);
    if (i) out += '/';
  }
  out += fields.size() > 1 && fields[1] == "b" ? " w " : " b ";
  std::string castle = fields.size() > 2 ? fields[2] : "-";
  if (castle != "-") {
    std::string upper, lower;
    for (char ch : castle)
      if (std::isupper((unsigned char)ch)) lower += (char)std::tolower(ch);
      else upper += (char)std::toupper(ch);
    castle = upper + lower;
  }
  out += castle;
  std::string ep = fields.size() > 3 ? fields[3] : "-";
  if (ep != "-") ep[1] = ep[1] == '3' ? '6' : '3';
  out += " " + ep;
  for (size_t i = 4; i < fields.size(); i++) out += " " + fields[i];
  return out;
}

// A board filled straight from FEN piece placement without any legality
// checks (more than eight pawns, dozens of queens...), white to move, for
// artificial stress positions.  Only the fields the terms read are set.
inline Position rawPosition(const std::string& placement) {
  initOnce();
  Position pos{};
  int rank = 7, file = 0;
  for (char ch : placement) {
    if (ch == '/') { rank--; file = 0; continue; }
    if (ch >= '1' && ch <= '8') { file += ch - '0'; continue; }
    const char* types = " pnbrqk";
    int t = 0;
    for (int i = 1; i <= 6; i++)
      if (types[i] == std::tolower(ch)) t = i;
    int c = std::isupper((unsigned char)ch) ? White : Black;
    Square s = makeSquare(file++, rank);
    pos.pieces[c][t] |= squareBB[s];
    pos.pieces[c][0] |= squareBB[s];
    pos.board[s] = (uint8_t)pieceCode(c, t);
  }
  pos.occupied = pos.pieces[White][0] | pos.pieces[Black][0];
  pos.phase = (int16_t)computePhase(pos);
  return pos;
}

inline Square mirrorSquare(Square s) { return s ^ 56; }

// Varied middle-game and endgame positions.
inline const std::vector<std::string>& fixedFens() {
  static const std::vector<std::string> fens = {
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
      "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4",
      "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
      "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1",
      "r2q1rk1/pP1p2pp/Q4n2/bbp1p3/Np6/1B3NBn/pPPP1PPP/R3K2R b KQ - 0 1",
      "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8",
      "r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10",
      "2kr3r/pp3ppp/2n1b3/2bpP3/8/2P2N2/PP2BPPP/RNB2RK1 b - - 3 13",
      "8/8/4k3/3pP3/3P4/4K3/8/8 w - d6 0 1",
      "8/5pk1/6p1/7p/7P/6P1/5PK1/8 w - - 0 1",
      "4k3/8/8/2PpP3/8/8/8/4K3 w - - 0 1",
      "6k1/5ppp/8/8/8/8/5PPP/6K1 w - - 0 1",
      "r1bq1rk1/ppp2ppp/2np1n2/2b1p3/2B1P3/2NP1N2/PPP2PPP/R1BQ1RK1 w - - 0 7",
      "8/1p3pp1/p1p1k2p/4p3/P3P2P/1PP3P1/5PK1/8 b - - 0 30",
      "3r2k1/5ppp/8/1p1P4/1P6/8/5PPP/3R2K1 w - - 0 1",
      "8/4kp2/6p1/3P4/2P5/1P6/5K2/8 w - - 0 1",
      "r1b2rk1/2q1bppp/p2p1n2/np2p3/3PP3/5N1P/PPBN1PP1/R1BQR1K1 w - - 0 12",
      "2r2rk1/1bqnbppp/p2ppn2/1p6/3NPP2/P1N1B3/1PPQB1PP/2KR3R w - - 0 13",
      "6k1/pp3ppp/4p3/3p4/3P4/2Q1P3/P4PPP/6K1 w - - 0 1",
      "1k6/1pp5/p7/P1P5/1P6/8/6K1/8 w - - 0 1",
      "4r1k1/pp1q1ppp/2n5/3p4/3P1B2/2Q5/PP3PPP/4R1K1 b - - 0 20",
      "8/pp2k3/2p1p3/3pPp2/3P1P2/2P1K3/PP6/8 w - f6 0 1",
      "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",
      "2q3k1/8/8/8/8/8/8/1Q4K1 w - - 0 1",
  };
  return fens;
}

// Fixed positions plus positions reached by seeded random legal games.
inline std::vector<std::string> variedFens(int randomGames = 40) {
  initOnce();
  std::vector<std::string> out = fixedFens();
  std::mt19937 rng(20261207);
  const auto& seeds = fixedFens();
  for (int g = 0; g < randomGames; g++) {
    Position pos = fromFen(seeds[g % seeds.size()]);
    int plies = 4 + (int)(rng() % 60);
    for (int p = 0; p < plies; p++) {
      int list[MaxMoves];
      int n = generateAll(pos, list);
      std::vector<Move> legal;
      for (int i = 0; i < n; i++) {
        Position child;
        if (makeMove(pos, child, entryMove(list[i]))) legal.push_back(entryMove(list[i]));
      }
      if (legal.empty()) break;
      Position child;
      makeMove(pos, child, legal[rng() % legal.size()]);
      child.inCheck = inCheckOf(child, child.sideToMove());
      pos = child;
      if (p % 7 == 3) out.push_back(positionToFen(pos));
    }
    out.push_back(positionToFen(pos));
  }
  return out;
}

}  // namespace evaltest
