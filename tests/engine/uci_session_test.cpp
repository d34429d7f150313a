// End-to-end tests of the UCI dialogue: the built engine is driven over
// pipes exactly as a chess interface drives it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "engine_process.h"

namespace {

const std::vector<std::string> DefaultListing = {
    "option name Ponder type check default true",
    "option name Hash type spin default 128 min 1 max 65536",
    "option name OwnBook type check default true",
    "option name MultiPV type spin default 1 min 1 max 218",
    "option name Book File type string default orvane.bin",
    "option name Log File type string default <empty>",
    "option name Clear Hash type button",
    "option name Hash File Name type string default <empty>",
    "option name Save Hash to File type button",
    "option name Load Hash from File type button",
    "option name UCI_Chess960 type check default false",
    "option name UCI_AnalyseMode type check default false",
    "option name Use Lmr type check default true",
    "option name Null Move Pruning type check default true",
    "option name Best Book Line type check default false",
    "option name Minimal Reporting type check default false",
    "option name Table Memory type spin default 64 min 1 max 256",
    "option name Threads type spin default 1 min 1 max 64",
    "option name Overhead ms type spin default 30 min 0 max 50000",
    "option name Drawscore type spin default -7 min -200 max 200",
    "option name Time Usage type spin default 0 min -9 max 9",
    "option name Use Syzygy type check default true",
    "option name SyzygyPath type string default <empty>",
    "option name Syzygy Probe Depth type spin default 2 min 0 max 99",
    "option name Syzygy Probe Limit type spin default 6 min 0 max 6",
    "option name Syzygy 50 Move Rule type check default true",
    "option name King Safety type spin default 65 min 0 max 200",
    "option name Selectivity type spin default 80 min 10 max 200",
    "option name Reduction type spin default 0 min -1000 max 150",
    // The playing level follows the design's 29 options.
    "option name UCI_LimitStrength type check default false",
    "option name UCI_Elo type spin default 1500 min 800 max 2850",
};

// Starts the engine and reads past the banner lines.
struct Session {
  EngineProcess engine;
  Session() {
    auto banner = engine.sync(20000);
    EXPECT_TRUE(banner.has_value()) << "engine did not answer isready after start-up";
  }
  // Sends lines, then "isready"; returns what the engine printed before readyok.
  std::vector<std::string> run(const std::vector<std::string>& lines) {
    for (const auto& l : lines) engine.send(l);
    auto out = engine.sync(20000);
    EXPECT_TRUE(out.has_value()) << "no readyok after " << (lines.empty() ? "" : lines.back());
    return out.value_or(std::vector<std::string>{});
  }
  // The "option" lines of a "uci" listing.
  std::vector<std::string> options() {
    engine.send("uci");
    auto out = engine.readUntil("uciok");
    EXPECT_TRUE(out.has_value());
    std::vector<std::string> lines;
    for (auto& l : out.value_or(std::vector<std::string>{}))
      if (l.rfind("option ", 0) == 0) lines.push_back(l);
    return lines;
  }
  std::string optionLine(const std::string& name) {
    for (auto& l : options())
      if (l.rfind("option name " + name + " type", 0) == 0) return l;
    return "";
  }
  // The "Fen: " line of the "d" command.
  std::string fen() {
    for (auto& l : run({"d"}))
      if (l.rfind("Fen: ", 0) == 0) return l.substr(5);
    return "";
  }
};

TEST(UciSession, BannerAndListing) {
  EngineProcess engine;
  auto banner = engine.readLine(20000);
  ASSERT_TRUE(banner.has_value());
  EXPECT_EQ(banner->rfind("Orvane ", 0), 0u) << *banner;
  EXPECT_NE(banner->find(" 64-bit by "), std::string::npos) << *banner;

  engine.send("uci");
  auto out = engine.readUntil("uciok");
  ASSERT_TRUE(out.has_value());
  std::vector<std::string> options;
  std::vector<std::string> ids;
  for (auto& l : *out) {
    if (l.rfind("option ", 0) == 0) options.push_back(l);
    if (l.rfind("id ", 0) == 0) ids.push_back(l);
  }
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0].rfind("id name Orvane ", 0), 0u);
  EXPECT_EQ(ids[0].substr(ids[0].size() - 8), " 64-bit ");
  EXPECT_EQ(ids[1].rfind("id author ", 0), 0u);
  EXPECT_EQ(options, DefaultListing);
}

