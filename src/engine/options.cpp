#include "engine/options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "board/output.h"
#include "board/settings.h"
#include "book/book.h"
#include "engine/log.h"
#include "platform/cpu.h"
#include "search/level.h"
#include "tb/probe.h"
#include "tt/tt.h"

EngineOptions engineOptions;

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower((unsigned char)x) < std::tolower((unsigned char)y);
  });
}

namespace {

// Adds a record with the next registration index.
OptionRecord& addRecord(const std::string& name, const char* type, int min, int max) {
  OptionRecord record;
  record.index = engineOptions.size();
  record.type = type;
  record.min = min;
  record.max = max;
  return engineOptions[name] = record;
}

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n\f\v");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n\f\v");
  return text.substr(begin, end - begin + 1);
}

// Reads a whole text as a decimal integer with an optional sign.  Values too
// large for any option saturate (they are clamped into the range later).
bool readInteger(const std::string& raw, long long* value) {
  std::string text = trimmed(raw);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v >= 100000000000000000LL ? 1000000000000000000LL : v * 10 + (text[i] - '0');
  }
  *value = negative ? -v : v;
  return true;
}

// Change actions of the options that do more than store their value.

// "<empty>", the listing's text for an empty string, sets no file.
std::string fileNameFromValue(const std::string& value) { return value == "<empty>" ? std::string() : value; }

void bookFileChanged(const std::string& value, std::string* variable) {
  *variable = fileNameFromValue(value);
  writeLine("info string Book file is %s", value.c_str());
  openBook();
}

// Switching the book on opens the file when it is not open yet; switching
// it off keeps the file open but unused.
void ownBookChanged(int value, int* variable) {
  *variable = value;
  if (value && !bookIsOpen()) openBook();
}

void hashFileNameChanged(const std::string& value, std::string* variable) { *variable = fileNameFromValue(value); }

// "SyzygyPath": re-reads the tablebase registry, then reports how many
// men the tablebases can serve.
void syzygyPathChanged(const std::string& value, std::string* variable) {
  *variable = value == "<empty>" ? std::string() : value;
  tbInit(*variable);
  settings::syzygyProbeLimit = tbSetProbeLimit(settings::syzygyProbeLimit);
}

void probeLimitChanged(int value, int* variable) { *variable = tbSetProbeLimit(value); }

// "Hash": the new size in megabytes (already clamped into its range); the
// table stores it in the variable.
void hashChanged(int value, int*) { ttResize(value); }

}  // namespace

void registerCheck(const std::string& name, int* variable, bool defaultValue, IntAction onChange) {
  OptionRecord& r = addRecord(name, "check", 0, 1);
  r.intVariable = variable;
  r.onIntChange = onChange;
  *variable = defaultValue ? 1 : 0;
}

void registerSpin(const std::string& name, int* variable, int defaultValue, int min, int max, IntAction onChange) {
  OptionRecord& r = addRecord(name, "spin", min, max);
  r.intVariable = variable;
  r.onIntChange = onChange;
  *variable = defaultValue;
}

void registerSpin64(const std::string& name, uint64_t* variable, uint64_t defaultValue, int min, int max,
                    Int64Action onChange) {
  OptionRecord& r = addRecord(name, "spin64", min, max);
  r.int64Variable = variable;
  r.onInt64Change = onChange;
  *variable = defaultValue;
}

void registerString(const std::string& name, std::string* variable, const std::string& defaultValue,
                    TextAction onChange) {
  OptionRecord& r = addRecord(name, "string", 0, 0);
  r.textVariable = variable;
  r.onTextChange = onChange;
  *variable = defaultValue;
}

void registerButton(const std::string& name, ButtonAction onPress) {
  OptionRecord& r = addRecord(name, "button", 0, 0);
  r.onPress = onPress;
}

