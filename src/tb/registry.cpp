#include "tb/registry.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "board/output.h"
#include "board/position.h"
#include "platform/files.h"
#include "tb/probe.h"

int maxMen = 0;
int probeLimit = 6;

std::vector<std::string> tbPaths;
TbHashPair tbHash[TbHashBuckets][HSHMAX];
std::mutex tbMutex;

namespace {

TbEntry pieceEntries[TBMAX_PIECE];
TbEntry pawnEntries[TBMAX_PAWN];
int pieceCount = 0, pawnCount = 0;
bool pieceLimitReported = false, pawnLimitReported = false, hashLimitReported = false;

struct DtzSlot {
  Key keys[2];  // the material in both colour orientations
  TbEntry* entry;
};
DtzSlot dtzCache[DtzCacheSize];
int dtzCount = 0;

std::atomic<int> mappedFiles{0};

// Longest directory name accepted, leaving room for "/KQRBNvK.rtbw".
constexpr size_t MaxDirectoryLength = MaxPathLength - 32;

enum class MapResult { Mapped, Missing, Failed };

// Maps name + suffix from the first directory of tbPaths that holds it as
// a regular file.  Problems with a file that exists are reported here.  The
// open never waits, so a FIFO named like a table cannot hang the engine.
MapResult mapFile(const char* name, const char* suffix, TbEntry& e, std::string* path) {
  std::string unopened;  // a file that exists but could not be opened, and why
  for (const std::string& dir : tbPaths) {
    *path = joinPath(dir, std::string(name) + suffix);
    std::string problem;
    FileMapping mapping;
    const MapStatus status = mapReadOnly(*path, &mapping, &problem);
    if (status == MapStatus::Missing || status == MapStatus::Unopenable) {
      if (unopened.empty() && status == MapStatus::Unopenable) unopened = *path + ": " + problem;
      continue;
    }
    if (status == MapStatus::Unmappable) {
      writeLine("info string Could not mmap() %s: %s", path->c_str(), problem.c_str());
      return MapResult::Failed;
    }
    e.data = mapping.data;
    e.mapping = mapping.size;
    mappedFiles.fetch_add(1, std::memory_order_relaxed);
    return MapResult::Mapped;
  }
  if (unopened.empty()) return MapResult::Missing;
  writeLine("info string Could not open %s", unopened.c_str());
  return MapResult::Failed;
}

void unmapFile(TbEntry& e) {
  if (!e.data) return;
  FileMapping mapping{e.data, e.mapping};
  unmapReadOnly(mapping);
  mappedFiles.fetch_sub(1, std::memory_order_relaxed);
  e.data = nullptr;
  e.mapping = 0;
}

// Maps and decodes the WDL or DTZ file of e; reports an unusable file.
bool loadTable(TbEntry& e, bool wdl) {
  const char* suffix = wdl ? ".rtbw" : ".rtbz";
  std::string path, why;
  MapResult r = mapFile(e.name, suffix, e, &path);
  if (r == MapResult::Missing && wdl) writeLine("info string Could not find %s%s", e.name, suffix);
  if (r != MapResult::Mapped) return false;
  if (!decodeTable(e, wdl, &why)) {
    writeLine("info string Corrupted table %s: %s", path.c_str(), why.c_str());
    unmapFile(e);
    return false;
  }
  return true;
}

// Whether some directory of tbPaths holds name + suffix as a regular file.
// When none does but a file of that name exists there (a FIFO, a
// directory, an unreadable file), says why it is not used.
bool fileExists(const std::string& name, const char* suffix) {
  std::string unopened;
  for (const std::string& dir : tbPaths) {
    const std::string path = joinPath(dir, name + suffix);
    std::string problem;
    if (regularFileReadable(path, &problem)) return true;
    if (unopened.empty() && !problem.empty()) unopened = path + ": " + problem;
  }
  if (!unopened.empty()) writeLine("info string Could not open %s", unopened.c_str());
  return false;
}

// Returns an entry to its unregistered state, releasing its mapping.
void resetEntry(TbEntry& e) {
  unmapFile(e);
  e.~TbEntry();
  new (&e) TbEntry();
}

void releaseDtz(DtzSlot& slot) {
  if (!slot.entry) return;
  unmapFile(*slot.entry);
  delete slot.entry;
  slot.entry = nullptr;
}

// Releases every mapping and empties the registry and the DTZ cache.
void tearDown() {
  for (int i = 0; i < pieceCount; i++) resetEntry(pieceEntries[i]);
  for (int i = 0; i < pawnCount; i++) resetEntry(pawnEntries[i]);
  for (int i = 0; i < dtzCount; i++) releaseDtz(dtzCache[i]);
  pieceCount = pawnCount = dtzCount = 0;
  maxMen = 0;
  std::memset(tbHash, 0, sizeof(tbHash));
  std::memset(dtzCache, 0, sizeof(dtzCache));
  tbPaths.clear();
  pieceLimitReported = pawnLimitReported = hashLimitReported = false;
}

// Whether a directory of the path can serve tables; reports why not.
bool usableDirectory(const std::string& dir) {
  if (dir.size() > MaxDirectoryLength) {
    writeLine("info string SyzygyPath: a directory name of %zu characters is too long", dir.size());
    return false;
  }
  std::string problem;
  switch (checkFolder(dir, &problem)) {
    case FolderStatus::Usable: return true;
    case FolderStatus::NotAFolder: writeLine("info string SyzygyPath: %s is not a directory", dir.c_str()); break;
    case FolderStatus::Unreadable:
      writeLine("info string SyzygyPath: cannot read %s: %s", dir.c_str(), problem.c_str());
      break;
  }
  return false;
}

// Free pairs needed in the buckets of key (and of swapped, when different).
bool hashHasRoom(Key key, Key swapped) {
  auto freePairs = [](Key k) {
    int n = 0;
    for (const TbHashPair& p : tbHash[k >> 54]) n += p.key == 0;
    return n;
  };
  if (key == swapped) return freePairs(key) >= 1;
  if ((key >> 54) == (swapped >> 54)) return freePairs(key) >= 2;
  return freePairs(key) >= 1 && freePairs(swapped) >= 1;
}

void hashInsert(Key key, TbEntry* e) {
  for (TbHashPair& p : tbHash[key >> 54])
    if (p.key == 0) {
      p.key = key;
      p.entry = e;
      return;
    }
}

// Registers the material with the strong and weak pieces (indices into
// Q, R, B, N, P) when its WDL file exists.
void registerIfPresent(std::initializer_list<int> strong, std::initializer_list<int> weak) {
  char name[16];
  int n = 0;
  name[n++] = 'K';
  for (int i : strong) name[n++] = "QRBNP"[i];
  name[n++] = 'v';
  name[n++] = 'K';
  for (int i : weak) name[n++] = "QRBNP"[i];
  name[n] = 0;
  if (fileExists(name, ".rtbw")) tbRegister(name);
}

// Every material of up to six men, stronger side first: the order in
// which the files are looked for.
void enumerateTables() {
  for (int a = 0; a < 5; a++) registerIfPresent({a}, {});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++) registerIfPresent({a}, {b});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++) registerIfPresent({a, b}, {});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++)
      for (int c = 0; c < 5; c++) registerIfPresent({a, b}, {c});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++)
      for (int c = b; c < 5; c++) registerIfPresent({a, b, c}, {});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++)
      for (int c = a; c < 5; c++)
        for (int d = c == a ? b : c; d < 5; d++) registerIfPresent({a, b}, {c, d});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++)
      for (int c = b; c < 5; c++)
        for (int d = 0; d < 5; d++) registerIfPresent({a, b, c}, {d});
  for (int a = 0; a < 5; a++)
    for (int b = a; b < 5; b++)
      for (int c = b; c < 5; c++)
        for (int d = c; d < 5; d++) registerIfPresent({a, b, c, d}, {});
}

}  // namespace

