#include "engine/uci.h"

#include <cstdio>
#include <cstdlib>
#include <deque>

#include "board/movegen.h"
#include "board/movetext.h"
#include "board/output.h"
#include "board/settings.h"
#include "engine/go.h"
#include "engine/input.h"
#include "engine/options.h"
#include "eval/evaluate.h"
#include "platform/memory.h"
#include "search/flags.h"
#include "search/search.h"
#include "search/threads.h"
#include "tb/probe.h"

double startTime = 0.0;

namespace {

// Two game lines: "position" builds the new game in the spare one and makes
// it the active one only when the set-up succeeded, so bad input never
// leaves a half-built game behind.
GameLine gameLines[2];
int activeLine = 0;
bool gameReady = false;

// Lines held back while a search runs (see uci.h), oldest first.
std::deque<std::string> deferredLines;
constexpr size_t MaxDeferredLines = 1024;

constexpr size_t MaxValueLength = 1023;
constexpr int MaxPerftDepth = 20;

// Input text echoed in a message, with control bytes made visible as '?'.
std::string shown(const std::string& text) {
  std::string out = text.substr(0, 200);
  for (char& c : out)
    if ((unsigned char)c < 32 || c == 127) c = '?';
  return out;
}

struct Token {
  std::string text;
  size_t offset;  // where it starts in the line
};

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<Token> tokenize(const std::string& line) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isSeparator(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !isSeparator(line[i])) ++i;
    if (i > start) tokens.push_back({line.substr(start, i - start), start});
  }
  return tokens;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
  return true;
}

void setStartPosition() {
  GameLine& game = gameLines[activeLine];
  setPosition(game.positions[0], StartFen);
  game.current = 0;
  gameReady = true;
}

// ---------------------------------------------------------------- position

// The move a text names directly: from and to squares, a double push when a
// pawn of the side to move goes two ranks, and a lower-case promotion
// letter.  0 when the text is not of that shape.
Move directMove(const Position& pos, const std::string& text) {
  if (text.size() != 4 && text.size() != 5) return 0;
  auto square = [&](size_t i) -> int {
    if (text[i] < 'a' || text[i] > 'h' || text[i + 1] < '1' || text[i + 1] > '8') return -1;
    return (text[i] - 'a') + 8 * (text[i + 1] - '1');
  };
  int from = square(0), to = square(2);
  if (from < 0 || to < 0) return 0;
  int kind = KindNormal;
  if (pos.board[from] == pieceCode(pos.sideToMove(), Pawn) && (from - to == 16 || to - from == 16))
    kind = KindDouble;
  if (text.size() == 5) {
    switch (text[4]) {
      case 'q': kind = KindPromoQueen; break;
      case 'n': kind = KindPromoKnight; break;
      case 'r': kind = KindPromoRook; break;
      case 'b': kind = KindPromoBishop; break;
      default: return 0;
    }
  }
  return makeMove16(from, to, kind);
}

// Plays one listed move on the game line.  The direct reading is tried
// first; otherwise the text is compared, ignoring case, with the text of
// every generated move, which accepts castling given as the king's
// destination ("e1g1") and in Chess960 as king takes rook ("e1h1").
bool playListedMove(GameLine& game, const std::string& text) {
  if (game.current + 1 >= GameLineSize) return false;
  const Position& pos = game.positions[game.current];
  Position& child = game.positions[game.current + 1];
  bool played = false;
  Move direct = directMove(pos, text);
  if (direct && isPseudoLegal(pos, direct) && makeMove(pos, child, direct)) played = true;
  if (!played) {
    int list[MaxMoves];
    int count = generateAll(pos, list);
    for (int i = 0; i < count && !played; ++i) {
      Move m = entryMove(list[i]);
      if (!equalsIgnoringCase(moveToText(m), text)) continue;
      if (makeMove(pos, child, m)) played = true;
      else std::fprintf(stderr, "Cannot execute move %s\n", shown(text).c_str());
    }
  }
  if (!played) return false;
  child.previous = &pos;
  child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
  ++game.current;
  return true;
}

