#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "board/position.h"
#include "board/settings.h"
#include "tt/tt.h"

namespace {

// Every test starts from a small empty table in the default settings.
class TTTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::analyseMode = 0;
    settings::hashMb = 1;
    ttAllocate(1);
  }
  void TearDown() override { settings::analyseMode = 0; }
  // The i-th key that falls into the bucket of base.
  static Key sameBucket(Key base, int i) { return base + (Key)i * (tt.mask + 1); }
};

TEST_F(TTTest, AllocationSizes) {
  ttAllocate(128);
  EXPECT_EQ(tt.bucketCount, 1ull << 21);
  EXPECT_EQ(tt.byteSize, 134217728ull);
  EXPECT_EQ(tt.mask, (1ull << 21) - 1);
  ttAllocate(100);
  EXPECT_EQ(tt.bucketCount, 1ull << 20);
  ttAllocate(3);
  EXPECT_EQ(tt.byteSize, 2ull << 20);
  ttAllocate(1);
  EXPECT_EQ(tt.byteSize, 1ull << 20);
  EXPECT_EQ(ttBuckets, reinterpret_cast<const char*>(tt.buckets));
  EXPECT_EQ(ttMask, tt.mask);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(tt.buckets) % 64, 0u);
}

TEST_F(TTTest, StoreProbeRoundTrip) {
  const Key key = 0x123456789ABCDEF1ull;
  TTData d;
  EXPECT_FALSE(ttProbe(key, d));
  ttStore(key, 17, -345, BoundLower, makeMove16(12, 28, KindDouble), 1);
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.depth, 17);
  EXPECT_EQ(d.score, -345);
  EXPECT_EQ(d.bound, BoundLower);
  EXPECT_EQ(d.move, makeMove16(12, 28, KindDouble));
  EXPECT_EQ(d.tag, 1);
  EXPECT_EQ(d.generation, 0);
  EXPECT_FALSE(ttProbe(key ^ 1, d));
  EXPECT_FALSE(ttProbe(sameBucket(key, 1), d));

  // Negative depths (quiescence), terminal flags and negative tags survive.
  const Key other = 0x0F0F0F0F12345678ull;
  ttStore(other, -2, 0, BoundExact | BoundTerminal, 0, -1);
  ASSERT_TRUE(ttProbe(other, d));
  EXPECT_EQ(d.depth, -2);
  EXPECT_EQ(d.bound, 7);
  EXPECT_EQ(d.move, 0);
  EXPECT_EQ(d.tag, -1);
}

TEST_F(TTTest, ScoreRangeLimits) {
  const Key a = 0x1111222233334444ull, b = 0x5555666677778888ull, c = 0x9999AAAABBBBCCCCull;
  TTData d;
  ttStore(a, 4, 32501, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(a, d));
  ttStore(a, 4, -32501, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(a, d));
  ttStore(b, 4, 32500, BoundExact, 0, 0);
  ASSERT_TRUE(ttProbe(b, d));
  EXPECT_EQ(d.score, 32500);
  ttStore(c, 4, -32500, BoundExact, 0, 0);
  ASSERT_TRUE(ttProbe(c, d));
  EXPECT_EQ(d.score, -32500);
}

TEST_F(TTTest, MateScoresAreStoredRelativeToTheNode) {
  // A mate found at ply 7 (side to move mates in 5 more plies from the root's view) ...
  const int mateAtPly7 = MateScore - 12;
  const int mattedAtPly7 = -(MateScore - 12);
  const Key key = 0xDEADBEEF00000001ull, key2 = 0xDEADBEEF00000002ull;
  ttStore(key, 10, scoreToTT(mateAtPly7, 7), BoundExact, 0, 0);
  ttStore(key2, 10, scoreToTT(mattedAtPly7, 7), BoundExact, 0, 0);
  TTData d;
  ASSERT_TRUE(ttProbe(key, d));
  // ... probed at ply 3 is a mate 4 plies nearer the root.
  EXPECT_EQ(scoreFromTT(d.score, 3), mateAtPly7 + 4);
  EXPECT_EQ(scoreFromTT(d.score, 7), mateAtPly7);
  ASSERT_TRUE(ttProbe(key2, d));
  EXPECT_EQ(scoreFromTT(d.score, 3), mattedAtPly7 - 4);
  // Ordinary scores pass unchanged at any ply.
  for (int s : {0, 150, -150, 31799, -31799})
    for (int ply : {0, 1, 30}) {
      EXPECT_EQ(scoreToTT(s, ply), s);
      EXPECT_EQ(scoreFromTT(scoreToTT(s, ply), ply), s);
    }
  for (int s : {31800, 31990, -31800, -31995})
    for (int ply : {0, 1, 5, 100}) EXPECT_EQ(scoreFromTT(scoreToTT(s, ply), ply), s);
}