TEST(UciSession, OptionNamesIgnoreCaseAndValuesAreClamped) {
  Session s;
  EXPECT_TRUE(s.run({"setoption name multipv value 3"}).empty());
  EXPECT_EQ(s.optionLine("MultiPV"), "option name MultiPV type spin default 3 min 1 max 218");
  s.run({"setoption name threads value 100"});
  EXPECT_EQ(s.optionLine("Threads"), "option name Threads type spin default 64 min 1 max 64");
  s.run({"setoption name Drawscore value -500"});
  EXPECT_EQ(s.optionLine("Drawscore"), "option name Drawscore type spin default -200 min -200 max 200");
  s.run({"setoption name OwnBook value 0"});
  EXPECT_EQ(s.optionLine("OwnBook"), "option name OwnBook type check default false");
  s.run({"setoption name uci_elo value 100"});
  EXPECT_EQ(s.optionLine("UCI_Elo"), "option name UCI_Elo type spin default 800 min 800 max 2850");
  s.run({"setoption name UCI_Elo value 4000"});
  EXPECT_EQ(s.optionLine("UCI_Elo"), "option name UCI_Elo type spin default 2850 min 800 max 2850");
  s.run({"setoption name UCI_LimitStrength value 1"});
  EXPECT_EQ(s.optionLine("UCI_LimitStrength"), "option name UCI_LimitStrength type check default true");
  s.run({"setoption name ownbook value true"});
  EXPECT_EQ(s.optionLine("OwnBook"), "option name OwnBook type check default true");
  s.run({"setoption name Hash File Name value my hash file.dat"});
  EXPECT_EQ(s.optionLine("Hash File Name"), "option name Hash File Name type string default my hash file.dat");
  auto book = s.run({"setoption name Book File value other.bin"});
  ASSERT_EQ(book.size(), 1u);
  EXPECT_EQ(book[0], "info string Book file is other.bin");
  // Re-sending the current value changes nothing and prints nothing.
  EXPECT_TRUE(s.run({"setoption name Book File value other.bin"}).empty());
}

TEST(UciSession, UnknownOptionsAndBadValuesAreReported) {
  Session s;
  auto out = s.run({"setoption name No Such Option value 1"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "info string No Such Option not recognized");

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"setoption name Hash value lots", "Hash"},
      {"setoption name MultiPV value 3x", "MultiPV"},
      {"setoption name Ponder value yes", "Ponder"},
      {"setoption name Ponder value True", "Ponder"},
      {"setoption name Threads", "Threads"},
      {"setoption name UCI_Elo value strong", "UCI_Elo"},
      {"setoption name UCI_LimitStrength value on", "UCI_LimitStrength"},
  };
  for (const auto& [line, name] : bad) {
    out = s.run({line});
    ASSERT_EQ(out.size(), 1u) << line;
    EXPECT_EQ(out[0].rfind("info string ", 0), 0u) << out[0];
    EXPECT_NE(out[0].find(name), std::string::npos) << out[0];
    EXPECT_NE(out[0].find(" not recognized "), std::string::npos) << out[0];
  }
  auto listing = s.options();
  EXPECT_EQ(listing, DefaultListing);
}

TEST(UciSession, MalformedPositionsLeaveTheGameAlone) {
  Session s;
  s.run({"position startpos moves e2e4"});
  const std::string before = s.fen();
  ASSERT_EQ(before.rfind("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b", 0), 0u) << before;
  const std::vector<std::string> malformed = {
      "position",
      "position nonsense",
      "position fen",
      "position fen 8/8/8/8/8/8/8/K6k",
      "position fen 8/8/8/8/8/8/8/K6k w",
      "position fen 8/8/8/8/8/8/8/K6k w - moves a1a2",
      "position fen 8/8/8/8/8/8/8/K6k x - -",
      "position fen 8/8/8/8/8/8/8/K6k W - -",
      "position fen 8/8/8/8/8/8/8/8/8/8/8/8/K6k w - -",
      "position fen 99999999999/8/8/8/8/8/8/K6k w - -",
      "position fen KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK w - -",
  };
  for (const std::string& line : malformed) {
    auto out = s.run({line});
    ASSERT_EQ(out.size(), 1u) << line;
    EXPECT_EQ(out[0].rfind("info string ", 0), 0u) << line << " -> " << out[0];
    EXPECT_EQ(s.fen(), before) << line;
  }
}