// "position startpos|fen <4 fields> [moves ...]".  Input that cannot be set
// up is refused with one message and the game stays as it was; a move that
// cannot be played ends the move list there (the moves before it stand).
void positionCommand(const std::vector<Token>& tokens) {
  if (tokens.size() < 2) {
    writeLine("info string position needs \"startpos\" or \"fen\"; position unchanged");
    return;
  }
  std::string fen;
  size_t searchFrom;
  if (tokens[1].text == "startpos") {
    fen = StartFen;
    searchFrom = 2;
  } else if (tokens[1].text == "fen") {
    size_t fields = 0;
    while (2 + fields < tokens.size() && tokens[2 + fields].text != "moves") ++fields;
    if (fields < 4) {
      writeLine("info string FEN needs board, side to move, castling and en-passant fields; position unchanged");
      return;
    }
    if (tokens[3].text != "w" && tokens[3].text != "b") {
      writeLine("info string Bad side to move \"%s\" in FEN; position unchanged", shown(tokens[3].text).c_str());
      return;
    }
    fen = tokens[2].text + " " + tokens[3].text + " " + tokens[4].text + " " + tokens[5].text;
    searchFrom = 5;
  } else {
    writeLine("info string Unknown position keyword \"%s\", expected startpos or fen; position unchanged",
        shown(tokens[1].text).c_str());
    return;
  }

  GameLine& game = gameLines[1 - activeLine];
  std::string error;
  if (!setPosition(game.positions[0], fen.c_str(), &error)) {
    writeLine("info string Bad FEN \"%s\": %s; position unchanged", shown(fen).c_str(), shown(error).c_str());
    return;
  }
  game.current = 0;
  activeLine = 1 - activeLine;

  size_t i = searchFrom;
  while (i < tokens.size() && tokens[i].text != "moves") ++i;
  for (++i; i < tokens.size(); ++i) {
    if (game.current + 1 >= GameLineSize) {
      writeLine("info string Too many moves, the game holds %d positions; moves from %s on ignored", GameLineSize,
          shown(tokens[i].text).c_str());
      return;
    }
    if (!playListedMove(game, tokens[i].text)) {
      writeLine("info string Illegal move %s; it and the moves after it are ignored", shown(tokens[i].text).c_str());
      return;
    }
  }
}

// ---------------------------------------------------------------- setoption

// "quit" has arrived: the process ends once the lines before it are done,
// so nothing need wait for a table it will never search.
bool endingSoon() { return quitRequested.load(std::memory_order_relaxed) != 0; }

// "setoption name <name> value <value>": names are matched ignoring case;
// the value is the rest of the line, inner blanks kept.  Only a changed
// value is applied.  Every change rebuilds the evaluation and search tables
// and so, after a search, empties the transposition table, whose entries
// may hold results of the old settings; only the hash-file options keep it.
void setoptionCommand(const std::string& line, const std::vector<Token>& tokens) {
  std::string name, value;
  bool inName = false;
  for (size_t i = 1; i < tokens.size(); ++i) {
    if (tokens[i].text == "name") {
      inName = true;
    } else if (tokens[i].text == "value") {
      if (i + 1 < tokens.size()) {
        value = line.substr(tokens[i + 1].offset, MaxValueLength);
        size_t end = value.find_last_not_of(" \t");
        value.erase(end + 1);
      }
      break;
    } else if (inName) {
      if (!name.empty()) name += ' ';
      name += tokens[i].text;
    }
  }
  if (name.empty()) {
    writeLine("info string setoption needs \"name <option>\"");
    return;
  }
  std::string registeredName;
  OptionRecord* option = findOption(name, &registeredName);
  if (!option) {
    writeLine("info string %s not recognized", shown(name).c_str());
    return;
  }
  if (option->type != "button" && value == optionValueText(*option)) return;
  std::string error;
  if (!setOptionFromText(*option, value, &error)) {
    writeLine("info string Value \"%s\" not recognized for option %s (%s); option unchanged", shown(value).c_str(),
        registeredName.c_str(), error.c_str());
    return;
  }
  if (optionRebuildsTables(registeredName)) initTables();
  // Pool rebuilds wait while a search runs; the driver catches up at the
  // next "go".
  bool idle = !searching.load(std::memory_order_relaxed);
  if (idle && settings::threads != threadCount) {
    buildPool();
    writeLine("info string Threads now set to %d", threadCount);
  }
  if (settings::tableMemory > settings::hashMb) settings::tableMemory = settings::hashMb;
  if (idle && settings::tableMemory != builtTableMemory) {
    builtTableMemory = settings::tableMemory;
    buildPool();
  }
  // A resized table is in memory before the next command, "isready" and
  // "go" included, unless the process is ending anyway.
  waitForPrefault(endingSoon);
}

