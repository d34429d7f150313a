// The opening book: Polyglot keys against the published values, the moves
// and weights of a real book, the weighted choice, castling entries and
// files that are empty, cut short, missing or not files at all.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "../board/board_test_util.h"
#include "book/book.h"

namespace {

// Reference data kept with the tests (tests/data/README-book.md says where
// it comes from); a missing file fails the test that reads it.
std::string dataFile(const char* name) { return std::string(ORVANE_TEST_DATA) + "/" + name; }

// Lines "<FEN> ; key 0x... [; ...]" split at the semicolons.
std::vector<std::vector<std::string>> readKeyFile(const std::string& path) {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(path);
  if (!in) ADD_FAILURE() << path << " is missing";
  for (std::string text; std::getline(in, text);) {
    std::vector<std::string> fields;
    std::stringstream ss(text);
    for (std::string f; std::getline(ss, f, ';');) fields.push_back(f.substr(f.find_first_not_of(' ')));
    if (fields.size() >= 2) lines.push_back(fields);
  }
  return lines;
}
Key keyField(const std::string& field) { return std::stoull(field.substr(4), nullptr, 16); }

uint16_t polyglotMove(const char* from, const char* to) { return (uint16_t)(sq(from) << 6 | sq(to)); }

// Writes a book of the given entries (sorted by key, as books are) plus
// `tail` stray bytes.
std::string writeBook(std::vector<BookEntry> entries, int tail = 0) {
  static int serial = 0;
  std::string path = ::testing::TempDir() + "orvane_book_" + std::to_string(getpid()) + "_" + std::to_string(serial++);
  std::stable_sort(entries.begin(), entries.end(), [](const BookEntry& a, const BookEntry& b) { return a.key < b.key; });
  std::ofstream out(path, std::ios::binary);
  for (const BookEntry& e : entries) {
    const uint64_t fields[3] = {e.key, e.move, e.weight};
    const int widths[3] = {8, 2, 2};
    for (int f = 0; f < 3; ++f)
      for (int b = widths[f] - 1; b >= 0; --b) out.put((char)(fields[f] >> (8 * b)));
    for (int b = 0; b < 4; ++b) out.put(0);
  }
  for (int b = 0; b < tail; ++b) out.put('x');
  return path;
}

class Book : public ::testing::Test {
 protected:
  void SetUp() override { initBoardTables(); }
  void TearDown() override {
    settings::ownBook = 0;
    openBook();  // closes it
    settings::ownBook = 1;
    settings::bookFile = "orvane.bin";
    settings::bestBookLine = 0;
  }
  static void useBook(const std::string& path) {
    settings::ownBook = 1;
    settings::bookFile = path;
    openBook();
  }
  // "move:weight ..." of the book's moves for pos.
  static std::string bookMovesText(const Position& pos) {
    BookMove moves[MaxBookMoves];
    std::string text;
    testing::internal::CaptureStdout();
    const int n = findBookMoves(pos, moves);
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < n; ++i) text += moveToText(moves[i].move) + ":" + std::to_string(moves[i].weight) + " ";
    return text.empty() ? text : text.substr(0, text.size() - 1);
  }
};

TEST_F(Book, KeysMatchEveryPublishedValue) {
  const std::string files[2] = {dataFile("polyglot-keys.txt"), dataFile("polyglot-keys-extra.txt")};
  int checked = 0;
  for (const std::string& file : files)
    for (const auto& fields : readKeyFile(file)) {
      EXPECT_EQ(bookKey(fenPosition(fields[0])), keyField(fields[1])) << fields[0];
      ++checked;
    }
  EXPECT_EQ(checked, 41);
}

// Every listed position, set up from its FEN and reached by playing its
// line, has the listed key and finds the listed moves and weights in order.
TEST_F(Book, RealBookGivesListedMovesAndWeights) {
  const std::string book = dataFile("book-slice.bin");
  Chess960Guard standard(0);
  useBook(book);
  ASSERT_TRUE(bookIsOpen()) << book << " is missing";
  const auto listed = readKeyFile(dataFile("book-expected.txt"));
  EXPECT_EQ(listed.size(), 7u);
  for (const auto& fields : listed) {
    Position played = fenPosition(StartFen);
    std::stringstream line(fields[2].substr(5));
    for (std::string move; line >> move;)
      if (move != "startpos") played = play(played, move);
    std::string want = fields[3].substr(6);
    for (const char* castle : {"e1h1", "e8h8"})
      if (size_t at = want.find(castle); at != std::string::npos) want[at + 2] = 'g';
    for (const Position& pos : {fenPosition(fields[0]), played}) {
      EXPECT_EQ(bookKey(pos), keyField(fields[1])) << fields[0];
      EXPECT_EQ(bookMovesText(pos), want) << fields[0];
    }
  }
}

