// The table of UCI options: what "uci" lists, what "setoption" changes and
// the engine variable (namespace settings) behind each option.
//
// Registration happens once at start-up, in listing order, and stores each
// option's default into its variable.  Afterwards only the command handler
// reads and writes the table, on the main thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Orders names by comparing characters after conversion to lower case, so
// that lookups ignore letter case.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

using IntAction = void (*)(int value, int* variable);
using Int64Action = void (*)(uint64_t value, uint64_t* variable);
using TextAction = void (*)(const std::string& value, std::string* variable);
using ButtonAction = void (*)();

struct OptionRecord {
  uint64_t index = 0;       // registration number, listing order
  std::string type;         // "check", "spin", "spin64", "button", "string"
  int* intVariable = nullptr;        // check and spin
  uint64_t* int64Variable = nullptr; // spin64
  std::string* textVariable = nullptr;  // string
  // Change action, one per kind; when present it stores the value itself.
  IntAction onIntChange = nullptr;
  Int64Action onInt64Change = nullptr;
  TextAction onTextChange = nullptr;
  ButtonAction onPress = nullptr;
  int min = 0, max = 0;
};

using EngineOptions = std::map<std::string, OptionRecord, CaseInsensitiveLess>;
extern EngineOptions engineOptions;

// Registration: creates the record with the next index and stores the
// default into the variable (without calling the change action).
void registerCheck(const std::string& name, int* variable, bool defaultValue, IntAction onChange = nullptr);
void registerSpin(const std::string& name, int* variable, int defaultValue, int min, int max,
                  IntAction onChange = nullptr);
void registerSpin64(const std::string& name, uint64_t* variable, uint64_t defaultValue, int min, int max,
                    Int64Action onChange = nullptr);
void registerString(const std::string& name, std::string* variable, const std::string& defaultValue,
                    TextAction onChange = nullptr);
void registerButton(const std::string& name, ButtonAction onPress);

// Registers the engine's 29 options in listing order, then the two of the
// playing level, "UCI_LimitStrength" and "UCI_Elo" (empties the table first).
void registerEngineOptions();

// Case-insensitive lookup; null when absent.  The returned name is the
// registered spelling.
OptionRecord* findOption(const std::string& name, std::string* registeredName = nullptr);

// Current value as text: "true"/"false", decimal, the text or "<empty>",
// "<none>" for buttons.
std::string optionValueText(const OptionRecord& record);

// Sets the option from a value text: "true"/"false" or a decimal number for
// check options, a decimal number (clamped into the range) for spin options,
// any text for strings.  A value that cannot be read changes nothing and
// returns false with the reason in *error.
bool setOptionFromText(OptionRecord& record, const std::string& text, std::string* error = nullptr);

// Whether a change of the option (by its registered spelling) rebuilds the
// evaluation and search tables, which also empties the transposition table
// after a search: true for every option but the hash-file ones ("Hash File
// Name", "Save Hash to File", "Load Hash from File"), which exist to keep
// the table.  "Clear Hash" empties the table by itself.
bool optionRebuildsTables(const std::string& name);

// The "uci" listing line of one option, without the line feed.
std::string optionListingLine(const std::string& name, const OptionRecord& record);
// All listing lines in registration order.
std::vector<std::string> optionListing();