Key materialKeyOf(const std::string& name, bool swapped) {
  int counts[16];
  countMaterial(name.c_str(), counts);
  Key key = 0;
  for (int c = 0; c < 2; c++)
    for (int t = Pawn; t <= Queen; t++) key += (Key)counts[c * 8 + t] * materialValue[swapped ? 1 - c : c][t][0];
  return key;
}

void tbRegister(const std::string& name) {
  if (name.size() >= sizeof(TbEntry::name)) return;
  int counts[16];
  countMaterial(name.c_str(), counts);
  bool hasPawns = counts[Pawn] + counts[8 + Pawn] > 0;
  Key key = materialKeyOf(name, false), swapped = materialKeyOf(name, true);

  // The limits bound the registry; a table beyond them is skipped.
  if (hasPawns ? pawnCount == TBMAX_PAWN : pieceCount == TBMAX_PIECE) {
    bool& reported = hasPawns ? pawnLimitReported : pieceLimitReported;
    if (!reported)
      writeLine("info string Too many tablebases %s pawns (%d): %s and later ones skipped",
                hasPawns ? "with" : "without", hasPawns ? TBMAX_PAWN : TBMAX_PIECE, name.c_str());
    reported = true;
    return;
  }
  if (!hashHasRoom(key, swapped)) {
    if (!hashLimitReported) writeLine("info string Tablebase hash bucket full: %s skipped", name.c_str());
    hashLimitReported = true;
    return;
  }

  TbEntry& e = hasPawns ? pawnEntries[pawnCount++] : pieceEntries[pieceCount++];
  std::strcpy(e.name, name.c_str());
  e.key = key;
  e.swappedKey = swapped;
  e.ready.store(0, std::memory_order_relaxed);
  int num = 0, unique = 0, smallestRun = 99;
  for (int c = 0; c < 16; c++) {
    num += counts[c];
    if (counts[c] == 1) unique++;
    if (counts[c] > 1) smallestRun = std::min(smallestRun, counts[c]);
  }
  e.num = (uint8_t)num;
  e.symmetric = key == swapped;
  e.hasPawns = hasPawns;
  e.leaderKind = (uint8_t)(unique >= 3 ? 0 : unique == 2 ? 2 : 1 + smallestRun);
  int p0 = counts[Pawn], p1 = counts[8 + Pawn];
  if (p1 > 0 && (p0 == 0 || p0 > p1)) std::swap(p0, p1);
  e.pawns[0] = (uint8_t)p0;
  e.pawns[1] = (uint8_t)p1;
  maxMen = std::max(maxMen, num);

  hashInsert(key, &e);
  if (!e.symmetric) hashInsert(swapped, &e);
}