TEST_F(TTTest, KeepRulesWithinOneSearch) {
  const Key key = 0x7777000011112222ull;
  TTData d;
  // Upper bound: a higher score from a shallower search does not replace it, a lower one does.
  ttStore(key, 10, 50, BoundUpper, 0, 0);
  ttStore(key, 10, 80, BoundUpper, 0, 0);
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.score, 50);
  ttStore(key, 8, 20, BoundUpper, 0, 0);
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.score, 20);
  EXPECT_EQ(d.depth, 8);
  // A deeper result always replaces.
  ttStore(key, 12, 90, BoundUpper, 0, 0);
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.score, 90);

  // Lower bound: a lower score of a lower bound is kept out; a higher one goes in.
  const Key lower = 0x7777000011113333ull;
  ttStore(lower, 10, 100, BoundLower, makeMove16(1, 18), 0);
  ttStore(lower, 10, 60, BoundLower, makeMove16(6, 21), 0);
  ASSERT_TRUE(ttProbe(lower, d));
  EXPECT_EQ(d.score, 100);
  EXPECT_EQ(d.move, makeMove16(1, 18));
  ttStore(lower, 10, 130, BoundLower, 0, 0);
  ASSERT_TRUE(ttProbe(lower, d));
  EXPECT_EQ(d.score, 130);
  EXPECT_EQ(d.move, makeMove16(1, 18));  // move 0 keeps the old move
  // An upper bound over a lower bound of equal depth replaces it.
  ttStore(lower, 10, 40, BoundUpper, 0, 0);
  ASSERT_TRUE(ttProbe(lower, d));
  EXPECT_EQ(d.bound, BoundUpper);
  EXPECT_EQ(d.move, makeMove16(1, 18));

  // Exact entries are kept against anything not deeper.
  const Key exact = 0x7777000011114444ull;
  ttStore(exact, 10, 5, BoundExact, makeMove16(12, 20), 0);
  ttStore(exact, 10, 7, BoundLower, makeMove16(11, 19), 0);
  ttStore(exact, 9, 7, BoundExact, 0, 0);
  ASSERT_TRUE(ttProbe(exact, d));
  EXPECT_EQ(d.score, 5);
  EXPECT_EQ(d.move, makeMove16(12, 20));
  // In a later search the same results do replace it.
  ttNewSearch();
  ttStore(exact, 9, 7, BoundLower, 0, 0);
  ASSERT_TRUE(ttProbe(exact, d));
  EXPECT_EQ(d.score, 7);
  EXPECT_EQ(d.depth, 9);
  EXPECT_EQ(d.move, makeMove16(12, 20));
  EXPECT_EQ(d.generation, 1);
}

TEST_F(TTTest, AnalysisModeKeepsDeeperExactEntries) {
  settings::analyseMode = 1;
  const Key key = 0x4242424242424242ull;
  ttStore(key, 20, 33, BoundExact, makeMove16(12, 28, KindDouble), 0);
  ttNewSearch();
  ttStore(key, 6, -80, BoundLower, makeMove16(6, 21), 0);
  TTData d;
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.depth, 20);
  EXPECT_EQ(d.score, 33);
  EXPECT_EQ(d.bound, BoundExact);
  EXPECT_EQ(d.move, makeMove16(6, 21));
  EXPECT_EQ(d.generation, 1);
  settings::analyseMode = 0;
  ttNewSearch();
  ttStore(key, 6, -80, BoundLower, 0, 0);
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.depth, 6);
}

