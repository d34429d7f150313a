#include "tt/tt.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "board/output.h"
#include "board/position.h"
#include "board/settings.h"
#include "platform/files.h"
#include "platform/memory.h"

TranspositionTable tt;

namespace {

// Relaxed atomic access to one word of a slot (through the compiler's
// builtins where the C++ library has no std::atomic_ref: Emscripten's).
#ifdef __cpp_lib_atomic_ref
inline uint64_t loadWord(const uint64_t& w) {
  return std::atomic_ref<const uint64_t>(w).load(std::memory_order_relaxed);
}
inline void storeWord(uint64_t& w, uint64_t v) { std::atomic_ref<uint64_t>(w).store(v, std::memory_order_relaxed); }
#else
inline uint64_t loadWord(const uint64_t& w) { return __atomic_load_n(&w, __ATOMIC_RELAXED); }
inline void storeWord(uint64_t& w, uint64_t v) { __atomic_store_n(&w, v, __ATOMIC_RELAXED); }
#endif

// Tells the board where the buckets are, for make-move's prefetch.
void publishGeometry() {
  ttBuckets = reinterpret_cast<const char*>(tt.buckets);
  ttMask = tt.mask;
}

// The counters of an empty table.  Fresh buckets from allocateZeroed are
// zero already, so allocation resets only these.
void resetCounters() {
  tt.generation = 0;
  tt.usedSlots.reset();
  tt.ttDirty = 0;
}

void zeroBuckets() {
  if (tt.buckets) std::memset(static_cast<void*>(tt.buckets), 0, tt.byteSize);
  resetCounters();
}

void freeBuckets() {
  freeZeroed(tt.buckets, tt.byteSize);
  tt.buckets = nullptr;
  tt.bucketCount = tt.mask = tt.byteSize = 0;
  publishGeometry();
}

// Smallest power of two not below n (n >= 1).
uint64_t roundUpToPowerOfTwo(uint64_t n) {
  n -= 1;
  n |= n >> 1;
  n |= n >> 2;
  n |= n >> 4;
  n |= n >> 8;
  n |= n >> 16;
  n |= n >> 32;
  return n + 1;
}

}  // namespace

void ttAllocate(int megabytes) {
  freeBuckets();
  if (megabytes < 1) megabytes = 1;
  // Round 0.51 of the requested bucket count up to a power of two: a
  // power-of-two request keeps its size, others land between 0.51 and 1.02.
  uint64_t wanted = (uint64_t)((double)megabytes * (1 << 20) / 64 * 0.51);
  if (wanted < 1) wanted = 1;
  uint64_t count = roundUpToPowerOfTwo(wanted);
  void* memory = nullptr;
  while (count >= 4) {
    memory = allocateZeroed(count * sizeof(TTBucket));
    if (memory) break;
    count /= 2;
  }
  if (!memory) fatalError("Hash table must be bigger than 0");
  tt.buckets = static_cast<TTBucket*>(memory);
  tt.bucketCount = count;
  tt.mask = count - 1;
  tt.byteSize = count * sizeof(TTBucket);
  resetCounters();
  publishGeometry();
}

void ttResize(int megabytes) {
  settings::hashMb = megabytes;
  if (megabytes == tt.allocatedMegabytes && tt.buckets) {
    ttClearSilently();
    return;
  }
  ttAllocate(megabytes);
  writeLine("info string Hash table size is now %d meg", megabytes);
  tt.allocatedMegabytes = megabytes;
}

void ttClear() {
  zeroBuckets();
  writeLine("info string Clearing Hash");
}

void ttClearSilently() { zeroBuckets(); }

void ttNewSearch() {
  if (settings::hashMb != 0) tt.generation = (tt.generation + 1) & 255;
}

bool ttProbe(Key key, TTData& data) {
  if (!tt.buckets) return false;
  const TTBucket& bucket = tt.buckets[key & tt.mask];
  for (int i = 0; i < 4; ++i) {
    uint64_t check = loadWord(bucket.slot[i].check);
    uint64_t d = loadWord(bucket.slot[i].data);
    if ((check ^ d) != key) continue;
    data.score = dataScore(d);
    data.move = dataMove(d);
    data.depth = dataDepth(d);
    data.bound = dataFlags(d) & 15;
    data.tag = flagsTag(dataFlags(d));
    data.generation = dataGeneration(d);
    return true;
  }
  return false;
}

