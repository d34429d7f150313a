// Helpers shared by the tablebase tests: the shared probe file, the table
// directories, and scratch directories with copies of table files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "tb/probe.h"

struct ProbeLine {
  std::string fen;
  int wdl, dtz;
};

// The lines "FEN ; wdl W ; dtz D" of a probe file.  A file that cannot be
// read is a test failure (the list is then empty).
inline std::vector<ProbeLine> readProbeLines(const std::string& path) {
  std::vector<ProbeLine> lines;
  std::ifstream in(path);
  if (!in) ADD_FAILURE() << "cannot read " << path;
  std::string line;
  while (std::getline(in, line)) {
    size_t a = line.find(" ; wdl "), b = line.find(" ; dtz ");
    if (a == std::string::npos || b == std::string::npos) continue;
    lines.push_back({line.substr(0, a), std::stoi(line.substr(a + 7)), std::stoi(line.substr(b + 7))});
  }
  return lines;
}

// The independent prober's answers: all of them, next to the 3-5 man tables,
// and the lines the tables kept with the tests answer alone (every material
// they reach by captures and promotions is kept).
inline std::string sharedProbeFile() { return std::string(ORVANE_SHARED) + "/testdata/syzygy-probes.txt"; }
inline std::string keptProbeFile() { return std::string(ORVANE_TEST_DATA) + "/syzygy-probes.txt"; }

inline std::string sharedTables() {
  std::string dir = ORVANE_SHARED;
  return dir.append("/syzygy");
}
inline std::string localTables() {
  std::string dir = ORVANE_TEST_DATA;
  return dir.append("/syzygy");
}

// A fresh empty directory, removed with everything in it at the end of the scope.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char name[] = "/tmp/orvane-tb-XXXXXX";
    path = mkdtemp(name);
  }
  ~ScratchDir() { std::filesystem::remove_all(path); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  void copy(const std::string& from, const std::string& name) const {
    std::filesystem::copy_file(from, file(name), std::filesystem::copy_options::overwrite_existing);
  }
};

// Offset of the data area (index table, block sizes, compressed blocks) of
// the bytes of a pawnless one-sided DTZ file with `men` pieces: past the
// magic and flags, the piece order, and the codec header with its symbol
// table and value maps.  0 when the file is too short or holds one value.
inline size_t dtzDataArea(const std::string& bytes, int men) {
  auto u8 = [&](size_t at) { return at < bytes.size() ? (unsigned)(unsigned char)bytes[at] : 0u; };
  size_t at = 5 + 1 + men;
  at += at & 1;
  const size_t h = at;
  if (h + 12 > bytes.size() || (u8(h) & 0x80)) return 0;
  const size_t lengths = u8(h + 8) - u8(h + 9) + 1;
  const size_t symbols = u8(h + 10 + 2 * lengths) | u8(h + 11 + 2 * lengths) << 8;
  at = h + 12 + 2 * lengths + 3 * symbols + (symbols & 1);
  if (u8(h) & 2) {
    for (int map = 0; map < 4; map++) at += 1 + u8(at);
    at += at & 1;
  }
  return at < bytes.size() ? at : 0;
}

// Standard output of fn, as the engine would have printed it.
template <class Fn>
std::string captureOutput(Fn fn) {
  testing::internal::CaptureStdout();
  fn();
  return testing::internal::GetCapturedStdout();
}

// Legal positions with the material of a name such as "KPvKP" (white
// first), pieces on pseudo-random squares of a fixed seed, white and black
// to move in turn.
inline std::vector<Position> randomPositions(const std::string& name, int count, unsigned seed = 1) {
  initBoardTables();
  std::mt19937 rng(seed);
  std::vector<Position> out;
  while ((int)out.size() < count) {
    std::string board(64, '1');  // FEN order, a8 first
    bool black = false;
    for (char c : name) {
      if (c == 'v') {
        black = true;
        continue;
      }
      int s;
      do s = (int)(rng() % 64);
      while (board[s] != '1' || ((c == 'P') && (s < 8 || s >= 56)));
      board[s] = black ? (char)std::tolower(c) : c;
    }
    std::string fen;
    for (int r = 0; r < 8; r++) fen += board.substr(8 * r, 8) + (r < 7 ? "/" : "");
    fen += out.size() % 2 ? " b - - 0 1" : " w - - 0 1";
    Position pos;
    if (setPosition(pos, fen.c_str())) out.push_back(pos);
  }
  return out;
}
