#include "book/book.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "board/movegen.h"
#include "board/movetext.h"
#include "board/output.h"
#include "board/settings.h"
#include "book/polyglot_random.h"
#include "platform/files.h"

namespace {

constexpr int EntryBytes = 16;

FILE* bookHandle = nullptr;
std::string bookName;  // the name the open file was opened under

// The one message of a failed probe: what failed, where, and why.
void reportReadFailure(const char* what) {
  const char* reason = errno ? std::strerror(errno) : "unexpected end of file";
  writeLine("info string Error with %s of opening book %s (%s); no book move", what, bookName.c_str(), reason);
}

uint64_t readBigEndian(const unsigned char* bytes, int count) {
  uint64_t v = 0;
  for (int i = 0; i < count; ++i) v = (v << 8) | bytes[i];
  return v;
}

// Reads entry i; false (with the message) when the file cannot be positioned
// or read there.  stage names the step for the message.
bool readEntry(int64_t i, BookEntry& e, const char* stage) {
  unsigned char bytes[EntryBytes];
  errno = 0;
  if (!seekTo(bookHandle, i * EntryBytes)) {
    reportReadFailure(stage);
    return false;
  }
  errno = 0;
  if (std::fread(bytes, 1, EntryBytes, bookHandle) != EntryBytes) {
    reportReadFailure("fread");
    std::clearerr(bookHandle);
    return false;
  }
  e.key = readBigEndian(bytes, 8);
  e.move = (uint16_t)readBigEndian(bytes + 8, 2);
  e.weight = (uint16_t)readBigEndian(bytes + 10, 2);
  e.learn = (uint32_t)readBigEndian(bytes + 12, 4);
  return true;
}

// Number of whole entries in the file (a trailing partial entry does not
// count); false when the end cannot be found.
bool entryCount(int64_t& count) {
  errno = 0;
  const int64_t size = fileSize(bookHandle);
  if (size < 0) {
    reportReadFailure("initial fseek");
    return false;
  }
  count = size / EntryBytes;
  return true;
}

// Binary search for an entry with the key; its index, or -1.  -2 when the
// file failed.
int64_t findEntry(Key key, int64_t count) {
  int64_t lo = 0, hi = count - 1;
  BookEntry e;
  while (lo <= hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (!readEntry(mid, e, "fseek in binary search")) return -2;
    if (e.key > key)
      hi = mid - 1;
    else if (e.key < key)
      lo = mid + 1;
    else
      return mid;
  }
  return -1;
}

// The book move's text: from and to squares and a promotion letter.  Books
// write castling as the king taking its rook; with the king on its standard
// square that becomes the king's destination, as the engine writes it in
// standard chess.
std::string bookMoveText(const Position& pos, uint16_t move) {
  const Square from = (move >> 6) & 63, to = move & 63;
  std::string text;
  text += char('a' + fileOf(from));
  text += char('1' + rankOf(from));
  text += char('a' + fileOf(to));
  text += char('1' + rankOf(to));
  const int promotion = (move >> 12) & 7;
  if (promotion >= 1 && promotion <= 4) text += "nbrq"[promotion - 1];
  if (pos.board[4] == pieceCode(White, King)) {
    if (text == "e1h1") text = "e1g1";
    if (text == "e1a1") text = "e1c1";
  }
  if (pos.board[60] == pieceCode(Black, King)) {
    if (text == "e8h8") text = "e8g8";
    if (text == "e8a8") text = "e8c8";
  }
  return text;
}

// The legal moves of pos and their texts.
struct LegalMoves {
  Move move[MaxMoves];
  std::string text[MaxMoves];
  int count = 0;
};
void listLegalMoves(const Position& root, LegalMoves& legal) {
  Position pos = root;
  pos.inCheck = kingAttacked(pos, pos.sideToMove()) ? 1 : 0;
  int list[MaxMoves];
  const int n = generateAll(pos, list);
  Position child;
  for (int i = 0; i < n; ++i) {
    const Move m = entryMove(list[i]);
    if (!makeMove(pos, child, m)) continue;
    legal.move[legal.count] = m;
    legal.text[legal.count++] = moveToText(m);
  }
}

Move findLegal(const LegalMoves& legal, const std::string& text) {
  for (int i = 0; i < legal.count; ++i)
    if (legal.text[i] == text) return legal.move[i];
  return 0;
}

// Orders the moves by weight, heaviest first, and keeps only those of the
// greatest weight; their count.
int keepHeaviest(BookMove* moves, int count) {
  for (int i = 0; i < count; ++i)
    for (int j = i + 1; j < count; ++j)
      if (moves[j].weight > moves[i].weight) std::swap(moves[i], moves[j]);
  int kept = 1;
  while (kept < count && moves[kept].weight == moves[0].weight) ++kept;
  return kept;
}

// Drops the moves that are not in allowed, keeping the order of the others;
// the count left.
int keepAllowed(BookMove* moves, int count, const Move* allowed, int allowedCount) {
  int kept = 0;
  for (int i = 0; i < count; ++i)
    if (std::find(allowed, allowed + allowedCount, moves[i].move) != allowed + allowedCount) moves[kept++] = moves[i];
  return kept;
}

}  // namespace