// ---------------------------------------------------------------- extras

void deferLine(const std::string& line);
std::string firstWord(std::string line);
bool isQuitLine(const std::string& line);
void takeQuitLine(const std::string& line);

// Looks at what arrived while a perft runs: "quit" or a "stop" line ends it
// at once (after "quit" the process then ends); every other line is held
// back in arrival order and carried out once the perft has answered (so
// "isready" is still answered after its result).  The end of input does not
// end it: a script that pipes in "go perft 6" gets its total.
bool perftStopRequested() {
  if (quitRequested.load(std::memory_order_relaxed)) return true;
  while (!commandQueueEmpty()) {
    std::optional<std::string> line = popCommand();
    if (!line) break;
    if (firstWord(*line) == "stop") return true;
    if (isQuitLine(*line)) {
      takeQuitLine(*line);
      return true;
    }
    deferLine(*line);
  }
  return false;
}

// Leaf count of a perft that looks for a reason to stop at every node two
// or more plies above the leaves (below it, one move count); *stopped is
// set when one came.  The table is never read, so moves are made without
// fetching its lines.
uint64_t stoppablePerft(const Position& pos, int depth, bool* stopped) {
  if (depth < 2) return perft(pos, depth);
  if (*stopped || (*stopped = perftStopRequested())) return 0;
  int list[MaxMoves];
  int count = generateAll(pos, list);
  uint64_t total = 0;
  Position child;
  for (int i = 0; i < count && !*stopped; ++i) {
    if (!makeMoveNoPrefetch(pos, child, entryMove(list[i]))) continue;
    child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
    total += stoppablePerft(child, depth - 1, stopped);
  }
  return total;
}

// "go perft N": the leaf count below every legal root move, then the total.
// A "stop" or "quit" line ends a count of three or more plies early; the
// lines printed so far stand and no total follows.
void perftCommand(const std::vector<Token>& tokens) {
  long depth = 0;
  if (tokens.size() >= 3) {
    char* end = nullptr;
    depth = std::strtol(tokens[2].text.c_str(), &end, 10);
    if (*end != '\0') depth = 0;
  }
  if (depth < 1 || depth > MaxPerftDepth) {
    writeLine("info string go perft needs a depth from 1 to %d", MaxPerftDepth);
    return;
  }
  const Position& pos = currentPosition();
  int list[MaxMoves];
  int count = generateAll(pos, list);
  uint64_t total = 0;
  bool stopped = false;
  for (int i = 0; i < count; ++i) {
    Move m = entryMove(list[i]);
    Position child;
    if (!makeMove(pos, child, m)) continue;
    child.previous = &pos;
    child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
    uint64_t nodes = depth == 1 ? 1 : stoppablePerft(child, (int)depth - 1, &stopped);
    if (stopped) {
      writeLine("info string perft stopped");
      return;
    }
    writeLine("%s: %llu", moveToText(m).c_str(), (unsigned long long)nodes);
    total += nodes;
  }
  writeLine("%s", "");
  writeLine("Nodes searched: %llu", (unsigned long long)total);
}