TEST(UciSession, IllegalMoveEndsTheList) {
  Session s;
  auto out = s.run({"position startpos moves e2e4 e7e5 e1e3 g1f3"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find("e1e3"), std::string::npos) << out[0];
  EXPECT_EQ(s.fen().rfind("rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq", 0), 0u);

  out = s.run({"position startpos moves e2e4 zz9 g8f6"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find("zz9"), std::string::npos) << out[0];
  EXPECT_EQ(s.fen().rfind("rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b", 0), 0u);

  // Upper-case move text is accepted through the text comparison.
  EXPECT_TRUE(s.run({"position startpos moves E2E4 C7C5"}).empty());
  EXPECT_EQ(s.fen().rfind("rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w", 0), 0u);
}

TEST(UciSession, CastlingInBothNotations) {
  Session s;
  EXPECT_TRUE(s.run({"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1g1 e8c8"}).empty());
  EXPECT_EQ(s.fen().rfind("2kr3r/8/8/8/8/8/8/R4RK1 w", 0), 0u) << s.fen();

  s.run({"setoption name UCI_Chess960 value true"});
  EXPECT_TRUE(s.run({"position fen r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1 moves e1h1 e8a8"}).empty());
  EXPECT_EQ(s.fen().rfind("2kr3r/8/8/8/8/8/8/R4RK1 w", 0), 0u) << s.fen();
}

TEST(UciSession, PerftOutput) {
  Session s;
  auto out = s.run({"position startpos", "go perft 3"});
  ASSERT_EQ(out.size(), 22u);
  for (int i = 0; i < 20; ++i) {
    const std::string& l = out[i];
    ASSERT_GE(l.size(), 7u) << l;
    EXPECT_EQ(l.substr(4, 2), ": ") << l;
  }
  EXPECT_NE(std::find(out.begin(), out.end(), "e2e4: 600"), out.end());
  EXPECT_EQ(out[20], "");
  EXPECT_EQ(out[21], "Nodes searched: 8902");

  out = s.run({"position fen r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", "go perft 2"});
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back(), "Nodes searched: 2039");
  EXPECT_NE(std::find(out.begin(), out.end(), "e1g1: 43"), out.end());

  out = s.run({"go perft 0"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].rfind("info string ", 0), 0u);
}

TEST(UciSession, DisplayShowsFenSideAndKey) {
  Session s;
  auto out = s.run({"position startpos moves g1f3", "d"});
  bool fen = false, side = false, key = false;
  for (auto& l : out) {
    fen |= l.rfind("Fen: rnbqkbnr/pppppppp/8/8/8/5N2/PPPPPPPP/RNBQKB1R b KQkq -", 0) == 0;
    side |= l == "Side to move: black";
    key |= l.rfind("Key: ", 0) == 0 && l.size() == 21;
  }
  EXPECT_TRUE(fen && side && key);
}

TEST(UciSession, EndOfInputAndQuitEndTheProcess) {
  {
    EngineProcess engine;
    ASSERT_TRUE(engine.sync(20000).has_value());
    engine.closeInput();
    EXPECT_EQ(engine.waitExit(10000), 0);
  }
  {
    EngineProcess engine;
    engine.send("quitnow");
    EXPECT_EQ(engine.waitExit(20000), 0);
  }
  {
    EngineProcess engine;
    ASSERT_TRUE(engine.sync(20000).has_value());
    engine.send("   quit");
    EXPECT_EQ(engine.waitExit(10000), 0);
  }
  {
    // A last line without a line feed is still read.
    EngineProcess engine;
    ASSERT_TRUE(engine.sync(20000).has_value());
    engine.write("isready");
    engine.closeInput();
    EXPECT_EQ(engine.readLine(10000).value_or(""), "readyok");
    EXPECT_EQ(engine.waitExit(10000), 0);
  }
}

TEST(UciSession, GarbageNeverBreaksTheDialogue) {
  Session s;
  std::mt19937 rng(12345);
  const std::vector<std::string> words = {
      "position", "startpos", "fen",   "moves", "setoption", "name",  "value", "d",    "uci",  "isready",
      "stop",     "ponderhit", "e2e4", "e7e5",  "e1g1",      "a7a8q", "8/8/8", "w",    "b",    "-",
      "KQkq",     "MultiPV",  "Drawscore", "King", "Safety", "0",     "-1",    "99999999999999999999",
      "go",       "perft",    "1",     "eval",  "ucinewgame", "",     "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR",
  };
  std::string batch;
  for (int i = 0; i < 400; ++i) {
    std::string line;
    int mode = rng() % 3;
    if (mode == 0) {
      int n = 1 + rng() % 80;
      for (int k = 0; k < n; ++k) {
        char c = (char)(1 + rng() % 255);
        if (c != '\n') line += c;
      }
    } else {
      int n = 1 + rng() % 10;
      for (int k = 0; k < n; ++k) {
        // Two statements: the order of the draws must not depend on the compiler.
        line += words[rng() % words.size()];
        line += rng() % 5 ? " " : "\t";
      }
      // Keep clear of real searches: "go" only as "go perft".
      if (line.rfind("go", 0) == 0 && line.rfind("go perft", 0) != 0) line = "d " + line;
    }
    if (line.rfind("quit", 0) == 0) line = "x" + line;
    batch += line + "\n";
  }
  batch += "go perft 1\n";
  s.engine.write(batch);
  auto out = s.engine.sync(60000);
  ASSERT_TRUE(out.has_value()) << "engine stopped answering after random input";
  s.engine.send("quit");
  EXPECT_EQ(s.engine.waitExit(10000), 0);
}

// The worst inputs found by fuzzing the engine process: overlong lines,
// embedded NUL and high bytes, lone carriage returns, searches over garbage
// limits, move lists past the line limit, and set-ups that must be refused.
// None may end the process, hang it, or disturb the game.
TEST(UciSession, WorstCaseInputKeepsTheGame) {
  Session s;
  s.run({"position startpos moves e2e4 c7c5 g1f3"});
  const std::string before = s.fen();
  ASSERT_EQ(before.rfind("rnbqkbnr/pp1ppppp/8/2p5/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -", 0), 0u) << before;

  std::string batch;
  batch += std::string(300000, 'x') + "\n";
  batch += "position fen " + std::string(10000, '8') + " w - -\n";
  batch += std::string("posi\0tion startpos\n", 20);
  batch += std::string("\0\0\0isready\n", 11);
  batch += "\x80\xff position startpos\n";
  batch += "\r\r\r\n\f\v\x1b[2J\n";
  batch += "position\tfen\t4k3/8/8/8/8/8/8/4K3\tw\t-\r-\n";  // cut at the carriage return
  batch += "setoption name\nsetoption value 3\nsetoption name value\nsetoption name Hash value\n";
  batch += "setoption name Threads value 99999999999999999999999\n";
  batch += "setoption name Threads value 1\n";
  batch += "go perft 99\ngo perft -5\ngo perft x\ngo perft\n";
  batch += "go wtime x btime -5 movestogo 99999999999 nodes -1\nstop\n";
  batch += "go searchmoves " + std::string(5000, 'e') + "\nstop\n";
  batch += "go depth 1 searchmoves zz9 e2e4 a1a1\n";
  // A move list past the line limit is cut there, not rejected.
  batch += "position startpos moves";
  for (int i = 0; i < 1000; ++i) batch += i % 2 ? " b8c6 c6b8" : " g1f3 f3g1";
  batch += "\n";
  // Refused set-ups: each answered with one info line, the game stays.
  batch += "position fen 4k3/8/8/8/8/8/8/4K3 w - - moves e1e2 e8e7 e2e2 e7e6\n";  // played up to e2e2
  batch += "position startpos moves e2e4 c7c5 g1f3\n";
  batch += "position fen 4k3/8/8/8/8/8/8/P3K3 w - -\n";
  batch += "position fen 4k3/8/8/8/8/N7/PPPPPPPP/NNNNKNNN w - -\n";
  batch += "position fen 4k3/4R3/8/8/8/8/8/4K3 w - -\n";
  batch += "position fen k7/8/8/8/8/8/8/K6K w - -\n";
  batch += "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/ w KQkq -\n";
  batch += "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNRR w KQkq -\n";
  batch += "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR - KQkq -\n";
  batch += "position fen rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w\n";
  s.engine.write(batch);
  auto out = s.engine.sync(60000);
  ASSERT_TRUE(out.has_value()) << "the engine stopped answering";
  EXPECT_EQ(s.fen(), before);
  EXPECT_TRUE(s.run({"go perft 1"}).size() > 2);
  s.engine.send("quit");
  EXPECT_EQ(s.engine.waitExit(10000), 0);
}

TEST(UciSession, RefusedPositionsKeepTheGame) {
  Session s;
  s.run({"position startpos moves e2e4 c7c5 g1f3"});
  const std::string before = s.fen();
  for (const char* line : {"position fen 4k3/8/8/8/8/8/8/P3K3 w - -", "position fen 4k3/8/8/8/8/N7/PPPPPPPP/NNNNKNNN w - -",
                           "position fen 4k3/4R3/8/8/8/8/8/4K3 w - -", "position fen k7/8/8/8/8/8/8/K6K w - -",
                           "position fen 4k3/8/8/8/P7/8/PPPPPPPP/4K3 w - -", "position fen 4k3/8/8/8/8/8/8/4K3X w - -"}) {
    auto out = s.run({line});
    ASSERT_EQ(out.size(), 1u) << line;
    EXPECT_EQ(out[0].rfind("info string ", 0), 0u) << out[0];
    EXPECT_EQ(s.fen(), before) << line;
  }
  // A last rank that ends early is still a board.
  EXPECT_TRUE(s.run({"position fen 4k3/8/8/8/8/8/8/4K w - -"}).empty());
  EXPECT_EQ(s.fen(), "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
  // Moves after an unplayable one are not played; the earlier ones are.
  auto out = s.run({"position fen 4k3/8/8/8/8/8/8/4K3 w - - moves e1e2 e8e7 e2e2 e7e6"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find("e2e2"), std::string::npos) << out[0];
  EXPECT_EQ(s.fen(), "8/4k3/8/8/8/8/4K3/8 w - - 2 1");
}

TEST(UciSession, StopEndsALongPerft) {
  Session s;
  // Far too deep to finish: "stop" must end it, and the "isready" that came
  // first is answered after the perft has ended.
  s.engine.send("go perft 12");
  s.engine.send("isready");
  s.engine.send("stop");
  auto out = s.engine.readUntil("readyok", 20000);
  ASSERT_TRUE(out.has_value()) << "perft did not stop";
  ASSERT_FALSE(out->empty());
  EXPECT_EQ(out->back(), "info string perft stopped");
  for (const auto& l : *out) EXPECT_EQ(l.rfind("Nodes searched", 0), std::string::npos) << l;
  // Lines that arrive during a perft that runs to its end wait for it.
  s.engine.send("go perft 4");
  s.engine.send("isready");
  out = s.engine.readUntil("readyok", 60000);
  ASSERT_TRUE(out.has_value());
  EXPECT_EQ(out->back(), "Nodes searched: 197281");
}

// The "hashfull" figure of an info line, -1 without one.
int hashfullOf(const std::string& line) {
  const size_t at = line.find(" hashfull ");
  return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 10);
}

// After a search, a change of any option but the three hash-file ones
// empties the table, so the next search starts at hashfull 0.  Every option
// of the listing is changed to a neighbouring value and set back, and both
// changes are checked; a button is pressed once.
TEST(UciSession, EveryOptionButTheHashFileOnesEmptiesTheTable) {
  Session s;
  const std::string log = ::testing::TempDir() + "orvane_options_" + std::to_string(getpid()) + ".log";
  s.run({"setoption name Hash value 2", "setoption name OwnBook value false",
         "setoption name Book File value /nonexistent/book.bin", "position startpos moves e2e4 e7e5"});
  const std::vector<std::string> listing = s.options();
  ASSERT_EQ(listing.size(), DefaultListing.size());
  // Searches; returns the fill the search started with, after checking that
  // the previous search (if any) left the table filled.
  int filled = -1;
  auto search = [&] {
    EXPECT_NE(filled, 0) << "the table was not filled before the change";
    s.engine.send("go depth 6");
    std::vector<std::string> lines;
    EXPECT_TRUE(readBestMove(s.engine, 60000, nullptr, &lines));
    int first = -1;
    for (const std::string& line : lines)
      if (hashfullOf(line) >= 0) {
        if (first < 0) first = hashfullOf(line);
        filled = hashfullOf(line);
      }
    return first;
  };
  search();
  int checked = 0;
  for (const std::string& listed : listing) {
    const std::string name = listed.substr(12, listed.find(" type ") - 12);
    if (name == "Hash File Name" || name == "Save Hash to File" || name == "Load Hash from File") continue;
    // The value now (an earlier change may have moved it, as Hash moves
    // Table Memory).
    const std::string line = s.optionLine(name);
    std::istringstream rest(line.substr(line.find(" type ") + 6));
    std::string type, word, current;
    long long min = 0, max = 0;
    rest >> type;
    while (rest >> word) {
      if (word == "default") rest >> current;
      else if (word == "min") rest >> min;
      else if (word == "max") rest >> max;
    }
    std::string changed;
    if (type == "button") changed = "";
    else if (type == "check") changed = current == "true" ? "false" : "true";
    else if (type == "spin") changed = std::to_string(std::stoll(current) > min ? std::stoll(current) - 1 : std::stoll(current) + 1);
    else if (name == "Log File") changed = log;
    else changed = "/nonexistent/" + name;
    for (const std::string& value : {changed, current}) {
      const std::string option = "setoption name " + name + (type == "button" ? "" : " value " + value);
      s.run({option});
      EXPECT_EQ(search(), 0) << option;
      ++checked;
      if (type == "button") break;
    }
  }
  EXPECT_EQ(checked, 2 * ((int)DefaultListing.size() - 3) - 1);
  s.engine.send("quit");
  std::remove(log.c_str());
}

// "quit" during a perft that would run for hours ends the process at once
// with status 0 and no total.  The bound leaves room for a loaded machine
// and a sanitizer build (ThreadSanitizer alone waits a second at exit); the
// count itself needs hours.
TEST(UciSession, QuitEndsALongPerft) {
  EngineProcess engine;
  ASSERT_TRUE(engine.sync(20000).has_value());
  engine.send("go perft 8");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  engine.send("quit");
  EXPECT_EQ(engine.waitExit(10000), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 2.5);
  while (auto line = engine.readLine(100)) EXPECT_EQ(line->rfind("Nodes searched", 0), std::string::npos) << *line;
}

TEST(UciSession, TablebaseSettingsAnnounceTheProbeLimit) {
  Session s;
  auto out = s.run({"setoption name Syzygy Probe Limit value 5"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "info string Probing tablebases up to 0-man.");
  out = s.run({"setoption name SyzygyPath value /nowhere"});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].rfind("info string SyzygyPath: cannot read /nowhere", 0), 0u) << out[0];
  EXPECT_EQ(out[1], "info string Found 0 tablebases (up to 0-man).");
  EXPECT_EQ(out[2], "info string Probing tablebases up to 0-man.");
  EXPECT_EQ(s.optionLine("Syzygy Probe Limit"), "option name Syzygy Probe Limit type spin default 5 min 0 max 6");
}

// Reads lines up to the first beginning with `prefix`; that line is the last.
std::optional<std::vector<std::string>> readUntilPrefix(EngineProcess& engine, const std::string& prefix,
                                                        int timeoutMs = 20000) {
  std::vector<std::string> lines;
  for (;;) {
    auto line = engine.readLine(timeoutMs);
    if (!line) return std::nullopt;
    lines.push_back(*line);
    if (line->rfind(prefix, 0) == 0) return lines;
  }
}

TEST(UciSession, CommandsDuringASearchWaitForTheAnswer) {
  Session s;
  s.engine.send("position startpos");
  s.engine.send("go infinite");
  ASSERT_TRUE(readUntilPrefix(s.engine, "info").has_value()) << "the search did not start";
  // Ignored: a search is running and nothing is waiting.
  s.engine.sendUnanswered("go depth 1");
  s.engine.send("position startpos moves e2e4");
  s.engine.send("d");
  s.engine.send("setoption name MultiPV value 2");
  auto during = s.engine.sync(20000);
  ASSERT_TRUE(during.has_value()) << "isready not answered during the search";
  for (const auto& l : *during) EXPECT_EQ(l.rfind("info", 0), 0u) << "ran during the search: " << l;
  s.engine.send("stop");
  auto answer = readUntilPrefix(s.engine, "bestmove");
  ASSERT_TRUE(answer.has_value()) << "no bestmove after stop";
  auto after = s.engine.sync(20000);
  ASSERT_TRUE(after.has_value());
  bool sawFen = false;
  for (const auto& l : *after) {
    EXPECT_EQ(l.rfind("bestmove", 0), std::string::npos) << "second answer: " << l;
    sawFen |= l.rfind("Fen: rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -", 0) == 0;
  }
  EXPECT_TRUE(sawFen) << "the held-back position and d did not run after the answer";
  EXPECT_EQ(s.optionLine("MultiPV"), "option name MultiPV type spin default 2 min 1 max 218");
}

TEST(UciSession, GoAfterStopIsAnswered) {
  Session s;
  s.engine.send("go infinite");
  ASSERT_TRUE(readUntilPrefix(s.engine, "info").has_value());
  s.engine.send("stop");
  s.engine.send("position startpos moves d2d4");
  s.engine.send("go depth 2");
  ASSERT_TRUE(readUntilPrefix(s.engine, "bestmove").has_value());
  auto second = readUntilPrefix(s.engine, "bestmove");
  ASSERT_TRUE(second.has_value()) << "the go sent after stop was lost";
}

// Both quits end a search and the process, the input left open: "quit"
// ends the input thread's reading, " quit" only the handler recognises
// (from the search's poll), so the quit sequence must interrupt the input
// thread's blocked read.
TEST(UciSession, QuitDuringASearchEndsWithoutAnswer) {
  for (const std::string quit : {"quit", " quit"}) {
    Session s;
    s.engine.send("go infinite");
    ASSERT_TRUE(readUntilPrefix(s.engine, "info").has_value());
    s.engine.send(quit);
    EXPECT_EQ(s.engine.waitExit(10000), 0) << '"' << quit << '"';
    while (auto line = s.engine.readLine(100))
      EXPECT_EQ(line->rfind("bestmove", 0), std::string::npos) << '"' << quit << "\": " << *line;
  }
}

TEST(UciSession, LogFileRecordsInputLines) {
  char path[] = "/tmp/orvane-log-XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  Session s;
  auto out = s.run({std::string("setoption name Log File value ") + path});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], std::string("info string Log file is ") + path);
  s.run({});  // this isready is read after the log was opened
  s.run({"setoption name Log File value <empty>"});
  EXPECT_EQ(s.optionLine("Log File"), "option name Log File type string default <empty>");
  std::ifstream log(path);
  std::string line;
  bool found = false;
  while (std::getline(log, line)) {
    // "%10.3f uci inp: isready"
    if (line.size() > 11 && line[10] == ' ' && line.substr(11) == "uci inp: isready") found = true;
  }
  EXPECT_TRUE(found);
  std::remove(path);
}