TEST_F(TTTest, ReplacementPrefersOldThenShallowSlots) {
  const Key base = 0x1000000000000040ull;
  TTData d;
  // Old generation: depths 8, 4, 4, 12 in slots 0..3.
  const int oldDepth[4] = {8, 4, 4, 12};
  for (int i = 0; i < 4; ++i) ttStore(sameBucket(base, i), oldDepth[i], i, BoundExact, 0, 0);
  EXPECT_EQ(tt.usedSlots.load(), 4u);
  ttNewSearch();
  // Current generation entry replaces the shallowest old one, the lower slot of equals (slot 1).
  ttStore(sameBucket(base, 4), 30, 4, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(sameBucket(base, 1), d));
  EXPECT_TRUE(ttProbe(sameBucket(base, 2), d));
  ASSERT_TRUE(ttProbe(sameBucket(base, 4), d));
  EXPECT_EQ(d.generation, 1);
  EXPECT_EQ(tt.usedSlots.load(), 4u);  // replacement does not count as a new slot
  // Next: slot 2 (old, depth 4), then slot 0 (old, depth 8), then slot 3 (old, depth 12).
  ttStore(sameBucket(base, 5), 2, 5, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(sameBucket(base, 2), d));
  ttStore(sameBucket(base, 6), 2, 6, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(sameBucket(base, 0), d));
  ttStore(sameBucket(base, 7), 2, 7, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(sameBucket(base, 3), d));
  // All current: the shallowest goes, the lowest slot among equals (slot 0, key 6).
  ttStore(sameBucket(base, 8), 40, 8, BoundExact, 0, 0);
  EXPECT_FALSE(ttProbe(sameBucket(base, 6), d));
  EXPECT_TRUE(ttProbe(sameBucket(base, 4), d));
  EXPECT_TRUE(ttProbe(sameBucket(base, 5), d));
  EXPECT_TRUE(ttProbe(sameBucket(base, 7), d));
}

TEST_F(TTTest, CutNodeTagProtectsASlot) {
  const Key base = 0x2000000000000080ull;
  TTData d;
  for (int i = 0; i < 4; ++i) ttStore(sameBucket(base, i), 10, i, BoundLower, 0, i == 0 ? 1 : 0);
  ttStore(sameBucket(base, 4), 10, 4, BoundLower, 0, 0);
  EXPECT_TRUE(ttProbe(sameBucket(base, 0), d));
  EXPECT_FALSE(ttProbe(sameBucket(base, 1), d));
}

TEST_F(TTTest, GenerationsWrapAndNeedATable) {
  for (int i = 0; i < 300; ++i) ttNewSearch();
  EXPECT_EQ(tt.generation, 300u % 256);
  settings::hashMb = 0;
  ttNewSearch();
  EXPECT_EQ(tt.generation, 300u % 256);
  settings::hashMb = 1;
  ttClearSilently();
  EXPECT_EQ(tt.generation, 0u);
}

TEST_F(TTTest, HashfullCountsFilledSlots) {
  EXPECT_EQ(ttHashfull(), 0);
  // 1 MB: 16384 buckets; filling 16384 slots is a quarter, 250 per mille.
  for (uint64_t i = 1; i <= 16384; ++i) ttStore(i * 0x9E3779B97F4A7C15ull, 2, 0, BoundUpper, 0, 0);
  const int full = ttHashfull();
  EXPECT_GT(full, 200);
  EXPECT_LE(full, 250);
  // Hashfull does not fall with new generations.
  ttNewSearch();
  EXPECT_EQ(ttHashfull(), full);
  testing::internal::CaptureStdout();
  ttClear();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Clearing Hash\n");
  EXPECT_EQ(ttHashfull(), 0);
  ttAllocate(128);
  ttStore(12345, 2, 0, BoundUpper, 0, 0);
  EXPECT_EQ(ttHashfull(), 0);
  ttAllocate(1);
}

