// The book a user gets from Debian's gnuchess-book package: the engine
// answers the start position from it, through "Book File" and through a
// link named orvane.bin in its working directory.  Skipped when the
// package is not installed (.ci/run installs it).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "../board/board_test_util.h"
#include "../engine/engine_process.h"
#include "book/book.h"

namespace {

const std::string DebianBook = "/usr/share/games/gnuchess/book.bin";

// The texts of the moves the Debian book holds for the start position.
std::set<std::string> startPositionBookMoves() {
  const Position start = fenPosition(StartFen);
  settings::ownBook = 1;
  settings::bookFile = DebianBook;
  openBook();
  BookMove moves[MaxBookMoves];
  testing::internal::CaptureStdout();
  const int count = findBookMoves(start, moves);
  testing::internal::GetCapturedStdout();
  settings::ownBook = 0;
  openBook();  // closes it
  settings::ownBook = 1;
  settings::bookFile = "orvane.bin";
  std::set<std::string> texts;
  for (int i = 0; i < count; i++) texts.insert(moveToText(moves[i].move));
  return texts;
}

// Asks the engine for a move from the start position; the book's answer
// comes from its lookup lines and has no ponder move.  Returns the move.
std::string bookAnswer(EngineProcess& engine) {
  engine.send("position startpos");
  engine.send("go depth 8");
  std::vector<std::string> lines;
  const auto best = readBestMove(engine, 30000, nullptr, &lines);
  EXPECT_TRUE(best);
  if (!best) return "";
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Found entry or entries"), lines.end()) << *best;
  EXPECT_EQ(best->find(" ponder "), std::string::npos) << *best;
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(), 0);
  return best->substr(9);
}

class DebianBookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(DebianBook.c_str(), R_OK) != 0) GTEST_SKIP() << "gnuchess-book is not installed (" << DebianBook << ")";
    bookMoves = startPositionBookMoves();
    ASSERT_GE(bookMoves.size(), 2u);
  }
  std::set<std::string> bookMoves;
};

TEST_F(DebianBookTest, BookFileOptionAnswersTheStartPosition) {
  EngineProcess engine;
  engine.send("setoption name Book File value " + DebianBook);
  const std::string move = bookAnswer(engine);
  EXPECT_TRUE(bookMoves.count(move)) << move;
}

// The default book name found in the working directory: a link to the
// Debian book, with no option set.
TEST_F(DebianBookTest, LinkNamedOrvaneBinAnswersTheStartPosition) {
  char folderTemplate[] = "/tmp/orvane_book_dir_XXXXXX";
  ASSERT_NE(mkdtemp(folderTemplate), nullptr);
  const std::string folder = folderTemplate, link = folder + "/orvane.bin";
  ASSERT_EQ(symlink(DebianBook.c_str(), link.c_str()), 0);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(folder.c_str()), 0);
  EngineProcess engine;  // starts in the folder
  ASSERT_EQ(chdir(previous), 0);
  const std::string move = bookAnswer(engine);
  EXPECT_TRUE(bookMoves.count(move)) << move;
  unlink(link.c_str());
  rmdir(folder.c_str());
}

}  // namespace