// Replacement keeps deep and current results: a slot of an older search
// goes first, then the shallowest; a cut-node tag counts as a little extra
// depth.
void ttStore(Key key, int depth, int score, int flags, Move move, int tag) {
  if (!tt.buckets || score < -TTScoreLimit || score > TTScoreLimit) return;
  const int flagsByte = (flags & 15) | ((tag * 16) & 0xF0);
  const int g = (int)(tt.generation & 255);
  TTBucket& bucket = tt.buckets[key & tt.mask];

  int target = -1;
  uint64_t old = 0;
  Key oldKey = 0;
  for (int i = 0; i < 4; ++i) {
    uint64_t d = loadWord(bucket.slot[i].data);
    Key k = loadWord(bucket.slot[i].check) ^ d;
    if (k == 0 || k == key) {
      target = i;
      old = d;
      oldKey = k;
      break;
    }
  }

  if (target < 0) {
    int bestValue = -1000000;
    for (int i = 0; i < 4; ++i) {
      uint64_t d = loadWord(bucket.slot[i].data);
      int value = (dataGeneration(d) == g ? -600 : 0) - dataDepth(d) - flagsTag(dataFlags(d));
      if (value > bestValue) {
        bestValue = value;
        target = i;
      }
    }
    uint64_t d = packData(score, move, depth, flagsByte, g);
    storeWord(bucket.slot[target].data, d);
    storeWord(bucket.slot[target].check, key ^ d);
    return;
  }

  const bool sameKey = oldKey == key;
  if (move == 0) move = dataMove(old);
  const int oldDepth = dataDepth(old);
  const int oldBound = dataFlags(old) & 3;

  // In analysis a deeper exact result is never overwritten by a shallower
  // one; it only gets refreshed.
  if (settings::analyseMode && sameKey && oldDepth > depth && oldBound == BoundExact) {
    uint64_t d = packData(dataScore(old), move, oldDepth, dataFlags(old), g);
    storeWord(bucket.slot[target].data, d);
    storeWord(bucket.slot[target].check, key ^ d);
    return;
  }

  if (oldKey == 0) tt.usedSlots.add(key);

  // Within one search an at-least-as-deep entry is kept when it already
  // says more than the new bound.
  if (sameKey && dataGeneration(old) == g && oldDepth >= depth) {
    const int newBound = flags & 3;
    const int oldScore = dataScore(old);
    if (oldBound == BoundExact) return;
    if (oldBound == BoundLower) {
      if (newBound == BoundLower && score < oldScore) return;
    } else if (newBound == BoundUpper && score > oldScore) {
      return;
    }
  }

  uint64_t d = packData(score, move, depth, flagsByte, g);
  storeWord(bucket.slot[target].data, d);
  storeWord(bucket.slot[target].check, key ^ d);
}

// Two threads filling the same empty slot at once both count it, so the
// figure is capped at a full table.
int ttHashfull() {
  if (tt.bucketCount == 0) return 0;
  uint64_t perMille = tt.usedSlots.load() * 250 / tt.bucketCount;
  return perMille > 1000 ? 1000 : (int)perMille;
}

namespace {

// Why a file slot (plain key, then the data word) cannot be a table entry,
// or null when it can: an empty slot is all zero; a used one sits in the
// bucket of its key and holds a storable score, a bound the search writes
// and a depth the search can reach.
const char* slotFault(uint64_t key, uint64_t data, uint64_t bucketIndex) {
  if (key == 0) return data == 0 ? nullptr : "an empty slot with data";
  if ((key & tt.mask) != bucketIndex) return "a key outside its bucket";
  const int score = dataScore(data);
  if (score < -TTScoreLimit || score > TTScoreLimit) return "a score outside the mate range";
  const int bound = dataFlags(data) & 15;
  if (bound != BoundUpper && bound != BoundLower && bound != BoundExact && bound != (BoundExact | BoundTerminal))
    return "an invalid bound";
  const int depth = dataDepth(data);
  if (depth < TTMinDepth || depth > TTMaxDepth) return "a depth out of range";
  return nullptr;
}

// One "info string" line about the hash file, flushed at once.
void report(const char* format, ...) ORVANE_PRINTF(1, 2);
void report(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  writeLine("info string %s", text);
}

// The hash file moves through this buffer a piece at a time, so saving and
// loading never need a second table in memory (main thread only).
constexpr uint64_t ChunkBuckets = 1024;
TTBucket fileChunk[ChunkBuckets];

// What one pass over a hash file found: whether every byte could be read,
// and the first slot that cannot be a table entry.
struct FileCheck {
  bool complete = true;
  const char* fault = nullptr;
  uint64_t faultBucket = 0;
  bool sound() const { return complete && !fault; }
};

double progressSeconds = 2;

// The progress of a save or load that takes long (several seconds for a
// table of gigabytes): a line "<what> <n>%" whenever progressSeconds have
// passed since the start or the last such line.  None at 100 %: the
// operation's own last line follows.
struct FileProgress {
  const char* what;
  uint64_t total;  // buckets to pass over
  uint64_t done = 0;
  std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
  void advance(uint64_t buckets) {
    done += buckets;
    const auto now = std::chrono::steady_clock::now();
    if (done >= total || std::chrono::duration<double>(now - last).count() < progressSeconds) return;
    last = now;
    report("%s %d%%", what, (int)(done * 100 / total));
  }
};

// Reads the file from its start in pieces and checks every slot; with copy
// set, each piece found sound is also written into the table.  Stops at the
// first fault.
FileCheck passOverFile(FILE* file, bool copy, FileProgress& progress) {
  FileCheck check;
  std::rewind(file);
  for (uint64_t first = 0; first < tt.bucketCount; first += ChunkBuckets) {
    const uint64_t n = std::min(ChunkBuckets, tt.bucketCount - first);
    if (std::fread(fileChunk, sizeof(TTBucket), n, file) != n) {
      check.complete = false;
      return check;
    }
    for (uint64_t b = 0; b < n; ++b)
      for (int i = 0; i < 4; ++i)
        if ((check.fault = slotFault(fileChunk[b].slot[i].check, fileChunk[b].slot[i].data, first + b))) {
          check.faultBucket = first + b;
          return check;
        }
    if (copy)
      for (uint64_t b = 0; b < n; ++b)
        for (int i = 0; i < 4; ++i) {
          TTEntry& e = tt.buckets[first + b].slot[i];
          const uint64_t d = fileChunk[b].slot[i].data;
          storeWord(e.data, d);
          storeWord(e.check, fileChunk[b].slot[i].check ^ d);
        }
    progress.advance(n);
  }
  return check;
}

}  // namespace