// A random source that counts up: masked to the bits the choice draws, it
// takes every value below the mask once per cycle, so one cycle of draws
// must pick each move exactly as often as its weight.  Exact counts catch
// any bias (a wrong comparison, a mask one bit short), where counts from a
// real generator could only be held to a tolerance.
int counted = 0;
int countingSource() { return counted++; }

TEST_F(Book, ChoiceFollowsTheWeightsExactly) {
  const int weights[] = {12135, 11257, 3745, 3294, 243, 38, 35, 16, 16, 7, 5, 4, 2, 1, 1};
  const int n = sizeof weights / sizeof weights[0];
  BookMove moves[n];
  int total = 0;
  for (int i = 0; i < n; ++i) total += (moves[i] = {i + 1, weights[i]}).weight;
  counted = 0;
  std::map<Move, int> drawn;
  for (int i = 0; i < 2 * total; ++i) drawn[chooseBookMove(moves, n, false, countingSource)]++;
  for (int i = 0; i < n; ++i) EXPECT_EQ(drawn[i + 1], 2 * weights[i]) << "weight " << weights[i];
  EXPECT_EQ(drawn.size(), (size_t)n);
}

TEST_F(Book, BestBookLineChoosesOnlyAmongTheHeaviest) {
  counted = 0;
  std::map<Move, int> drawn;
  for (int i = 0; i < 60; ++i) {
    BookMove moves[4] = {{1, 10}, {2, 30}, {3, 30}, {4, 5}};
    drawn[chooseBookMove(moves, 4, true, countingSource)]++;
  }
  EXPECT_EQ(drawn, (std::map<Move, int>{{2, 30}, {3, 30}}));
}

// A promotion entry names its piece (1 knight, 2 bishop, 3 rook, 4 queen);
// a run that starts at the book's first entry is found whole; of two moves
// of weight 1 each is played (the engine's own random numbers).
TEST_F(Book, PromotionsFirstEntriesAndEqualWeights) {
  Chess960Guard mode(0);
  const Position promotion = fenPosition("4k3/P7/8/8/8/8/8/4K3 w - - 0 1");
  std::vector<BookEntry> entries;
  for (int piece = 1; piece <= 4; ++piece)
    entries.push_back({bookKey(promotion), (uint16_t)(piece << 12 | polyglotMove("a7", "a8")), (uint16_t)piece, 0});
  useBook(writeBook(entries));
  EXPECT_EQ(bookMovesText(promotion), "a7a8n:1 a7a8b:2 a7a8r:3 a7a8q:4");

  // The binary search lands on the second of the three entries at the front.
  const Position start = fenPosition(StartFen);
  const Key key = bookKey(start);
  entries = {{key, polyglotMove("e2", "e4"), 1, 0}, {key, polyglotMove("d2", "d4"), 2, 0},
             {key, polyglotMove("g1", "f3"), 3, 0}};
  for (Key other = key + 1; other <= key + 4; ++other) entries.push_back({other, polyglotMove("a2", "a3"), 1, 0});
  useBook(writeBook(entries));
  EXPECT_EQ(bookMovesText(start), "e2e4:1 d2d4:2 g1f3:3");

  useBook(writeBook({{key, polyglotMove("e2", "e4"), 1, 0}, {key, polyglotMove("d2", "d4"), 1, 0}}));
  const std::vector<Move> legal = legalMoves(start);
  std::srand(5);
  std::map<std::string, int> count;
  testing::internal::CaptureStdout();
  for (int i = 0; i < 100; ++i) count[moveToText(probeBook(start, legal.data(), (int)legal.size()))]++;
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(count.size(), 2u);
  EXPECT_GE(count["e2e4"], 30);
  EXPECT_GE(count["d2d4"], 30);
}