void registerEngineOptions() {
  using namespace settings;
  engineOptions.clear();
  registerCheck("Ponder", &ponder, true);
  registerSpin("Hash", &hashMb, 128, 1, 65536, hashChanged);
  registerCheck("OwnBook", &ownBook, true, ownBookChanged);
  registerSpin("MultiPV", &multiPV, 1, 1, 218);
  registerString("Book File", &bookFile, "orvane.bin", bookFileChanged);
  registerString("Log File", &logFile, "", setLogFile);
  registerButton("Clear Hash", ttClear);
  registerString("Hash File Name", &hashFileName, "", hashFileNameChanged);
  registerButton("Save Hash to File", saveHash);
  registerButton("Load Hash from File", loadHash);
  registerCheck("UCI_Chess960", &chess960, false);
  registerCheck("UCI_AnalyseMode", &analyseMode, false);
  registerCheck("Use Lmr", &useLmr, true);
  registerCheck("Null Move Pruning", &nullMovePruning, true);
  registerCheck("Best Book Line", &bestBookLine, false);
  registerCheck("Minimal Reporting", &minimalReporting, false);
  registerSpin("Table Memory", &tableMemory, 64, 1, 256);
  registerSpin("Threads", &threads, 1, 1, searchThreadLimit(64));
  registerSpin("Overhead ms", &overheadMs, 30, 0, 50000);
  registerSpin("Drawscore", &drawScore, -7, -200, 200);
  registerSpin("Time Usage", &timeUsage, 0, -9, 9);
  registerCheck("Use Syzygy", &useSyzygy, true);
  registerString("SyzygyPath", &syzygyPath, "", syzygyPathChanged);
  registerSpin("Syzygy Probe Depth", &syzygyProbeDepth, 2, 0, 99);
  registerSpin("Syzygy Probe Limit", &syzygyProbeLimit, 6, 0, 6, probeLimitChanged);
  registerCheck("Syzygy 50 Move Rule", &syzygy50MoveRule, true);
  registerSpin("King Safety", &kingSafety, 65, 0, 200);
  registerSpin("Selectivity", &selectivity, 80, 10, 200);
  registerSpin("Reduction", &reduction, 0, -1000, 150);
  // The playing level, after the design's 29 options.
  registerCheck("UCI_LimitStrength", &limitStrength, false);
  registerSpin("UCI_Elo", &uciElo, LevelDefaultElo, LevelMinElo, LevelMaxElo);
}

OptionRecord* findOption(const std::string& name, std::string* registeredName) {
  auto it = engineOptions.find(name);
  if (it == engineOptions.end()) return nullptr;
  if (registeredName) *registeredName = it->first;
  return &it->second;
}

std::string optionValueText(const OptionRecord& r) {
  if (r.type == "check") return *r.intVariable ? "true" : "false";
  if (r.type == "spin") return std::to_string(*r.intVariable);
  if (r.type == "spin64") return std::to_string(*r.int64Variable);
  if (r.type == "string") return r.textVariable->empty() ? "<empty>" : *r.textVariable;
  return "<none>";
}

bool setOptionFromText(OptionRecord& r, const std::string& text, std::string* error) {
  long long number = 0;
  if (r.type == "button") {
    if (r.onPress) r.onPress();
    return true;
  }
  if (r.type == "string") {
    if (r.onTextChange) r.onTextChange(text, r.textVariable);
    else *r.textVariable = text;
    return true;
  }
  if (r.type == "check") {
    std::string t = trimmed(text);
    int value;
    if (t == "true") value = 1;
    else if (t == "false") value = 0;
    else if (readInteger(t, &number)) value = number != 0;
    else {
      if (error) *error = "expects true, false or a number";
      return false;
    }
    if (r.onIntChange) r.onIntChange(value, r.intVariable);
    else *r.intVariable = value;
    return true;
  }
  if (!readInteger(text, &number)) {
    if (error) *error = "expects a number from " + std::to_string(r.min) + " to " + std::to_string(r.max);
    return false;
  }
  number = std::clamp<long long>(number, r.min, r.max);
  if (r.type == "spin64") {
    if (r.onInt64Change) r.onInt64Change((uint64_t)number, r.int64Variable);
    else *r.int64Variable = (uint64_t)number;
  } else {
    if (r.onIntChange) r.onIntChange((int)number, r.intVariable);
    else *r.intVariable = (int)number;
  }
  return true;
}

bool optionRebuildsTables(const std::string& name) {
  return name != "Hash File Name" && name != "Save Hash to File" && name != "Load Hash from File";
}

std::string optionListingLine(const std::string& name, const OptionRecord& r) {
  std::string type = r.type == "spin64" ? "spin" : r.type;
  std::string line = "option name " + name + " type " + type;
  if (type != "button") line += " default " + optionValueText(r);
  if (type == "spin") line += " min " + std::to_string(r.min) + " max " + std::to_string(r.max);
  return line;
}

std::vector<std::string> optionListing() {
  std::vector<std::pair<uint64_t, std::string>> ordered;
  for (const auto& [name, record] : engineOptions) ordered.emplace_back(record.index, optionListingLine(name, record));
  std::sort(ordered.begin(), ordered.end());
  std::vector<std::string> lines;
  for (auto& entry : ordered) lines.push_back(std::move(entry.second));
  return lines;
}