double setHashFileProgressSeconds(double seconds) {
  std::swap(progressSeconds, seconds);
  return seconds;
}

// The file holds each slot's plain key; in memory the check word is key ^ data.
// Two threads storing into one slot at once can leave the key word of one
// store beside the data of the other; such a slot (or any other that fails
// the load's check) is written as an empty slot, so a file the engine wrote
// always loads.
void saveHash() {
  const char* name = settings::hashFileName.c_str();
  std::string problem;
  FILE* file = fopenWithoutWaiting(name, "wb", false, &problem);
  if (!file) {
    report("failed to open %s (%s)", name, problem.c_str());
    return;
  }
  report("Saving Hash");
  FileProgress progress{"Saving Hash", tt.bucketCount};
  bool ok = true;
  for (uint64_t first = 0; ok && first < tt.bucketCount; first += ChunkBuckets) {
    const uint64_t n = std::min(ChunkBuckets, tt.bucketCount - first);
    for (uint64_t b = 0; b < n; ++b)
      for (int i = 0; i < 4; ++i) {
        const TTEntry& e = tt.buckets[first + b].slot[i];
        uint64_t d = loadWord(e.data);
        uint64_t key = loadWord(e.check) ^ d;
        if (slotFault(key, d, first + b)) key = d = 0;
        fileChunk[b].slot[i].check = key;
        fileChunk[b].slot[i].data = d;
      }
    ok = std::fwrite(fileChunk, sizeof(TTBucket), n, file) == n;
    progress.advance(n);
  }
  // Buffered bytes reach the disk only at the close: its failure is a
  // failed save too.
  ok = std::fclose(file) == 0 && ok;
  if (ok)
    report("Hash Saved");
  else
    report("error writing file %s", name);
}

// Two passes over the file: the first reads and checks it all, the second
// copies it into the table.  So the table is replaced only by a file that
// is complete and plausible throughout, a damaged file can neither feed the
// search nonsense nor leave the table half overwritten, and no more than one
// piece of the file is in memory at a time.  Should the file change between
// the passes, the table is emptied rather than left half loaded.
void loadHash() {
  const char* name = settings::hashFileName.c_str();
  std::string problem;
  FILE* file = fopenWithoutWaiting(name, "rb", false, &problem);
  if (!file) {
    if (errno == ENOENT)
      report("no such file %s", name);
    else
      report("failed to open %s (%s)", name, problem.c_str());
    return;
  }
  report("Loading Hash from %s", name);
  // The progress counts both passes: checking is the first half.
  FileProgress progress{"Loading Hash", 2 * tt.bucketCount};
  long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  if (size < 0 || (uint64_t)size != tt.byteSize) {
    report("File size does not match Hash size");
  } else if (const FileCheck check = passOverFile(file, false, progress); !check.complete) {
    report("Error: could not read full file.");
  } else if (check.fault) {
    report("%s is not a hash file of this table (bucket %llu holds %s); table unchanged", name,
           (unsigned long long)check.faultBucket, check.fault);
  } else if (!passOverFile(file, true, progress).sound()) {
    ttClearSilently();
    report("%s changed while it was loaded; table cleared", name);
  } else {
    report("Hash Loaded");
  }
  std::fclose(file);
}