// The choice keeps to the allowed moves (the root moves "go searchmoves"
// leaves), with their weights; "Best Book Line" takes the heaviest of them;
// with no book move allowed there is no book move.
TEST_F(Book, ChoiceKeepsToTheAllowedMoves) {
  Chess960Guard standard(0);
  const Position start = fenPosition(StartFen);
  const char* const book[4][2] = {{"e2", "e4"}, {"d2", "d4"}, {"g1", "f3"}, {"c2", "c4"}};
  const uint16_t weights[4] = {50, 30, 30, 5};
  std::vector<BookEntry> entries;
  for (int i = 0; i < 4; ++i) entries.push_back({bookKey(start), polyglotMove(book[i][0], book[i][1]), weights[i], 0});
  useBook(writeBook(entries));
  auto drawn = [&](std::vector<std::string> allowedTexts, int draws) {
    std::vector<Move> allowed;
    for (const std::string& text : allowedTexts) allowed.push_back(findMove(start, text));
    std::map<std::string, int> count;
    testing::internal::CaptureStdout();
    for (int i = 0; i < draws; ++i) count[moveToText(probeBook(start, allowed.data(), (int)allowed.size()))]++;
    testing::internal::GetCapturedStdout();
    return count;
  };
  std::srand(11);
  std::map<std::string, int> count = drawn({"a2a3", "c2c4", "d2d4", "g1f3"}, 6500);
  EXPECT_EQ(count.size(), 3u);
  EXPECT_NEAR(count["d2d4"], 3000, 200);
  EXPECT_NEAR(count["g1f3"], 3000, 200);
  EXPECT_NEAR(count["c2c4"], 500, 100);
  settings::bestBookLine = 1;
  count = drawn({"c2c4", "g1f3"}, 100);
  EXPECT_EQ(count, (std::map<std::string, int>{{"g1f3", 100}}));
  EXPECT_EQ(drawn({"a2a3", "b2b4"}, 1), (std::map<std::string, int>{{"0000", 1}}));
}

// Books write castling as king takes rook on the standard squares: with the
// king on e1/e8 that is the king's destination in standard chess, and in
// Chess960 (where the engine writes king takes rook) the run is refused; a
// Chess960 king elsewhere castles by the plain king-takes-rook text.
TEST_F(Book, CastlingEntries) {
  Chess960Guard mode(0);
  const Position white = fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1");
  const Position black = fenPosition("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1");
  useBook(writeBook({{bookKey(white), polyglotMove("e1", "h1"), 3, 0},
                     {bookKey(white), polyglotMove("e1", "a1"), 1, 0},
                     {bookKey(black), polyglotMove("e8", "a8"), 5, 0}}));
  EXPECT_EQ(bookMovesText(white), "e1g1:3 e1c1:1");
  EXPECT_EQ(bookMovesText(black), "e8c8:5");
  BookMove moves[MaxBookMoves];
  testing::internal::CaptureStdout();
  const int found = findBookMoves(black, moves);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(found, 1);
  EXPECT_EQ(moveKind(moves[0].move), KindCastle);
  settings::chess960 = 1;
  EXPECT_EQ(bookMovesText(fenPosition("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1")), "");
  const Position shifted = fenPosition("4k3/8/8/8/8/8/8/5K1R w H - 0 1");
  useBook(writeBook({{bookKey(shifted), polyglotMove("f1", "h1"), 2, 0}}));
  EXPECT_EQ(bookMovesText(shifted), "f1h1:2");
  testing::internal::CaptureStdout();
  const std::vector<Move> legal = legalMoves(shifted);
  EXPECT_EQ(moveKind(probeBook(shifted, legal.data(), (int)legal.size())), KindCastle);
  testing::internal::GetCapturedStdout();
}

