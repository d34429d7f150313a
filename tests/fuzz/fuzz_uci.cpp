// Feeds arbitrary bytes to the engine as its standard input, on a fresh
// engine state per input.  The bytes are cut into lines by the input
// thread's own line splitter (carriage returns and NUL bytes stay in the
// line, a line longer than the longest kept is cut, a last line needs no
// line feed) and queued by the input thread's own acceptLine; then the
// main loop's work runs: one queued line per handler call until the queue
// and the held-back lines are empty.  So
// every line after a "go" arrives while that search runs and is taken by
// the search's own poll: "stop", "isready" and "ponderhit" act at once,
// "position", "setoption" and the rest are held back to run after the
// answer.  Input ends with the bytes (as when a script closes the pipe), so
// a ponder or infinite search ends once no line is left.
//
// Searches are kept short without changing what the engine does with its
// limits: depths above 2 become 2, node counts above 2000 wrap below it,
// and clock values (wtime, btime, winc, binc, movetime) wrap to at most 8
// milliseconds, so the time allocation and the deadlines run on them.  The
// time allocation also runs on the unscaled values of every "go" line and
// must give a finite positive target.  The main thread polls the clock and
// the queue every 128 nodes instead of 4096, so a sanitized search of a few
// hundred nodes still takes commands.  "go perft" counts to at most 3, the
// least depth at which the count looks for "stop" and takes the lines that
// arrive meanwhile; "Hash" and "Table Memory" stay small and "Threads" at
// 1, and every option naming a file or folder points into the process's
// scratch folder.
//
// A "quit" line (one acceptLine stops reading at, or one the handler reads
// as "quit") ends the input; the quit is raised as the input thread raises
// it, before the handler has taken any line, and the quit sequence's own
// first step carries out the lines before it, without ending the process.
//
// Checks: the output is captured, every write must be whole lines, and
// every "bestmove" must name a legal move of the position searched ("0000"
// exactly when it has none) and its ponder move a legal reply; after every
// handler call the game line must pass the position check (all of it when
// it changed) and every file option must stay inside the scratch folder;
// without a "quit" line the quit flag and the quit sequence must never be
// reached; with one, the lines before it must all be taken, and neither a
// search nor a count may start (no "bestmove", no "Nodes searched").
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "board/movetext.h"
#include "board/settings.h"
#include "engine/go.h"
#include "engine/input.h"
#include "engine/options.h"
#include "engine/uci.h"
#include "search/flags.h"
#include "search/searchthread.h"
#include "search/timeman.h"
#include "tt/tt.h"
#include "common.h"

namespace {

constexpr int MaxLinesPerInput = 48;
constexpr int MaxSearchesPerInput = 2;
constexpr long long MaxSearchDepth = 2;
constexpr long long MaxPerftDepth = 3;
constexpr long long MaxNodes = 2000;
constexpr long long MaxClockMs = 8;
constexpr uint32_t PollInterval = 128;

std::string lowered(std::string text) {
  for (char& c : text) c = (char)std::tolower((unsigned char)c);
  return text;
}

std::string joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) line += (line.empty() ? "" : " ") + w;
  return line;
}

// A number text as the engine reads it (a leading decimal number, 0 when
// there is none); above hi it wraps into 1..hi, otherwise it stays as written.
std::string wrapped(const std::string& text, long long hi) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  return v > hi ? std::to_string(1 + (v - 1) % hi) : text;
}

// The time allocation on a "go" line's own numbers, for both sides and
// early and late in the game: every target must be finite and positive.
void checkAllocation(const std::vector<std::string>& words) {
  const GoLimits limits = parseGoLimits(words);
  const int savedRatio = hardRatio;
  for (double remaining : {limits.wtime, limits.btime})
    for (double increment : {limits.winc, limits.binc})
      for (int moveNumber : {1, 60}) {
        const TimeBudget a = allocateSuddenDeath(remaining, increment, moveNumber);
        const TimeBudget b = allocateMovesToGo(remaining, limits.movesToGo);
        if (!std::isfinite(a.target) || a.target <= 0 || std::isnan(a.maximum) || !std::isfinite(b.target) ||
            b.target <= 0)
          fuzzFailure("time allocation of \"" + joined(words) + "\" gives targets " + std::to_string(a.target) +
                      " and " + std::to_string(b.target));
      }
  hardRatio = savedRatio;
}

