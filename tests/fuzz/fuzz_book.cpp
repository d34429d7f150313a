// Feeds arbitrary bytes to the opening book reader as a book file (held in
// memory, read through the same stream code as a file) and looks up a set of
// positions, the opening lines of the seed books among them.  The bytes are
// read twice: as they come, and with their entries sorted by key (a stable
// sort, so a key's run keeps its file order), as every real book is.
//
// The lookup's answer is compared with a straight scan of all the entries
// (at most 128), which applies the book's rules without a binary search:
// the entries of the position's key in file order, weight 0 left out, each
// move text matched to a legal move, no answer when one does not match.  A
// sorted book must give exactly the scan's moves and weights in that order;
// an unsorted one must answer nothing when the key is absent, and otherwise
// nothing or exactly the scan of one of the key's unbroken runs (the one its
// binary search met).  Both choice modes are then checked: the weighted
// choice must pick the move the scan's running sum picks for the same random
// number, and the heaviest-only choice one of the heaviest moves.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/movetext.h"
#include "book/book.h"
#include "common.h"

namespace {

constexpr size_t EntryBytes = 16;

// One position for each kind of book move: plain moves (the start, where
// the seed books have most entries, and after 1.e4), castling by White and
// by Black, en passant, both castlings among many moves, promotions.
const char* const BookFens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3",
    "r1bqkb1r/1ppp1ppp/p1n2n2/4p3/B3P3/5N2/PPPP1PPP/RNBQK2R w KQkq -",
    "rnbqk2r/ppp1ppbp/3p1np1/8/2PPP3/2N2N2/PP3PPP/R1BQKB1R b KQkq -",
    "rnbqkbnr/ppp2ppp/4p3/3pP3/8/8/PPPP1PPP/RNBQKBNR w KQkq d6",
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq -",
    "4k3/1P6/8/8/8/8/6p1/4K3 w - -",
};

// A looked-up position with what the scan needs: its key and its legal
// moves with their texts.  The castling data (the rooks' squares) belongs to
// the game last set up, so each position keeps its own.
struct BookPosition {
  Position pos;
  CastlingData castling;
  Key key;
  std::vector<Move> legal;
  std::vector<std::string> texts;
};

std::vector<BookPosition>& bookPositions() {
  static std::vector<BookPosition> positions;
  if (!positions.empty()) return positions;
  for (const char* fen : BookFens) {
    BookPosition b;
    if (!setPosition(b.pos, fen)) fuzzFailure(std::string("book position refused: ") + fen);
    b.castling = castling;
    b.key = bookKey(b.pos);
    int list[MaxMoves];
    const int n = generateAll(b.pos, list);
    Position child;
    for (int i = 0; i < n; ++i)
      if (makeMove(b.pos, child, entryMove(list[i]))) {
        b.legal.push_back(entryMove(list[i]));
        b.texts.push_back(moveToText(entryMove(list[i])));
      }
    positions.push_back(b);
  }
  // The published Polyglot keys of the start and of 1.e4: the scan trusts
  // the engine's key, so a wrong key must not go unseen.
  if (positions[0].key != 0x463b96181691fc9cull || positions[1].key != 0x823c9b50fd114196ull)
    fuzzFailure("the book key of the start or of 1.e4 is not the published Polyglot key");
  return positions;
}

uint64_t bigEndian(const uint8_t* bytes, int count) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) v = (v << 8) | bytes[i];
  return v;
}

Key entryKey(const uint8_t* entry) { return bigEndian(entry, 8); }

// A book move word as a move text: from and to squares, the promotion
// letter, and castling written king-takes-rook turned into the king's
// destination when the king stands on its standard square.
std::string wordText(const Position& pos, unsigned word) {
  const int from = (word >> 6) & 63, to = word & 63, promotion = (word >> 12) & 7;
  std::string text = {char('a' + from % 8), char('1' + from / 8), char('a' + to % 8), char('1' + to / 8)};
  if (promotion >= 1 && promotion <= 4) text += "nbrq"[promotion - 1];
  const char* const castlings[4][2] = {{"e1h1", "e1g1"}, {"e1a1", "e1c1"}, {"e8h8", "e8g8"}, {"e8a8", "e8c8"}};
  for (int i = 0; i < 4; ++i)
    if (text == castlings[i][0] && pos.board[i < 2 ? 4 : 60] == pieceCode(i < 2 ? White : Black, King))
      text = castlings[i][1];
  return text;
}

// The book's answer for entries [first, last) of the bytes, read one by one:
// the moves of the position's key with a weight, or none when one does not
// name a legal move.
std::vector<BookMove> scan(const BookPosition& b, const uint8_t* bytes, size_t first, size_t last) {
  std::vector<BookMove> moves;
  for (size_t i = first; i < last; ++i) {
    const uint8_t* entry = bytes + i * EntryBytes;
    const unsigned weight = (unsigned)bigEndian(entry + 10, 2);
    if (entryKey(entry) != b.key || weight == 0) continue;
    const std::string text = wordText(b.pos, (unsigned)bigEndian(entry + 8, 2));
    const auto at = std::find(b.texts.begin(), b.texts.end(), text);
    if (at == b.texts.end()) return {};
    moves.push_back({b.legal[at - b.texts.begin()], (int)weight});
  }
  return moves;
}