// Entries at the file's ends, zero weights, a move that is not legal, and
// files that hold no book or stop being readable never yield a wrong move.
TEST_F(Book, EdgeEntriesAndBadFiles) {
  Chess960Guard mode(0);
  const Position start = fenPosition(StartFen);
  struct Probe {
    Position pos;
    const char* move;
    uint16_t entry() const { return polyglotMove(move, move + 2); }
  } a{start, "d2d4"}, b{play(start, "e2e4"), "e7e5"};
  if (bookKey(a.pos) > bookKey(b.pos)) std::swap(a, b);  // a has the lower key
  // Only the last entry matches; a key above all keys; a partial entry.
  useBook(writeBook({{bookKey(a.pos) - 1, 0, 1, 0}, {bookKey(b.pos), b.entry(), 4, 0}}, 7));
  EXPECT_EQ(bookMovesText(b.pos), std::string(b.move) + ":4");
  EXPECT_EQ(bookMovesText(a.pos), "");
  // Weight 0 is skipped; all weights 0 and an illegal entry give nothing.
  useBook(writeBook({{bookKey(a.pos), a.entry(), 0, 0},
                     {bookKey(a.pos), polyglotMove("g1", "f3"), 9, 0},
                     {bookKey(a.pos), polyglotMove("g8", "f6"), 9, 0},
                     {bookKey(b.pos), b.entry(), 0, 0}}));
  EXPECT_EQ(bookMovesText(a.pos), "");
  EXPECT_EQ(bookMovesText(b.pos), "");
  // Empty, missing, a directory: no book move and nothing else happens.
  for (const std::string& path : {writeBook({}), std::string("/nonexistent/orvane.bin"), ::testing::TempDir()}) {
    useBook(path);
    EXPECT_EQ(bookMovesText(start), "") << path;
  }
  // Cut short while open: what is left is still a book.
  const std::string cut = writeBook({{bookKey(a.pos), a.entry(), 1, 0}, {bookKey(b.pos), b.entry(), 1, 0}});
  useBook(cut);
  ASSERT_EQ(truncate(cut.c_str(), 16), 0);
  EXPECT_EQ(bookMovesText(b.pos), "");
  EXPECT_EQ(bookMovesText(a.pos), std::string(a.move) + ":1");
  // "OwnBook" off opens nothing.
  settings::ownBook = 0;
  openBook();
  EXPECT_FALSE(bookIsOpen());
}

// A run longer than the room for one position's moves (a damaged book
// repeating moves), which the search lands in far from either end: its
// first MaxBookMoves entries of non-zero weight are offered in file order
// (the leading entry of weight 0 is passed over, not taken for the run's
// end), and every entry is still checked, so an illegal last one discards
// the run.
TEST_F(Book, LongRunOffersItsFirstEntriesAndIsCheckedWhole) {
  Chess960Guard standard(0);
  const Position start = fenPosition(StartFen);
  const Key key = bookKey(start);
  const std::vector<Move> legal = legalMoves(start);
  std::vector<BookEntry> entries{{key - 1, 0, 1, 0}, {key + 1, 0, 1, 0}};
  for (int i = 0; i < 600; ++i) {
    const std::string text = moveToText(legal[i % legal.size()]);
    entries.push_back({key, polyglotMove(text.c_str(), text.c_str() + 2), (uint16_t)i, 0});
  }
  BookMove moves[MaxBookMoves];
  auto collect = [&] {
    testing::internal::CaptureStdout();
    const int n = findBookMoves(start, moves);
    testing::internal::GetCapturedStdout();
    return n;
  };
  useBook(writeBook(entries));
  ASSERT_EQ(collect(), MaxBookMoves);
  EXPECT_EQ(moves[0].weight, 1);
  EXPECT_EQ(moves[MaxBookMoves - 1].weight, MaxBookMoves);
  EXPECT_EQ(moves[MaxBookMoves - 1].move, legal[MaxBookMoves % legal.size()]);
  entries.back().move = polyglotMove("e2", "e5");
  useBook(writeBook(entries));
  EXPECT_EQ(collect(), 0);
}

// A file that claims more bytes than it can deliver (a kernel attribute
// file: 4096 bytes by its size, a few when read) fails in the middle of the
// search for the key: one message and no book move.
TEST_F(Book, UnreadableFileGivesOneMessage) {
  const char* liar = "/sys/devices/system/cpu/online";
  struct stat info;
  if (stat(liar, &info) != 0 || info.st_size < 4096) GTEST_SKIP() << liar << " not available";
  useBook(liar);
  ASSERT_TRUE(bookIsOpen());
  const std::vector<Move> legal = legalMoves(fenPosition(StartFen));
  testing::internal::CaptureStdout();
  EXPECT_EQ(probeBook(fenPosition(StartFen), legal.data(), (int)legal.size()), 0);
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_EQ(said, "Checking book\nStill Checking book\ninfo string Error with fread of opening book " +
                      std::string(liar) + " (unexpected end of file); no book move\n");
}

}  // namespace
