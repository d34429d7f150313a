// Feeds arbitrary bytes to the opening book reader as a book file (held in
// memory, read through the same stream code as a file) and looks up a set of
// positions, the opening lines of the seed books among them.  Every move
// the book answers must be legal in the position, with a positive weight,
// and both choice modes must pick one of the answered moves (the heaviest
// one when only the heaviest may be chosen).
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "book/book.h"
#include "common.h"

namespace {

// One position for each kind of book move: plain moves (the start, where
// the seed books have most entries, and after 1.e4), castling by White and
// by Black, en passant, both castlings among many moves, promotions.  Each
// answered probe lists the legal moves, so every position costs speed.
const char* const BookFens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3",
    "r1bqkb1r/1ppp1ppp/p1n2n2/4p3/B3P3/5N2/PPPP1PPP/RNBQK2R w KQkq -",
    "rnbqk2r/ppp1ppbp/3p1np1/8/2PPP3/2N2N2/PP3PPP/R1BQKB1R b KQkq -",
    "rnbqkbnr/ppp2ppp/4p3/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "4k3/1P6/8/8/8/8/6p1/4K3 w - -",
};

std::vector<Position>& bookPositions() {
  static std::vector<Position> positions;
  if (!positions.empty()) return positions;
  for (const char* fen : BookFens) {
    Position pos;
    if (!setPosition(pos, fen)) fuzzFailure(std::string("book position refused: ") + fen);
    positions.push_back(pos);
  }
  return positions;
}

bool isLegal(const Position& pos, Move m) {
  Position child;
  return m != 0 && isPseudoLegal(pos, m) && makeMove(pos, child, m);
}

bool answered(const BookMove* moves, int count, Move m) {
  for (int i = 0; i < count; ++i)
    if (moves[i].move == m) return true;
  return false;
}

void checkProbe(const Position& pos) {
  BookMove moves[MaxBookMoves];
  const int count = findBookMoves(pos, moves);
  if (count < 0 || count > MaxBookMoves) fuzzFailure("book answered " + std::to_string(count) + " moves");
  int heaviest = 0;
  for (int i = 0; i < count; ++i) {
    if (!isLegal(pos, moves[i].move)) fuzzFailure("book answered an illegal move " + std::to_string(moves[i].move));
    if (moves[i].weight <= 0) fuzzFailure("book answered a move of weight " + std::to_string(moves[i].weight));
    heaviest = std::max(heaviest, moves[i].weight);
  }
  if (count == 0) return;
  for (bool heaviestOnly : {false, true}) {
    BookMove copy[MaxBookMoves];
    std::copy(moves, moves + count, copy);
    const Move chosen = chooseBookMove(copy, count, heaviestOnly);
    if (!answered(moves, count, chosen)) fuzzFailure("book chose a move it did not answer");
    bool heavy = false;
    for (int i = 0; i < count; ++i) heavy |= moves[i].move == chosen && moves[i].weight == heaviest;
    if (heaviestOnly && !heavy) fuzzFailure("book chose a lighter move with only the heaviest allowed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  discardStandardOutput();
  startEngine();
  std::vector<uint8_t> bytes(data, data + size);
  FILE* stream = size ? fmemopen(bytes.data(), size, "rb") : nullptr;
  if (size && !stream) fuzzFailure("fmemopen failed");
  useBookStream(stream, "fuzzed book");
  for (const Position& pos : bookPositions()) checkProbe(pos);
  useBookStream(nullptr, "");
  return 0;
}