bool sameMoves(const std::vector<BookMove>& a, const BookMove* b, int count) {
  if ((int)a.size() != count) return false;
  for (int i = 0; i < count; ++i)
    if (a[i].move != b[i].move || a[i].weight != b[i].weight) return false;
  return true;
}

std::string listing(const BookMove* moves, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += moveToText(moves[i].move) + ":" + std::to_string(moves[i].weight) + " ";
  return text.empty() ? "none" : text;
}

// The weighted choice for one random seed: the first move whose running
// weight sum exceeds a number drawn below the total (masked random numbers,
// redrawn when too large).
Move expectedChoice(const BookMove* moves, int count, unsigned seed) {
  int64_t total = 0;
  for (int i = 0; i < count; ++i) total += moves[i].weight;
  uint64_t mask = 0;
  while (mask < (uint64_t)(total - 1)) mask = mask * 2 + 1;
  std::srand(seed);
  int64_t r;
  do r = (int64_t)((uint64_t)std::rand() & mask);
  while (r >= total);
  for (int i = 0; i < count; ++i)
    if ((r -= moves[i].weight) < 0) return moves[i].move;
  return 0;
}

void checkChoices(const BookMove* moves, int count, const std::string& what) {
  int heaviest = 0;
  for (int i = 0; i < count; ++i) heaviest = std::max(heaviest, moves[i].weight);
  for (unsigned seed = 1; seed <= 3; ++seed) {
    BookMove copy[MaxBookMoves];
    std::copy(moves, moves + count, copy);
    const Move expected = expectedChoice(moves, count, seed);
    std::srand(seed);
    const Move chosen = chooseBookMove(copy, count, false);
    if (chosen != expected)
      fuzzFailure(what + ": the weighted choice among " + listing(moves, count) + "picked " + moveToText(chosen) +
                  " where the running sum picks " + moveToText(expected));
    std::copy(moves, moves + count, copy);
    const Move heavy = chooseBookMove(copy, count, true);
    const bool isHeaviest = std::any_of(moves, moves + count,
                                        [&](const BookMove& m) { return m.move == heavy && m.weight == heaviest; });
    if (!isHeaviest) fuzzFailure(what + ": the heaviest-only choice among " + listing(moves, count) + "picked " +
                                 moveToText(heavy));
  }
}

// Looks every position up in the book made of the bytes and compares the
// answers with the scan.
void checkBook(std::vector<uint8_t> bytes, const char* kind) {
  const size_t entries = bytes.size() / EntryBytes;
  bool sorted = true;
  for (size_t i = 1; i < entries; ++i) sorted &= entryKey(&bytes[(i - 1) * EntryBytes]) <= entryKey(&bytes[i * EntryBytes]);
  FILE* stream = bytes.empty() ? nullptr : fmemopen(bytes.data(), bytes.size(), "rb");
  if (!bytes.empty() && !stream) fuzzFailure("fmemopen failed");
  useBookStream(stream, "fuzzed book");
  for (const BookPosition& b : bookPositions()) {
    BookMove moves[MaxBookMoves];
    castling = b.castling;
    const int count = findBookMoves(b.pos, moves);
    const std::string what = std::string(kind) + " book, " + positionToFen(b.pos);
    if (count < 0 || count > MaxBookMoves) fuzzFailure(what + ": answered " + std::to_string(count) + " moves");
    bool matches = sorted ? sameMoves(scan(b, bytes.data(), 0, entries), moves, count) : count == 0;
    // Unsorted: the answer may come from any unbroken run of the key.
    for (size_t i = 0; !sorted && count > 0 && i < entries && !matches; ++i) {
      if (entryKey(&bytes[i * EntryBytes]) != b.key) continue;
      size_t end = i;
      while (end < entries && entryKey(&bytes[end * EntryBytes]) == b.key) ++end;
      matches = sameMoves(scan(b, bytes.data(), i, end), moves, count);
      i = end;
    }
    if (!matches) {
      const std::vector<BookMove> expected = scan(b, bytes.data(), 0, entries);
      fuzzFailure(what + ": the lookup answered " + listing(moves, count) + "where the scan of all entries gives " +
                  listing(expected.data(), (int)expected.size()));
    }
    if (count > 0) checkChoices(moves, count, what);
  }
  useBookStream(nullptr, "");
}

// The entries sorted by key, keeping file order within a key; a partial
// last entry stays at the end.
std::vector<uint8_t> sortedByKey(const uint8_t* data, size_t size) {
  const size_t entries = size / EntryBytes;
  std::vector<size_t> order(entries);
  for (size_t i = 0; i < entries; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return entryKey(data + a * EntryBytes) < entryKey(data + b * EntryBytes); });
  std::vector<uint8_t> bytes;
  for (size_t i : order) bytes.insert(bytes.end(), data + i * EntryBytes, data + (i + 1) * EntryBytes);
  bytes.insert(bytes.end(), data + entries * EntryBytes, data + size);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  discardStandardOutput();
  startEngine();
  checkBook(std::vector<uint8_t>(data, data + size), "as given");
  checkBook(sortedByKey(data, size), "sorted");
  return 0;
}
