#include "platform/memory.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <vector>

// Blocks of both kinds (small, and huge-page sized) come zeroed, aligned and
// writable over their whole length, and can be returned and taken again.
TEST(LargeMemory, BlocksAreZeroedAlignedAndWritable) {
  for (size_t bytes : {size_t(40), size_t(5000), size_t(3) << 20, (size_t(4) << 20) + 24}) {
    for (int round = 0; round < 2; round++) {
      auto* block = static_cast<unsigned char*>(allocateZeroed(bytes));
      ASSERT_NE(block, nullptr) << bytes;
      EXPECT_EQ((uintptr_t)block % 64, 0u) << bytes;
      if (bytes >= (size_t(2) << 20)) {
        EXPECT_EQ((uintptr_t)block % (size_t(2) << 20), 0u) << bytes;
      }
      size_t nonZero = 0;
      for (size_t i = 0; i < bytes; i += 61) nonZero += block[i] != 0;
      EXPECT_EQ(nonZero, 0u) << bytes;
      block[0] = 1, block[bytes / 2] = 2, block[bytes - 1] = 3;
      EXPECT_EQ(block[bytes - 1], 3);
      freeZeroed(block, bytes);
    }
  }
  freeZeroed(nullptr, 100);  // ignored
}

// Large blocks are faulted in by a background worker: once waitForPrefault
// returns every page is resident without being touched here, the writes
// made meanwhile survive (the worker never writes), and a block freed while
// the worker is inside it leaves the others to be completed in full.
TEST(LargeMemory, LargeBlocksArePrefaultedWithoutChangingThem) {
  const size_t bytes = size_t(16) << 20, earlyBytes = size_t(64) << 20, page = 4096;
  auto* early = static_cast<unsigned char*>(allocateZeroed(earlyBytes));
  auto* block = static_cast<unsigned char*>(allocateZeroed(bytes));
  ASSERT_NE(early, nullptr);
  ASSERT_NE(block, nullptr);
  // Free the first block as soon as the worker has started on it, so that
  // the free meets a populate step in flight.
  unsigned char started = 0;
  for (int i = 0; i < 1000000 && !(started & 1); i++) ASSERT_EQ(mincore(early, page, &started), 0);
  freeZeroed(early, earlyBytes);
  // Writes into the last huge page only: a write faults in its whole huge
  // page, and the rest must come from the worker.
  const size_t written = size_t(2) << 20, rest = bytes - written;
  unsigned char* const last = block + rest;
  for (size_t i = 0; i < written; i += page) last[i + 7] = (unsigned char)(i / page | 1);

  waitForPrefault();
  std::vector<unsigned char> resident(rest / page);
  ASSERT_EQ(mincore(block, rest, resident.data()), 0);
  const size_t missing =
      (size_t)std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return !(r & 1); });
  EXPECT_EQ(missing, 0u) << "pages not resident after waitForPrefault";
  for (size_t i = 0; i < written; i += page) {
    EXPECT_EQ(last[i + 7], (unsigned char)(i / page | 1)) << i;
    EXPECT_EQ(last[i + 8], 0) << i;
  }
  for (size_t i = 0; i < rest; i += 61) ASSERT_EQ(block[i], 0) << i;
  freeZeroed(block, bytes);
}

// A wait whose caller gives up (the process is ending) returns without the
// block: its last page is still untouched.
TEST(LargeMemory, WaitEndsWhenTheCallerGivesUp) {
  const size_t bytes = size_t(256) << 20;
  auto* block = static_cast<unsigned char*>(allocateZeroed(bytes));
  ASSERT_NE(block, nullptr);
  waitForPrefault([] { return true; });
  unsigned char lastResident = 1;
  ASSERT_EQ(mincore(block + bytes - 4096, 4096, &lastResident), 0);
  EXPECT_EQ(lastResident & 1, 0) << "the wait went on after its caller gave up";
  freeZeroed(block, bytes);
}