// "d": a board diagram of the current position, its FEN and hash key.
void displayCommand() {
  const Position& pos = currentPosition();
  const char* letters = " pnbrqk";
  writeLine(" +---+---+---+---+---+---+---+---+");
  for (int rank = 7; rank >= 0; --rank) {
    std::string row = " |";
    for (int file = 0; file < 8; ++file) {
      int code = pos.board[makeSquare(file, rank)];
      char c = ' ';
      if (code && typeOfCode(code) >= Pawn && typeOfCode(code) <= King) {
        c = letters[typeOfCode(code)];
        if (colourOfCode(code) == White) c = (char)std::toupper(c);
      }
      row += ' ';
      row += c;
      row += " |";
    }
    writeLine("%s %d", row.c_str(), rank + 1);
    writeLine(" +---+---+---+---+---+---+---+---+");
  }
  writeLine("   a   b   c   d   e   f   g   h");
  writeLine("%s", "");
  writeLine("Fen: %s", positionToFen(pos).c_str());
  writeLine("Side to move: %s", pos.sideToMove() == White ? "white" : "black");
  writeLine("Key: %016llx", (unsigned long long)pos.key);
  // Tablebase values when the loaded tables cover the position.
  int success = 0;
  if (maxMen == 0 || popcount(pos.occupied) > maxMen) return;
  int wdl = probeWdl(pos, &success);
  if (!success) return;
  writeLine("Tablebases WDL: %d", wdl);
  int dtz = probeDtz(pos, &success);
  if (success) writeLine("Tablebases DTZ: %d", dtz);
}

// "eval": the evaluation terms of the current position.  The position is
// evaluated as a copy with caches of its own, so the command never touches
// the search threads' tables, nor the index masks they share (the trace
// reads no cache, so the small set is never indexed with those masks).
void evalCommand() {
  static EvalCaches caches;
  if (!caches.evalCache) allocateEvalCaches(caches, 1, 1, CacheMasks::Untouched);
  Position pos = currentPosition();
  attachEvalCaches(pos, caches);
  std::string trace = evalTrace(pos);
  if (!trace.empty() && trace.back() != '\n') trace += '\n';
  writeText(trace);
}

// ---------------------------------------------------------------- dispatch

void uciCommand() {
  writeLine("id name Orvane %s 64-bit ", ORVANE_VERSION);
  writeLine("id author %s", EngineAuthors);
  for (const std::string& line : optionListing()) writeLine("%s", line.c_str());
  writeLine("uciok");
}

// Commands whose effect would change what a running search reads.
bool changesSearchInput(const std::vector<Token>& tokens) {
  const std::string& c = tokens[0].text;
  return c == "position" || c == "ucinewgame" || c == "setoption" || c == "d" || c == "eval" ||
         (c == "go" && tokens.size() > 1 && tokens[1].text == "perft");
}

void deferLine(const std::string& line) {
  if (deferredLines.size() >= MaxDeferredLines) {
    writeLine("info string Too many commands waiting for the search; \"%s\" dropped",
              shown(line.substr(0, 40)).c_str());
    return;
  }
  deferredLines.push_back(line);
}

// The part of a line the handler reads: nothing when it begins with a NUL
// or a byte above 127, else up to the longest kept length and the first
// carriage return, line feed or form feed.
std::string commandText(std::string line) {
  if (line.empty() || line[0] == '\0' || (unsigned char)line[0] >= 128) return "";
  if (line.size() > MaxLineLength) line.resize(MaxLineLength);
  size_t cut = line.find_first_of("\r\n\f");
  if (cut != std::string::npos) line.resize(cut);
  return line;
}

// The command word of a line as the handler reads it ("" when none).
std::string firstWord(std::string line) {
  std::vector<Token> tokens = tokenize(commandText(std::move(line)));
  return tokens.empty() ? "" : tokens[0].text;
}

// A line that ends the dialogue: one the input thread stops reading at
// (beginning with "quit") or one the handler reads as "quit".
bool isQuitLine(const std::string& line) { return line.compare(0, 4, "quit") == 0 || firstWord(line) == "quit"; }

// The handler has taken the "quit" line itself: the quit is raised (a
// running search or count stops), and the line goes to the end of the
// held-back lines, where carrying out the lines before the quit stops.
// Nothing is taken off the queue after it, so it is the last one there.
void takeQuitLine(const std::string& line) {
  quitRequested.store(1, std::memory_order_relaxed);
  deferredLines.push_back(line);
}