TEST(UciSession, FenClockFieldsAndGoBeforePosition) {
  Session s;
  // "go" before any "position" searches the start position.
  s.engine.send("go depth 1");
  auto answer = readUntilPrefix(s.engine, "bestmove");
  ASSERT_TRUE(answer.has_value());
  const std::string& best = answer->back();
  EXPECT_TRUE(best.rfind("bestmove ", 0) == 0 && best.size() >= 13) << best;
  s.run({});

  auto key = [&](const std::string& position) {
    for (auto& l : s.run({position, "d"}))
      if (l.rfind("Key: ", 0) == 0) return l;
    return std::string();
  };
  const std::string four = key("position fen r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -");
  EXPECT_FALSE(four.empty());
  EXPECT_EQ(key("position fen r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - 2 3"), four);
  EXPECT_EQ(key("position startpos moves e2e4 e7e5 g1f3 b8c6"), four);
}

TEST(UciSession, UnchangedValuesDoNothingAndThreadChangesAreAnnounced) {
  Session s;
  EXPECT_TRUE(s.run({"setoption name Hash value 128"}).empty());
  auto out = s.run({"setoption name Threads value 4"});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], "info string Threads now set to 4");
  EXPECT_TRUE(s.run({"setoption name Threads value 4"}).empty());
}

TEST(UciSession, OtherArgumentsAreIgnored) {
  // Any other first argument is ignored and the dialogue runs.
  EngineProcess engine({"notbench"});
  ASSERT_TRUE(engine.sync(20000).has_value());
}

}  // namespace
