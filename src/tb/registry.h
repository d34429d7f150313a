// The tablebase registry: which table files exist along "SyzygyPath", the
// entries that describe them, the hash from material keys to entries, the
// lazy mapping of files and the cache of DTZ tables.
//
// tbInit (main thread, no search running) rebuilds everything: it releases
// the old mappings, enumerates every material of up to six men and
// registers those whose WDL file exists.  Nothing is read from a file then;
// a WDL file is mapped, checked and decoded by the first probe that needs
// it, under tbMutex, and published through the entry's ready byte.  A file
// that cannot be opened, mapped or decoded is reported once with an
// "info string" line and treated as missing until the next tbInit.
//
// tbHash and the entries are read without locks by every search thread.
// The DTZ cache has no lock: only the main thread probes DTZ, and only
// while the helper threads are idle.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tb/decode.h"

constexpr int TBMAX_PIECE = 254;  // registered tables without pawns
constexpr int TBMAX_PAWN = 256;   // registered tables with pawns
constexpr int HSHMAX = 5;         // (key, entry) pairs per hash bucket
constexpr int TbHashBuckets = 1024;
constexpr int DtzCacheSize = 64;

struct TbHashPair {
  Key key;  // 0 = empty
  TbEntry* entry;
};

extern std::vector<std::string> tbPaths;
extern TbHashPair tbHash[TbHashBuckets][HSHMAX];
extern std::mutex tbMutex;

// Material key of a material string such as "KRPvKR", and the key of the
// same material with the colours exchanged.
Key materialKeyOf(const std::string& name, bool swapped);

// Adds the table of a material string to the registry (nothing is read).
void tbRegister(const std::string& name);
// The entry registered under key (either colour orientation), or null.
TbEntry* tbFindEntry(Key key);
// Maps and decodes the WDL file of e on first use; false when it is unusable.
bool tbLoadWdl(TbEntry& e);
// The DTZ table of the material of the WDL entry w, from the cache or
// mapped into it (releasing the least recently used table when full); null
// when the DTZ file is missing or unusable.  Main thread only.
TbEntry* tbFindDtz(TbEntry& w);

// Marks a table whose compressed data turned out damaged during a probe as
// unusable, and says so once.
void tbReportDamage(TbEntry& e, const char* suffix);

// Test hooks: registered entries, files mapped right now, and the names of
// the cached DTZ tables, most recently used first.
int tbEntryCount();
int tbMappedFiles();
std::vector<std::string> dtzCacheNames();
