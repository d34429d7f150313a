#include "tt/tt.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "board/memory.h"
#include "board/position.h"
#include "board/settings.h"

TranspositionTable tt;

namespace {

// Relaxed atomic access to one word of a slot.
inline uint64_t loadWord(const uint64_t& w) {
  return std::atomic_ref<const uint64_t>(w).load(std::memory_order_relaxed);
}
inline void storeWord(uint64_t& w, uint64_t v) { std::atomic_ref<uint64_t>(w).store(v, std::memory_order_relaxed); }

// Tells the board where the buckets are, for make-move's prefetch.
void publishGeometry() {
  ttBuckets = reinterpret_cast<const char*>(tt.buckets);
  ttMask = tt.mask;
}

// The counters of an empty table.  Fresh buckets from allocateZeroed are
// zero already, so allocation resets only these.
void resetCounters() {
  tt.generation = 0;
  tt.usedSlots.store(0, std::memory_order_relaxed);
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
  if (!memory) {
    std::fprintf(stderr, "Hash table must be bigger than 0\n");
    std::exit(1);
  }
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
  std::printf("info string Hash table size is now %d meg\n", megabytes);
  std::fflush(stdout);
  tt.allocatedMegabytes = megabytes;
}

void ttClear() {
  zeroBuckets();
  std::printf("info string Clearing Hash\n");
  std::fflush(stdout);
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

  if (oldKey == 0) tt.usedSlots.fetch_add(1, std::memory_order_relaxed);

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
  uint64_t perMille = tt.usedSlots.load(std::memory_order_relaxed) * 250 / tt.bucketCount;
  return perMille > 1000 ? 1000 : (int)perMille;
}

// The file holds each slot's plain key; in memory the check word is key ^ data.
void saveHash() {
  const char* name = settings::hashFileName.c_str();
  FILE* file = std::fopen(name, "wb");
  if (!file) {
    std::printf("info string failed to open %s\n", name);
    std::fflush(stdout);
    return;
  }
  std::printf("info string Saving Hash\n");
  std::fflush(stdout);
  bool ok = true;
  TTBucket chunk[1024];
  for (uint64_t first = 0; ok && first < tt.bucketCount; first += 1024) {
    uint64_t n = tt.bucketCount - first < 1024 ? tt.bucketCount - first : 1024;
    for (uint64_t b = 0; b < n; ++b)
      for (int i = 0; i < 4; ++i) {
        const TTEntry& e = tt.buckets[first + b].slot[i];
        uint64_t d = loadWord(e.data);
        chunk[b].slot[i].check = loadWord(e.check) ^ d;
        chunk[b].slot[i].data = d;
      }
    ok = std::fwrite(chunk, sizeof(TTBucket), n, file) == n;
  }
  if (ok)
    std::printf("info string Hash Saved\n");
  else
    std::printf("info string error writing file %s\n", name);
  std::fflush(stdout);
  std::fclose(file);
}

void loadHash() {
  const char* name = settings::hashFileName.c_str();
  FILE* file = std::fopen(name, "rb");
  if (!file) {
    std::printf("info string no such file %s\n", name);
    std::fflush(stdout);
    return;
  }
  std::printf("info string Loading Hash from %s\n", name);
  std::fflush(stdout);
  std::fseek(file, 0, SEEK_END);
  long size = std::ftell(file);
  std::rewind(file);
  if (size < 0 || (uint64_t)size != tt.byteSize) {
    std::printf("info string File size does not match Hash size\n");
    std::fflush(stdout);
    std::fclose(file);
    return;
  }
  bool ok = true;
  TTBucket chunk[1024];
  for (uint64_t first = 0; ok && first < tt.bucketCount; first += 1024) {
    uint64_t n = tt.bucketCount - first < 1024 ? tt.bucketCount - first : 1024;
    uint64_t got = std::fread(chunk, sizeof(TTBucket), n, file);
    for (uint64_t b = 0; b < got; ++b)
      for (int i = 0; i < 4; ++i) {
        TTEntry& e = tt.buckets[first + b].slot[i];
        uint64_t d = chunk[b].slot[i].data;
        storeWord(e.data, d);
        storeWord(e.check, chunk[b].slot[i].check ^ d);
      }
    ok = got == n;
  }
  if (ok)
    std::printf("info string Hash Loaded\n");
  else
    std::printf("info string Error: could not read full file.\n");
  std::fflush(stdout);
  std::fclose(file);
}
