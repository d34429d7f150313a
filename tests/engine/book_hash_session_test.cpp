// The opening book and the hash file through the engine process: a book
// move is answered at once without a ponder move, files that are no books
// never stop the engine, and the hash-file buttons keep the table.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine_process.h"

namespace {

// A slice of a real Polyglot book (see tests/data/README-book.md); a test
// that needs it fails when it is missing.
const std::string SliceBook = std::string(ORVANE_TEST_DATA) + "/book-slice.bin";

std::string tempPath(const std::string& what) {
  return ::testing::TempDir() + "orvane_session_" + std::to_string(getpid()) + "_" + what;
}

// Starts the engine and sends the set-up lines; every line is answered
// before the first search.
struct Engine {
  EngineProcess process;
  explicit Engine(const std::vector<std::string>& setup) {
    EXPECT_TRUE(process.sync(20000));
    run(setup);
  }
  std::vector<std::string> run(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) process.send(line);
    auto out = process.sync(20000);
    EXPECT_TRUE(out.has_value()) << "no readyok";
    return out.value_or(std::vector<std::string>{});
  }
  // The lines of one search, up to and including "bestmove".
  std::vector<std::string> search(const std::string& go) {
    process.send(go);
    std::vector<std::string> lines;
    while (auto line = process.readLine(60000)) {
      lines.push_back(*line);
      if (line->rfind("bestmove", 0) == 0) return lines;
    }
    ADD_FAILURE() << "no bestmove after " << go;
    return lines;
  }
  // Node count of a search's final "info time" line.
  long long nodes(const std::string& go) {
    for (const std::string& line : search(go))
      if (line.rfind("info time", 0) == 0) return std::stoll(line.substr(line.find(" nodes ") + 7));
    return -1;
  }
};

// The "hashfull" figure of a statistics line.
int hashfull(const std::string& line) {
  const size_t at = line.find(" hashfull ");
  return at == std::string::npos ? -1 : std::stoi(line.substr(at + 10));
}

bool contains(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

TEST(BookSession, BookMoveIsAnsweredAtOnceWithoutPonderMove) {
  ASSERT_EQ(access(SliceBook.c_str(), R_OK), 0) << SliceBook << " is missing";
  Engine e({"setoption name Book File value " + SliceBook, "position startpos moves e2e4"});
  const std::set<std::string> replies = {"c7c5", "e7e5", "e7e6", "c7c6", "d7d6", "g7g6", "g8f6",
                                         "d7d5", "b8c6", "b7b6", "g7g5", "a7a6", "h7h6"};
  std::vector<std::string> lines = e.search("go wtime 60000 btime 60000");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("info depth 1 ", 0), 0u);
  EXPECT_TRUE(contains(lines, "Found entry or entries"));
  EXPECT_FALSE(contains(lines, "info depth 2"));
  EXPECT_TRUE(replies.count(lines.back().substr(9))) << lines.back();
  // A ponder search on a book position waits for "ponderhit" all the same.
  e.run({"position startpos moves e2e4 c7c5"});
  e.process.send("go ponder wtime 60000 btime 60000");
  while (auto line = e.process.readLine(700)) ASSERT_NE(line->rfind("bestmove", 0), 0u) << *line;
  // The waiting search wakes on the command itself, not on a later one.
  e.process.send("ponderhit");
  lines.clear();
  while (lines.empty() || lines.back().rfind("bestmove", 0) != 0) {
    auto line = e.process.readLine(2000);
    ASSERT_TRUE(line) << "no bestmove within 2 s of ponderhit";
    lines.push_back(*line);
  }
  const std::set<std::string> whiteReplies = {"g1f3", "b1c3", "c2c3", "f2f4", "g1e2", "d2d4",
                                              "d2d3", "g2g3", "b2b4", "b2b3", "c2c4", "f1c4"};
  EXPECT_TRUE(whiteReplies.count(lines.back().substr(9))) << lines.back();
}