// "go perft N" with N at most 3; any other "go" keeps its words, with
// depths, node counts and clock values bounded.
std::string boundedGo(std::vector<std::string> words) {
  if (words.size() > 1 && words[1] == "perft") {
    // Depths the handler refuses stay as they are.
    if (words.size() > 2 && std::atol(words[2].c_str()) > MaxPerftDepth && std::atol(words[2].c_str()) <= 20)
      words[2] = std::to_string(MaxPerftDepth);
    return joined(words);
  }
  checkAllocation(words);
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    const std::string& w = words[i];
    std::string& v = words[i + 1];
    if (w == "depth") v = wrapped(v, MaxSearchDepth);
    else if (w == "nodes") v = v[0] == '-' ? v : wrapped(v, MaxNodes);
    else if (w == "wtime" || w == "btime" || w == "winc" || w == "binc" || w == "movetime") v = wrapped(v, MaxClockMs);
    else if (w != "movestogo") continue;
    ++i;  // the value is not read as a word of its own, as in the handler
  }
  return joined(words);
}

// The scratch-folder name that stands for a file name value.
std::string scratchName(const std::string& value, const char* folder) {
  if (value.empty() || value == "<empty>") return value;
  std::string name;
  for (char c : value)
    if (std::isalnum((unsigned char)c) || c == '.' || c == '-' || c == '_') name += c;
  if (name.empty() || name == "." || name == "..") name = "file";
  return scratchDir() + "/" + folder + "/" + name.substr(0, 24);
}

// The number text of a bounded numeric option: values the handler reads as
// above hi become hi.
std::string atMost(const std::string& text, long long hi) {
  return std::strtoll(text.c_str(), nullptr, 10) > hi ? std::to_string(hi) : text;
}

// "setoption" lines whose value needs bounding, rebuilt; others unchanged.
std::string boundedSetoption(const std::string& line, const std::vector<std::string>& words) {
  // The name as the handler reads it: the words after "name", up to "value".
  std::string name, value;
  bool inName = false;
  size_t i = 1;
  for (; i < words.size() && words[i] != "value"; ++i) {
    if (words[i] == "name") inName = true;
    else if (inName) name += (name.empty() ? "" : " ") + words[i];
  }
  for (++i; i < words.size(); ++i) value += (value.empty() ? "" : " ") + words[i];
  const std::string key = lowered(name);
  if (key == "threads") value = atMost(value, 1);
  else if (key == "hash" || key == "table memory") value = atMost(value, 2);
  else if (key == "book file" || key == "log file" || key == "hash file name") value = scratchName(value, "files");
  else if (key == "syzygypath") value = value.empty() || value == "<empty>" ? value : scratchDir() + "/tb";
  else return line;
  return "setoption name " + name + " value " + value;
}

struct InputState {
  int lines = 0;
  int searches = 0;
  bool quit = false;  // the input ended at a "quit" line
};
InputState input;

// The input thread's hand-off for the fuzz run: each line the splitter
// completes is bounded and handed to acceptLine.  A "quit" line ends the
// input here (false): the one acceptLine refuses, as the input thread stops
// reading there, and one only the handler reads as "quit" (after blanks),
// since the lines after it never run.
bool acceptFuzzedLine(const std::string& raw) {
  if (raw.empty()) return true;
  if (++input.lines > MaxLinesPerInput) return false;
  // The words as the handler reads them (it cuts the line at the first
  // carriage return or form feed); the raw line goes on when unchanged.
  std::string cut = raw.substr(0, raw.find_first_of("\r\n\f"));
  const std::vector<std::string> words = splitTokens(cut);
  std::string line = raw;
  if (!words.empty() && words[0] == "go") {
    const bool perft = words.size() > 1 && words[1] == "perft";
    if (!perft && ++input.searches > MaxSearchesPerInput) return true;
    line = boundedGo(words);
  } else if (!words.empty() && words[0] == "setoption") {
    const std::string bounded = boundedSetoption(cut, words);
    if (bounded != cut) line = bounded;
  }
  input.quit = !acceptLine(line) || (!words.empty() && words[0] == "quit");
  return !input.quit;
}