// Carries out one line (already taken off a queue).
void executeLine(std::string line) {
  line = commandText(std::move(line));
  std::vector<Token> tokens = tokenize(line);
  if (tokens.empty()) return;
  const std::string& command = tokens[0].text;
  // Once "quit" has arrived no search or count starts: the process ends
  // instead of answering it.
  if (command == "go" && quitRequested.load(std::memory_order_relaxed)) return;

  if (searching.load(std::memory_order_relaxed)) {
    // A stopped search is about to answer: a "go" after the "stop" belongs
    // after the answer, as does one that follows held-back lines.
    bool goAfterAnswer = command == "go" && (threadSignals[0].stop.load(std::memory_order_relaxed) ||
                                             !deferredLines.empty());
    if (changesSearchInput(tokens) || goAfterAnswer) {
      deferLine(line);
      return;
    }
  }

  if (command == "uci") uciCommand();
  else if (command == "isready") writeLine("readyok");
  else if (command == "ucinewgame") {}
  else if (command == "position") positionCommand(tokens);
  else if (command == "setoption") setoptionCommand(line, tokens);
  else if (command == "stop") threadSignals[0].stop.store(1, std::memory_order_relaxed);
  else if (command == "ponderhit") pondering.store(0, std::memory_order_relaxed);
  else if (command == "quit") takeQuitLine(line);
  else if (command == "go") {
    if (tokens.size() > 1 && tokens[1].text == "perft") perftCommand(tokens);
    else if (searching.load(std::memory_order_relaxed)) contempt = settings::drawScore;
    else {
      std::vector<std::string> words;
      for (const Token& t : tokens) words.push_back(t.text);
      goCommand(words);
    }
  } else if (command == "d") displayCommand();
  else if (command == "eval") evalCommand();
}

}  // namespace

GameLine& gameLine() {
  if (!gameReady) setStartPosition();
  return gameLines[activeLine];
}

Position& currentPosition() {
  GameLine& game = gameLine();
  return game.positions[game.current];
}

std::vector<std::string> splitTokens(const std::string& line) {
  std::vector<std::string> words;
  for (Token& t : tokenize(line)) words.push_back(std::move(t.text));
  return words;
}

bool hasDeferredCommands() { return !deferredLines.empty(); }

void carryOutLinesBeforeQuit() {
  for (;;) {
    std::optional<std::string> line;
    if (!deferredLines.empty()) {
      line = std::move(deferredLines.front());
      deferredLines.pop_front();
    } else {
      line = popCommand();
    }
    if (!line || isQuitLine(*line)) return;
    executeLine(std::move(*line));
  }
}

// The input thread is joined first, so every line it read is queued.  A
// search the quit cut short ends here without an answer (the GUI that sent
// "quit" no longer listens for one); with its helpers stopped, the lines
// that came before the quit run as after any search.
void runQuitSequence() {
  quitRequested.store(1, std::memory_order_relaxed);
  joinInputThread();
  stopPool();
  searching.store(0, std::memory_order_relaxed);
  carryOutLinesBeforeQuit();
  stopPool();
  std::fflush(stdout);
  std::exit(0);
}

// Takes one line, held-back lines first once the search is over, and
// carries it out.  A pending quit ends the process (once a running search
// has stopped, through the search's own quit check); after the end of input
// a running search also finishes and answers first, so commands piped in
// ahead of the end of input are not lost.
void handleCommand() {
  if (!gameReady) setStartPosition();
  bool idle = !searching.load(std::memory_order_relaxed);
  if (quitRequested.load(std::memory_order_relaxed)) {
    if (idle) runQuitSequence();
    return;
  }
  if (idle && deferredLines.empty() && inputEnded.load(std::memory_order_acquire) && commandQueueEmpty())
    runQuitSequence();
  if (idle && !deferredLines.empty()) {
    std::string line = std::move(deferredLines.front());
    deferredLines.pop_front();
    executeLine(std::move(line));
    return;
  }
  std::optional<std::string> line = popCommand();
  if (line) executeLine(std::move(*line));
}