// Analysis is never answered from the book: "go infinite", and any "go"
// while "UCI_AnalyseMode" is on, search a book position as any other,
// with iterations past the first and their principal variations; the
// infinite one answers after "stop".  With analysis mode off again, a
// fixed-depth search takes the book move.
TEST(BookSession, AnalysisSearchesBookPositions) {
  ASSERT_EQ(access(SliceBook.c_str(), R_OK), 0) << SliceBook << " is missing";
  Engine e({"setoption name Book File value " + SliceBook, "position startpos moves e2e4"});
  // The lines of a search up to its first report of iteration `depth` with
  // a principal variation.
  auto untilDepth = [&](int depth) {
    std::vector<std::string> lines;
    const std::string wanted = "info depth " + std::to_string(depth) + " ";
    while (auto line = e.process.readLine(30000)) {
      lines.push_back(*line);
      if (line->rfind(wanted, 0) == 0 && line->find(" pv ") != std::string::npos) return lines;
      if (line->rfind("bestmove", 0) == 0) break;
    }
    ADD_FAILURE() << "no principal variation at depth " << depth;
    return lines;
  };
  auto booked = [](const std::vector<std::string>& lines) {
    return contains(lines, "Checking book") || contains(lines, "Found entry or entries");
  };

  e.process.send("go infinite");
  std::vector<std::string> lines = untilDepth(6);
  EXPECT_FALSE(booked(lines));
  // Nothing ends it but "stop".
  while (auto line = e.process.readLine(300)) ASSERT_NE(line->rfind("bestmove", 0), 0u) << *line;
  e.process.send("stop");
  std::string last;
  const auto best = readBestMove(e.process, 10000, &last);
  ASSERT_TRUE(best);
  EXPECT_NE(best->find(" ponder "), std::string::npos) << *best;
  EXPECT_EQ(last.rfind("info time ", 0), 0u) << last;

  e.run({"setoption name UCI_AnalyseMode value true"});
  for (const std::string go : {"go infinite", "go depth 5", "go ponder wtime 60000 btime 60000"}) {
    e.process.send(go);
    lines = untilDepth(go == "go depth 5" ? 5 : 4);
    EXPECT_FALSE(booked(lines)) << go;
    if (go != "go depth 5") e.process.send("stop");
    ASSERT_TRUE(readBestMove(e.process, 30000)) << go;
  }

  e.run({"setoption name UCI_AnalyseMode value false"});
  lines = e.search("go depth 5");
  EXPECT_TRUE(contains(lines, "Found entry or entries"));
  EXPECT_FALSE(contains(lines, "info depth 2"));
}

// "go searchmoves" narrows the book's choice: with "Best Book Line" the
// heaviest allowed move is played at once (not the book's favourite, which
// is not allowed); a root without allowed book moves is searched.
TEST(BookSession, SearchmovesNarrowTheBookChoice) {
  ASSERT_EQ(access(SliceBook.c_str(), R_OK), 0) << SliceBook << " is missing";
  Engine e({"setoption name Book File value " + SliceBook, "setoption name Best Book Line value true",
            "position startpos"});
  std::vector<std::string> lines = e.search("go depth 3 searchmoves g2g3 b2b3");
  EXPECT_TRUE(contains(lines, "Found entry or entries"));
  EXPECT_FALSE(contains(lines, "info depth 2"));
  EXPECT_EQ(lines.back(), "bestmove g2g3");
  lines = e.search("go depth 2 searchmoves a2a4");
  EXPECT_TRUE(contains(lines, "info depth 2"));
  EXPECT_EQ(lines.back().rfind("bestmove a2a4", 0), 0u) << lines.back();
}