// Standard output, captured: every write of the engine must end a line.
std::string output;

ssize_t captureWrite(void*, const char* bytes, size_t size) {
  output.append(bytes, size);
  if (size == 0 || bytes[size - 1] != '\n')
    fuzzFailure("output written in pieces: \"" + std::string(bytes, size) + "\"");
  return (ssize_t)size;
}

void captureStandardOutput() {
  cookie_io_functions_t sink{};
  sink.write = captureWrite;
  FILE* capture = fopencookie(nullptr, "w", sink);
  if (!capture) fuzzFailure("cannot open the output capture");
  std::setvbuf(capture, nullptr, _IONBF, 0);
  stdout = capture;
}

// The next poll of the main search thread comes PollInterval nodes from now.
void pollSoon() {
  if (searchThreads[0]) searchThreads[0]->pollCounter = (searchThreads[0]->pollCounter | 0xFFF) - (PollInterval - 1);
}

bool queueIsEmptyPollingSoon() {
  pollSoon();
  return commandQueueEmpty();
}

// The legal moves of pos by their texts.
std::vector<std::string> legalTexts(const Position& pos) {
  std::vector<std::string> texts;
  int list[MaxMoves];
  const int n = generateAll(pos, list);
  Position child;
  for (int i = 0; i < n; ++i)
    if (makeMove(pos, child, entryMove(list[i]))) texts.push_back(moveToText(entryMove(list[i])));
  return texts;
}

// The child of pos after the legal move with the text.
Position childAfter(const Position& pos, const std::string& text) {
  int list[MaxMoves];
  const int n = generateAll(pos, list);
  Position child;
  for (int i = 0; i < n; ++i)
    if (moveToText(entryMove(list[i])) == text && makeMove(pos, child, entryMove(list[i]))) break;
  child.inCheck = kingAttacked(child, child.sideToMove()) ? 1 : 0;
  return child;
}

// Every "bestmove" line in text: a legal move of the searched position, or
// "0000" when it has none; a ponder move legal after it, or "0000" (a
// principal variation of one move).
void checkAnswers(const std::string& text, const Position& searched) {
  for (size_t at = text.find("bestmove "); at != std::string::npos; at = text.find("bestmove ", at + 1)) {
    if (at > 0 && text[at - 1] != '\n') continue;
    const std::string line = text.substr(at, text.find('\n', at) - at);
    const std::vector<std::string> words = splitTokens(line);
    const std::vector<std::string> legal = legalTexts(searched);
    const std::string fen = positionToFen(searched);
    const bool named = words.size() > 1 && std::find(legal.begin(), legal.end(), words[1]) != legal.end();
    if (!(named || (legal.empty() && words.size() == 2 && words[1] == "0000")))
      fuzzFailure("\"" + line + "\" answers " + fen + ", which has " + std::to_string(legal.size()) + " legal moves");
    if (words.size() == 2) continue;
    const std::vector<std::string> replies = legalTexts(childAfter(searched, words[1]));
    if (words.size() != 4 || words[2] != "ponder" ||
        (words[3] != "0000" && std::find(replies.begin(), replies.end(), words[3]) == replies.end()))
      fuzzFailure("\"" + line + "\" names no legal ponder move in " + fen);
  }
}

// Whether a file option names nothing or a place inside the scratch folder
// (a name such as "book...bin" is inside; a ".." component is not).
bool insideScratch(const std::string& path) {
  const std::string components = path + "/";
  return path.empty() || path == "<empty>" ||
         (path.rfind(scratchDir() + "/", 0) == 0 && components.find("/../") == std::string::npos);
}

