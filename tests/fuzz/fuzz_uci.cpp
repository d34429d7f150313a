// Feeds arbitrary bytes to the UCI command handler as lines, one after
// another, on a fresh engine state per input.  Searches are kept bounded:
// one "go" per input searches, to depth 1, "go perft" counts to at
// most 2, "infinite" is left out.  "Hash" and "Table Memory" stay small
// and "Threads" at 1 (a helper thread's start, and the fresh caches every
// search then touches, cost more than the rest of an input).  Every option
// naming a file or folder points into the process's scratch folder, and
// "quit" lines are left out.  After every line the current position (after
// a "position" line the whole game line) must pass the position check, and
// the handler must never have started the quit sequence.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "board/settings.h"
#include "engine/input.h"
#include "engine/options.h"
#include "engine/uci.h"
#include "search/flags.h"
#include "tt/tt.h"
#include "common.h"

namespace {

constexpr int MaxLinesPerInput = 48;
constexpr int MaxSearchesPerInput = 1;
constexpr long MaxSearchDepth = 1;
constexpr long MaxPerftDepth = 2;

std::string lowered(std::string text) {
  for (char& c : text) c = (char)std::tolower((unsigned char)c);
  return text;
}

// A number text as the engine reads it (a leading decimal number, 0 when
// there is none), replaced by the nearest bound when outside [lo, hi].
std::string clampedNumber(const std::string& text, long long lo, long long hi) {
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  return v < lo || v > hi ? std::to_string(std::clamp(v, lo, hi)) : text;
}

std::string joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& w : words) line += (line.empty() ? "" : " ") + w;
  return line;
}

// "go perft N" with N at most 2; any other "go" gets a leading depth and
// keeps its words, depths clamped to 1 (a missing one given), clock values
// to a few milliseconds, "infinite" left out.
std::string boundedGo(std::vector<std::string> words) {
  if (words.size() > 1 && words[1] == "perft") {
    // Depths the handler refuses stay as they are.
    if (words.size() > 2 && std::atol(words[2].c_str()) > MaxPerftDepth && std::atol(words[2].c_str()) <= 20)
      words[2] = std::to_string(MaxPerftDepth);
    return joined(words);
  }
  std::vector<std::string> out = {"go", "depth", "1"};
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "infinite") continue;
    out.push_back(w);
    const bool takesValue = w == "depth" || w == "wtime" || w == "btime" || w == "winc" || w == "binc" ||
                            w == "movetime" || w == "movestogo" || w == "nodes";
    // A closing "depth" without a value would put the depth limit back to
    // none, and the search would run on the clock instead.
    if (w == "depth" && i + 1 >= words.size()) out.push_back("1");
    if (!takesValue || i + 1 >= words.size()) continue;
    const std::string& v = words[++i];
    out.push_back(w == "depth" ? clampedNumber(v, 1, MaxSearchDepth) : w == "nodes" ? v : clampedNumber(v, -5, 5));
  }
  return joined(out);
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
  if (key == "threads") value = clampedNumber(value, 1, 1);
  else if (key == "hash" || key == "table memory") value = clampedNumber(value, 1, 2);
  else if (key == "book file" || key == "log file" || key == "hash file name") value = scratchName(value, "files");
  else if (key == "syzygypath") value = value.empty() || value == "<empty>" ? value : scratchDir() + "/tb";
  else return line;
  return "setoption name " + name + " value " + value;
}

// The line as the fuzz run hands it on, or an empty text to leave it out.
std::string boundedLine(std::string line, int& searches) {
  line.resize(std::min(line.size(), MaxLineLength));
  const size_t cut = line.find_first_of("\r\f");
  if (cut != std::string::npos) line.resize(cut);
  const std::vector<std::string> words = splitTokens(line);
  if (words.empty()) return line;
  if (words[0] == "quit") return "";
  if (words[0] == "go") {
    if (words.size() < 2 || words[1] != "perft") {
      if (searches >= MaxSearchesPerInput) return "";
      ++searches;
    }
    return boundedGo(words);
  }
  if (words[0] == "setoption") return boundedSetoption(line, words);
  return line;
}

// The options' values after start-up, to which every input returns.
std::map<std::string, std::string>& baseline() {
  static std::map<std::string, std::string> values;
  return values;
}

void runLine(const std::string& line) {
  pushCommand(line);
  handleCommand();
  while (hasDeferredCommands()) handleCommand();
  if (quitRequested.load()) fuzzFailure("the handler raised the quit flag on \"" + line + "\"");
}

// Whether a file option names nothing or a place inside the scratch folder
// (a name such as "book...bin" is inside; a ".." component is not).
bool insideScratch(const std::string& path) {
  const std::string components = path + "/";
  return path.empty() || path == "<empty>" ||
         (path.rfind(scratchDir() + "/", 0) == 0 && components.find("/../") == std::string::npos);
}

void checkFileOptions(const std::string& line) {
  for (const std::string* path : {&settings::bookFile, &settings::logFile, &settings::hashFileName, &settings::syzygyPath})
    if (!insideScratch(*path)) fuzzFailure("after \"" + line + "\" a file option names " + *path);
}

void checkGame(bool whole, const std::string& line) {
  const GameLine& game = gameLine();
  for (int i = whole ? 0 : game.current; i <= game.current; ++i) {
    const std::string fault = positionFault(game.positions[i]);
    if (!fault.empty()) fuzzFailure("after \"" + line + "\", position " + std::to_string(i) + ": " + fault);
  }
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
}

void prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  discardStandardOutput();
  startEngine();
  inputEnded.store(1);  // ponder searches answer without a "ponderhit"
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
  const std::string text(reinterpret_cast<const char*>(data), size);
  int searches = 0, lines = 0;
  for (size_t start = 0; start < text.size() && lines < MaxLinesPerInput; ++lines) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = boundedLine(text.substr(start, end - start), searches);
    start = end + 1;
    if (line.empty()) continue;
    runLine(line);
    checkFileOptions(line);
    checkGame(line.rfind("position", 0) == 0, line);
  }
  return 0;
}