TEST(BookSession, FilesThatAreNoBooksNeverStopTheEngine) {
  const std::string empty = tempPath("empty.bin"), stub = tempPath("stub.bin"), junk = tempPath("junk.bin");
  std::ofstream(empty).close();
  std::ofstream(stub) << "1234567";
  {
    std::ofstream out(junk, std::ios::binary);
    for (int i = 0; i < 1600; ++i) out.put((char)(i * 37 + 11));
  }
  Engine e({"position startpos"});
  for (const std::string& book : {std::string("/nonexistent/book.bin"), ::testing::TempDir(), empty, stub, junk,
                                  std::string("/sys/devices/system/cpu/online"), std::string("<empty>")}) {
    // A name that is there but cannot be a book says why; a missing one is
    // silent (the default book is usually absent).
    std::vector<std::string> expected{"info string Book file is " + book};
    if (book == ::testing::TempDir()) expected.push_back("info string Book file " + book + " not opened: not a regular file");
    EXPECT_EQ(e.run({"setoption name Book File value " + book}), expected);
    const std::vector<std::string> lines = e.search("go depth 2");
    EXPECT_TRUE(contains(lines, "info depth 2")) << book;
    EXPECT_NE(lines.back(), "bestmove 0000") << book;
  }
  EXPECT_TRUE(e.run({}).empty());
  for (const std::string& path : {empty, stub, junk}) std::remove(path.c_str());
}

// Switching "OwnBook" on opens the book; switching it off with the book
// open leaves the book unused: the position is searched.
TEST(BookSession, OwnBookSwitchesTheBookOnAndOff) {
  ASSERT_EQ(access(SliceBook.c_str(), R_OK), 0) << SliceBook << " is missing";
  Engine e({"setoption name OwnBook value false", "setoption name Book File value " + SliceBook, "position startpos"});
  EXPECT_FALSE(contains(e.search("go depth 1"), "Checking book"));
  e.run({"setoption name OwnBook value true"});
  std::vector<std::string> lines = e.search("go depth 3");
  EXPECT_TRUE(contains(lines, "Found entry or entries"));
  EXPECT_FALSE(contains(lines, "info depth 2"));
  EXPECT_EQ(lines.back().find("ponder"), std::string::npos) << lines.back();
  e.run({"setoption name OwnBook value false"});
  lines = e.search("go depth 3");
  EXPECT_FALSE(contains(lines, "Checking book"));
  EXPECT_TRUE(contains(lines, "info depth 3"));
  EXPECT_NE(lines.back().find(" ponder "), std::string::npos) << lines.back();
}