void checkFileOptions() {
  for (const std::string* path : {&settings::bookFile, &settings::logFile, &settings::hashFileName, &settings::syzygyPath})
    if (!insideScratch(*path)) fuzzFailure("a file option names " + *path);
}

void checkGame(bool whole) {
  const GameLine& game = gameLine();
  for (int i = whole ? 0 : game.current; i <= game.current; ++i) {
    const std::string fault = positionFault(game.positions[i]);
    if (!fault.empty()) fuzzFailure("position " + std::to_string(i) + " of the game line: " + fault);
  }
}

// The main loop's work on the queued lines, each handler call checked.
void runQueuedLines() {
  while (!commandQueueEmpty() || hasDeferredCommands()) {
    const GameLine* before = &gameLine();
    const int current = before->current;
    const Position searched = currentPosition();
    const size_t written = output.size();
    handleCommand();
    if (quitRequested.load()) fuzzFailure("the handler raised the quit flag");
    if (searching.load()) fuzzFailure("a search is still marked running after its answer");
    checkAnswers(output.substr(written), searched);
    checkFileOptions();
    checkGame(&gameLine() != before || gameLine().current != current);
  }
}

// The quit as the input thread raises it, with every line queued: the quit
// sequence's first step must take every line, start no search or count,
// and leave the game and the file options sound.
void runLinesBeforeQuit() {
  const size_t written = output.size();
  quitRequested.store(1);
  carryOutLinesBeforeQuit();
  quitRequested.store(0);
  if (!commandQueueEmpty() || hasDeferredCommands()) fuzzFailure("lines are left after the quit");
  if (searching.load()) fuzzFailure("a search is marked running after the quit");
  const std::string said = "\n" + output.substr(written);
  if (said.find("\nbestmove") != std::string::npos || said.find("\nNodes searched") != std::string::npos)
    fuzzFailure("a search or count started after the quit:" + said);
  checkFileOptions();
  checkGame(true);
}

// The options' values after start-up, to which every input returns.
std::map<std::string, std::string>& baseline() {
  static std::map<std::string, std::string> values;
  return values;
}

void runLine(const std::string& line) {
  pushCommand(line);
  runQueuedLines();
}

// Puts back every option the last input changed, through the handler, and
// the start position; empties the table once a search has used it.
void freshState() {
  for (const auto& [name, value] : baseline()) {
    OptionRecord* option = findOption(name);
    if (optionValueText(*option) != value) runLine("setoption name " + name + " value " + value);
  }
  runLine("position startpos");
  if (tt.ttDirty) ttClearSilently();
  output.clear();
  input = InputState{};
  ponderCounter = 0;
  pollSoon();
}

void prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  captureStandardOutput();
  startEngine();
  commandQueueIsEmpty = queueIsEmptyPollingSoon;
  inputEnded.store(1);  // the input ends with the bytes
  std::filesystem::create_directories(scratchDir() + "/files");
  std::filesystem::create_directories(scratchDir() + "/tb");
  for (const char* table : {"KQvK.rtbw", "KQvK.rtbz", "KRvK.rtbw", "KRvK.rtbz"}) {
    const std::vector<uint8_t> bytes = sourceFile(std::string("tests/data/syzygy/") + table);
    writeFile(scratchDir() + "/tb/" + table, bytes.data(), bytes.size());
  }
  // The tables are part of the state every input starts from: registering
  // them looks for every table name, the dearest step of an input, so it
  // runs only when an input has turned them off.
  runLine("setoption name SyzygyPath value " + scratchDir() + "/tb");
  for (const std::string& line : optionListing()) {
    const size_t at = line.find(" type ");
    const std::string name = line.substr(12, at - 12);
    const OptionRecord* option = findOption(name);
    if (option->type != "button") baseline()[name] = optionValueText(*option);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  prepare();
  freshState();
  LineSplitter splitter;
  if (splitLines(splitter, reinterpret_cast<const char*>(data), size, acceptFuzzedLine))
    finishLines(splitter, acceptFuzzedLine);
  if (input.quit) runLinesBeforeQuit();
  else runQueuedLines();
  return 0;
}
