#include "board/settings.h"

// Values before the option table registers its defaults (start-up sets them).
namespace settings {
int ponder = 1;
int hashMb = 128;
int ownBook = 1;
int multiPV = 1;
std::string bookFile = "orvane.bin";
std::string logFile;
std::string hashFileName;
int chess960 = 0;
int analyseMode = 0;
int useLmr = 1;
int nullMovePruning = 1;
int bestBookLine = 0;
int minimalReporting = 0;
int tableMemory = 256;
int threads = 1;
int overheadMs = 30;
int drawScore = -7;
int timeUsage = 0;
int useSyzygy = 1;
std::string syzygyPath;
int syzygyProbeDepth = 2;
int syzygyProbeLimit = 6;
int syzygy50MoveRule = 1;
int kingSafety = 65;
int selectivity = 80;
int reduction = 0;
}  // namespace settings