Key bookKey(const Position& pos) {
  Key k = 0;
  for (int c = White; c <= Black; ++c)
    for (int t = Pawn; t <= King; ++t)
      for (Bitboard b = pos.pieces[c][t]; b; b &= b - 1) {
        const int kind = 2 * (t - 1) + (c == White ? 1 : 0);
        k ^= polyglotRandom[64 * kind + lsb(b)];
      }
  for (int right = 0; right < 4; ++right)
    if (!(pos.castleLost & (1 << right))) k ^= polyglotRandom[PolyglotCastleBase + right];
  if (pos.enPassant) k ^= polyglotRandom[PolyglotEnPassantBase + fileOf(lsb(pos.enPassant))];
  if (pos.sideToMove() == White) k ^= polyglotRandom[PolyglotWhiteToMove];
  return k;
}

void openBook() {
  useBookStream(nullptr, "");
  if (!settings::ownBook || settings::bookFile.empty()) return;
  // A directory or a pipe would open but never read as a book (and a pipe
  // could block the engine): only regular files are books.  A missing book
  // is normal (the default name) and passes in silence; a name that exists
  // but cannot serve says why.
  std::string problem;
  FILE* stream = fopenWithoutWaiting(settings::bookFile.c_str(), "rb", true, &problem);
  if (!stream && errno != ENOENT && errno != ENOTDIR)
    writeLine("info string Book file %s not opened: %s", settings::bookFile.c_str(), problem.c_str());
  useBookStream(stream, settings::bookFile);
}

void useBookStream(FILE* stream, const std::string& name) {
  if (bookHandle) std::fclose(bookHandle);
  bookHandle = stream;
  bookName = name;
}

bool bookIsOpen() { return bookHandle != nullptr; }

int findBookMoves(const Position& root, BookMove* moves) {
  if (!bookHandle) return 0;
  const Key key = bookKey(root);

  // Step 1. Find one entry of the position by binary search.
  writeLine("Checking book");
  int64_t count = 0;
  if (!entryCount(count) || count == 0) return 0;
  writeLine("Still Checking book");
  const int64_t found = findEntry(key, count);
  if (found < 0) return 0;
  writeLine("Found entry or entries");
  static LegalMoves legal;  // large: kept off the stack (main thread only)
  legal.count = 0;
  listLegalMoves(root, legal);

  // Step 2. Back up to the first entry of the position's run.
  BookEntry e;
  int64_t first = found;
  for (int64_t i = found - 1; i >= 0; --i) {
    if (!readEntry(i, e, "fseek in back up")) return 0;
    if (e.key != key) break;
    writeLine("found record %lld", (long long)i);
    first = i;
  }

  // Step 3. Collect the run's moves with their weights; one move that is
  // not legal here discards the whole run.
  int n = 0;
  for (int64_t i = first; i < count; ++i) {
    if (!readEntry(i, e, "fseek in collection")) return 0;
    if (e.key != key) break;
    if (e.weight == 0) continue;
    const Move m = findLegal(legal, bookMoveText(root, e.move));
    if (!m) return 0;
    if (n < MaxBookMoves) moves[n++] = {m, e.weight};
  }
  return n;
}

// A uniform number below the total weight (masked random numbers, redrawn
// when too large) picks the first move whose running weight sum exceeds it.
Move chooseBookMove(BookMove* moves, int count, bool heaviestOnly, int (*random)()) {
  if (heaviestOnly) count = keepHeaviest(moves, count);
  int64_t total = 0;
  for (int i = 0; i < count; ++i) total += moves[i].weight;
  uint64_t mask = 0;
  while (mask < (uint64_t)(total - 1)) mask = mask * 2 + 1;
  int64_t r;
  do r = (int64_t)((uint64_t)(random ? random() : std::rand()) & mask);
  while (r >= total);
  int64_t sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += moves[i].weight;
    if (sum > r) return moves[i].move;
  }
  return moves[count - 1].move;
}

Move probeBook(const Position& root, const Move* allowed, int allowedCount) {
  BookMove moves[MaxBookMoves];
  const int count = keepAllowed(moves, findBookMoves(root, moves), allowed, allowedCount);
  return count > 0 ? chooseBookMove(moves, count, settings::bestBookLine != 0) : 0;
}