TbEntry* tbFindEntry(Key key) {
  for (const TbHashPair& p : tbHash[key >> 54])
    if (p.key == key) return p.entry;
  return nullptr;
}

bool tbLoadWdl(TbEntry& e) {
  uint8_t state = e.ready.load(std::memory_order_acquire);
  if (state) return state == 1;
  std::lock_guard<std::mutex> lock(tbMutex);
  state = e.ready.load(std::memory_order_relaxed);
  if (state) return state == 1;
  bool ok = loadTable(e, true);
  e.ready.store(ok ? 1 : 2, std::memory_order_release);
  return ok;
}

TbEntry* tbFindDtz(TbEntry& w) {
  for (int i = 0; i < dtzCount; i++) {
    if (dtzCache[i].keys[0] != w.key && dtzCache[i].keys[1] != w.key) continue;
    DtzSlot hit = dtzCache[i];
    std::copy_backward(dtzCache, dtzCache + i, dtzCache + i + 1);
    dtzCache[0] = hit;
    return hit.entry;
  }
  if (w.dtzUnusable) return nullptr;

  TbEntry* e = new TbEntry();
  std::strcpy(e->name, w.name);
  e->key = w.key;
  e->swappedKey = w.swappedKey;
  e->num = w.num;
  e->symmetric = w.symmetric;
  e->hasPawns = w.hasPawns;
  e->leaderKind = w.leaderKind;
  e->pawns[0] = w.pawns[0];
  e->pawns[1] = w.pawns[1];
  if (!loadTable(*e, false)) {
    delete e;
    w.dtzUnusable = 1;
    return nullptr;
  }
  // Least recently used last: it makes room for the new table at the front.
  if (dtzCount == DtzCacheSize) releaseDtz(dtzCache[DtzCacheSize - 1]);
  else dtzCount++;
  std::copy_backward(dtzCache, dtzCache + dtzCount - 1, dtzCache + dtzCount);
  dtzCache[0] = DtzSlot{{w.key, w.swappedKey}, e};
  e->ready.store(1, std::memory_order_relaxed);
  return e;
}

void tbReportDamage(TbEntry& e, const char* suffix) {
  std::lock_guard<std::mutex> lock(tbMutex);
  if (e.ready.load(std::memory_order_relaxed) == 2) return;
  e.ready.store(2, std::memory_order_release);
  writeLine("info string Corrupted table %s%s: damaged compressed data", e.name, suffix);
}

void tbInit(const std::string& path) {
  initIndexTables();
  tearDown();
  if (path.empty() || path == "<empty>") return;

  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(PathListSeparator, start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty() && usableDirectory(dir)) tbPaths.push_back(dir);
    start = end + 1;
  }
  enumerateTables();
  writeLine("info string Found %d tablebases (up to %d-man).", pieceCount + pawnCount, maxMen);
}

int tbSetProbeLimit(int limit) {
  probeLimit = std::clamp(limit, 0, 6);
  writeLine("info string Probing tablebases up to %d-man.", std::min(probeLimit, maxMen));
  return probeLimit;
}

int tbEntryCount() { return pieceCount + pawnCount; }
int tbMappedFiles() { return mappedFiles.load(std::memory_order_relaxed); }

std::vector<std::string> dtzCacheNames() {
  std::vector<std::string> names;
  for (int i = 0; i < dtzCount; i++) names.push_back(dtzCache[i].entry->name);
  return names;
}