// Saving between two searches changes nothing the second search sees;
// loading a damaged file neither; after a clear, loading the saved file
// gives the next search the table back.
TEST(HashSession, ButtonsKeepTheTable) {
  const std::string saved = tempPath("saved.hash"), damaged = tempPath("damaged.hash");
  const std::vector<std::string> setup = {"setoption name Hash value 1", "setoption name OwnBook value false",
                                          "position startpos moves e2e4 e7e5 g1f3"};
  const std::string go = "go depth 9";
  Engine plain(setup);
  const long long first = plain.nodes(go), second = plain.nodes(go);
  EXPECT_LT(second, first);

  Engine saving(setup);
  EXPECT_EQ(saving.nodes(go), first);
  EXPECT_EQ(saving.run({"setoption name Hash File Name value " + saved, "setoption name Save Hash to File"}),
            (std::vector<std::string>{"info string Saving Hash", "info string Hash Saved"}));
  EXPECT_EQ(saving.nodes(go), second);
  saving.run({"setoption name Clear Hash", "setoption name Load Hash from File"});
  EXPECT_LT(saving.nodes(go), first / 2);

  {
    std::ifstream in(saved, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 1u << 20);
    bytes[bytes.size() - 2] = 9;  // an impossible bound in the last slot
    std::ofstream(damaged, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
  }
  Engine loading(setup);
  EXPECT_EQ(loading.nodes(go), first);
  const std::vector<std::string> said =
      loading.run({"setoption name Hash File Name value " + damaged, "setoption name Load Hash from File"});
  ASSERT_EQ(said.size(), 2u);
  EXPECT_NE(said[1].find("table unchanged"), std::string::npos) << said[1];
  EXPECT_EQ(loading.nodes(go), second);
  EXPECT_EQ(loading.run({"setoption name Hash File Name value <empty>", "setoption name Save Hash to File"}),
            std::vector<std::string>{"info string failed to open  (No such file or directory)"});
  std::remove(saved.c_str());
  std::remove(damaged.c_str());
}

// After a search, every changed option empties the table, so the next
// search starts at hashfull 0; the hash-file options keep it as it was at
// the end of the last search.
TEST(HashSession, ChangedOptionsEmptyTheTableButTheHashFileOptionsKeepIt) {
  const std::string file = tempPath("kept.hash");
  Engine e({"setoption name Hash value 1", "setoption name OwnBook value false", "position startpos moves e2e4 e7e5"});
  const std::string go = "go depth 6";
  // The table's fill at the end of a search, from its final "info time" line.
  auto fillAtEnd = [](const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
      if (line.rfind("info time", 0) == 0) return hashfull(line);
    return -1;
  };
  int filled = fillAtEnd(e.search(go));
  // The fill the next search starts with after the option line.
  auto after = [&](const std::string& option) {
    e.run({option});
    const std::vector<std::string> lines = e.search(go);
    filled = fillAtEnd(lines);
    return lines.empty() ? -1 : hashfull(lines.front());
  };
  for (const char* option : {"setoption name Ponder value false", "setoption name Drawscore value 0",
                                    "setoption name SyzygyPath value /nonexistent", "setoption name Clear Hash"}) {
    ASSERT_GT(filled, 0);
    EXPECT_EQ(after(option), 0) << option;
  }
  for (const std::string& option : std::vector<std::string>{"setoption name Hash File Name value " + file, "setoption name Save Hash to File",
                                    "setoption name Load Hash from File"}) {
    const int before = filled;
    ASSERT_GT(before, 0);
    EXPECT_EQ(after(option), before) << option;
  }
  std::remove(file.c_str());
}

// A FIFO, a socket or a directory named as the log file or the hash file
// is refused with one line saying why, and "readyok" follows at once (an
// open of a FIFO that waited for its other end would never return), and so
// is each named as the book, which only a regular file can be.  /dev/null
// stays usable, and so does the log after a refused name.
TEST(FileSession, FifosSocketsAndDirectoriesAreRefusedAtOnce) {
  const std::string fifo = tempPath("fifo"), socketPath = tempPath("socket"), dir = tempPath("dir"),
                    log = tempPath("log");
  std::remove(fifo.c_str());
  std::remove(socketPath.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, (const sockaddr*)&address, sizeof address), 0);
  Engine e({"setoption name Hash value 1", "setoption name Log File value " + log});
  using Lines = std::vector<std::string>;
  auto answer = [&](const Lines& lines) {
    for (const std::string& line : lines) e.process.send(line);
    return e.process.sync(3000).value_or(Lines{"no readyok"});
  };
  for (const auto& [path, why] : {std::pair{fifo, "a FIFO, not a file"}, std::pair{socketPath, "a socket, not a file"},
                                  std::pair{dir, "a directory, not a file"}}) {
    const std::string refused = path + " (" + why + ")";
    EXPECT_EQ(answer({"setoption name Log File value " + path}),
              Lines{"info string Log file " + path + " not opened: " + why});
    EXPECT_EQ(answer({"setoption name Hash File Name value " + path, "setoption name Save Hash to File"}),
              Lines{"info string failed to open " + refused});
    EXPECT_EQ(answer({"setoption name Load Hash from File"}), Lines{"info string failed to open " + refused});
    EXPECT_EQ(answer({"setoption name Book File value " + path}),
              (Lines{"info string Book file is " + path, "info string Book file " + path + " not opened: not a regular file"}));
  }
  EXPECT_EQ(answer({"setoption name Hash File Name value /dev/null", "setoption name Save Hash to File",
                    "setoption name Load Hash from File"}),
            (Lines{"info string Saving Hash", "info string Hash Saved", "info string Loading Hash from /dev/null",
                   "info string File size does not match Hash size"}));
  e.run({"setoption name Log File value <empty>"});
  std::ifstream written(log);
  std::string text((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("uci inp: setoption name Load Hash from File"), std::string::npos) << text;
  EXPECT_EQ(answer({"setoption name Log File value /dev/null"}), Lines{"info string Log file is /dev/null"});
  close(listener);
  std::remove(fifo.c_str());
  std::remove(socketPath.c_str());
  std::remove(log.c_str());
  rmdir(dir.c_str());
}

}  // namespace
