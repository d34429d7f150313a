// The engine variables behind the UCI options.  They are process-wide,
// written only by the command handler (never while a search reads them,
// except the flags the search polls), and read by every subsystem; they live
// here, at the bottom of the dependency chain, so no layer has to include the
// front end to read its settings.
#pragma once

#include <string>

namespace settings {
extern int ponder;            // "Ponder"
extern int hashMb;            // "Hash"
extern int ownBook;           // "OwnBook"
extern int multiPV;           // "MultiPV"
extern std::string bookFile;  // "Book File"
extern std::string logFile;   // "Log File"
extern std::string hashFileName;  // "Hash File Name"
extern int chess960;          // "UCI_Chess960"
extern int analyseMode;       // "UCI_AnalyseMode"
extern int useLmr;            // "Use Lmr"
extern int nullMovePruning;   // "Null Move Pruning"
extern int bestBookLine;      // "Best Book Line"
extern int minimalReporting;  // "Minimal Reporting"
extern int tableMemory;       // "Table Memory"
extern int threads;           // "Threads"
extern int overheadMs;        // "Overhead ms"
extern int drawScore;         // "Drawscore"
extern int timeUsage;         // "Time Usage"
extern int useSyzygy;         // "Use Syzygy"
extern std::string syzygyPath;  // "SyzygyPath"
extern int syzygyProbeDepth;  // "Syzygy Probe Depth"
extern int syzygyProbeLimit;  // "Syzygy Probe Limit"
extern int syzygy50MoveRule;  // "Syzygy 50 Move Rule"
extern int kingSafety;        // "King Safety"
extern int selectivity;       // "Selectivity"
extern int reduction;         // "Reduction"
}  // namespace settings