TEST_F(TTTest, ResizeAndDirtyFlag) {
  testing::internal::CaptureStdout();
  ttResize(2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Hash table size is now 2 meg\n");
  EXPECT_EQ(settings::hashMb, 2);
  EXPECT_EQ(tt.allocatedMegabytes, 2);
  EXPECT_EQ(tt.byteSize, 2ull << 20);
  ttStore(99, 4, 10, BoundExact, 0, 0);
  tt.ttDirty = 1;
  // Same size: emptied in place, no message.
  testing::internal::CaptureStdout();
  ttResize(2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  TTData d;
  EXPECT_FALSE(ttProbe(99, d));
  EXPECT_EQ(tt.ttDirty, 0);
  // A new size keeps the table usable; the size line gives the Hash value
  // when the table is what the sizing rule makes of it (5 gives 4 MB).
  testing::internal::CaptureStdout();
  ttResize(5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Hash table size is now 5 meg\n");
  EXPECT_EQ(tt.byteSize, 4ull << 20);
  ttStore(99, 4, 10, BoundExact, 0, 0);
  EXPECT_TRUE(ttProbe(99, d));
  tt.allocatedMegabytes = -5;
  settings::hashMb = 1;
}

TEST_F(TTTest, HashFileRoundTrip) {
  const std::string name = ::testing::TempDir() + "orvane_tt_test.hash";
  settings::hashFileName = name;
  const Key key = 0xABCDEF0123456789ull;
  ttStore(key, 14, -77, BoundLower, makeMove16(6, 21), 1);
  testing::internal::CaptureStdout();
  saveHash();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string Saving Hash\ninfo string Hash Saved\n");
  // The file keeps the plain key at the start of the slot.
  {
    std::ifstream in(name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), tt.byteSize);
    bool found = false;
    for (size_t off = 0; off < bytes.size(); off += 16) {
      uint64_t k;
      int16_t score;
      std::memcpy(&k, &bytes[off], 8);
      std::memcpy(&score, &bytes[off + 8], 2);
      if (k == key) found = score == -77 && (uint8_t)bytes[off + 14] == (BoundLower | 16) && bytes[off + 15] == 0;
    }
    EXPECT_TRUE(found);
  }
  testing::internal::CaptureStdout();
  ttClear();
  loadHash();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "info string Clearing Hash\ninfo string Loading Hash from " + name + "\ninfo string Hash Loaded\n");
  TTData d;
  ASSERT_TRUE(ttProbe(key, d));
  EXPECT_EQ(d.score, -77);
  EXPECT_EQ(d.move, makeMove16(6, 21));
  EXPECT_EQ(ttHashfull(), 0);
  // A file of another size is refused and leaves the table alone.
  ttAllocate(2);
  testing::internal::CaptureStdout();
  loadHash();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "info string Loading Hash from " + name + "\ninfo string File size does not match Hash size\n");
  EXPECT_FALSE(ttProbe(key, d));
  std::remove(name.c_str());
  testing::internal::CaptureStdout();
  loadHash();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "info string no such file " + name + "\n");
  settings::hashFileName.clear();
}

// A slot whose two words were written by two racing stores (the check word
// of one, the data word of the other) must read as a miss for both keys.
TEST_F(TTTest, MixedSlotWordsNeverMatch) {
  const Key a = 0x5000000000000200ull, b = sameBucket(a, 3);
  TTEntry& slot = tt.buckets[a & tt.mask].slot[0];
  ttStore(a, 10, 111, BoundLower, makeMove16(1, 18), 0);
  const TTEntry first = slot;
  ttClearSilently();
  ttStore(b, 4, -222, BoundUpper, makeMove16(6, 21), 1);
  const TTEntry second = slot;
  ttClearSilently();
  ttStore(a, 12, 5, BoundExact, makeMove16(12, 28, KindDouble), 0);
  const TTEntry sameKeyLater = slot;
  TTData d;
  const std::pair<TTEntry, TTEntry> mixes[] = {{first, second}, {second, first}, {first, sameKeyLater},
                                               {sameKeyLater, first}};
  for (const auto& [checkFrom, dataFrom] : mixes) {
    slot.check = checkFrom.check;
    slot.data = dataFrom.data;
    EXPECT_FALSE(ttProbe(a, d));
    EXPECT_FALSE(ttProbe(b, d));
  }
  slot = second;
  EXPECT_TRUE(ttProbe(b, d));
  EXPECT_EQ(d.score, -222);
}

// Several threads hammer the same bucket; every hit must carry the data
// stored with its own key, never a mix of two stores.
TEST_F(TTTest, ConcurrentStoresNeverYieldMixedEntries) {
  const Key base = 0x3000000000000100ull;
  constexpr int Keys = 12;
  auto scoreOf = [](int i, unsigned round) { return (int)((i * 977 + round * 31) % 20000) - 10000; };
  std::atomic<int> mixed{0}, hits{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      unsigned seed = 12345 + t;
      for (unsigned round = 0; round < 60000; ++round) {
        seed = seed * 1103515245 + 12345;
        const int i = (int)((seed >> 16) % Keys);
        const Key key = sameBucket(base, i);
        if (seed & 0x100) {
          // Depth and move are functions of the key; the score tells the depth back.
          const int s = scoreOf(i, round);
          ttStore(key, 2 * i + 1, s, BoundLower, makeMove16(i, 63 - i), 0);
        } else {
          TTData d;
          if (ttProbe(key, d)) {
            hits.fetch_add(1, std::memory_order_relaxed);
            if (d.depth != 2 * i + 1 || d.move != makeMove16(i, 63 - i)) mixed.fetch_add(1);
          }
        }
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(mixed.load(), 0);
  EXPECT_GT(hits.load(), 0);
}

}  // namespace
