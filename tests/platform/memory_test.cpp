// The large-block allocator.  Every system: blocks come zeroed, aligned and
// writable.  POSIX systems only: the background prefault of large blocks,
// watched through mincore and this program's own madvise; Windows
// populates nothing in the background, its blocks being resident (large
// pages) or faulted in by the searches.
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int PopulateWrite = 23;  // MADV_POPULATE_WRITE, missing from older headers
constexpr size_t HugePageBytes = size_t(2) << 20, PageBytes = 4096;

// Populate calls still to be failed: the last two with EAGAIN, those
// before them with EINTR.
std::atomic<int> populateFailuresLeft{0};
std::atomic<int> populateFailuresMade{0};
// Populate calls that returned on the block [watchedStart, + watchedSize).
std::atomic<uintptr_t> watchedStart{0};
std::atomic<size_t> watchedSize{0};
std::atomic<int> watchedPopulates{0};

// Pages of [block, block + bytes) that are not resident.
size_t missingPages(const void* block, size_t bytes) {
  std::vector<unsigned char> resident(bytes / PageBytes);
  if (mincore(const_cast<void*>(block), bytes, resident.data()) != 0) return bytes / PageBytes;
  return (size_t)std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return !(r & 1); });
}

}  // namespace

// Every madvise of the test program, the allocator's included, comes here
// (the program's own definition comes before the C library's and a
// sanitizer's) and goes on to the kernel, except the populate calls
// planned to fail.
extern "C" int madvise(void* address, size_t length, int advice) noexcept {
  if (advice == PopulateWrite)
    for (int left = populateFailuresLeft.load(); left > 0;)
      if (populateFailuresLeft.compare_exchange_weak(left, left - 1)) {
        populateFailuresMade++;
        errno = left > 2 ? EINTR : EAGAIN;
        return -1;
      }
  const int result = (int)syscall(SYS_madvise, address, length, advice);
  if (advice == PopulateWrite && (uintptr_t)address - watchedStart < watchedSize) watchedPopulates++;
  return result;
}

#endif

// Blocks of both kinds (small, and huge-page sized) come zeroed, aligned and
// writable over their whole length, and can be returned and taken again.
TEST(LargeMemory, BlocksAreZeroedAlignedAndWritable) {
  for (size_t bytes : {size_t(40), size_t(5000), size_t(3) << 20, (size_t(4) << 20) + 24}) {
    for (int round = 0; round < 2; round++) {
      auto* block = static_cast<unsigned char*>(allocateZeroed(bytes));
      ASSERT_NE(block, nullptr) << bytes;
      EXPECT_EQ((uintptr_t)block % 64, 0u) << bytes;
      // Huge pages need 2 MB alignment; Windows without large pages has
      // only its allocation granularity of 64 KiB to give.
#ifdef _WIN32
      const size_t largeAlignment = size_t(64) << 10;
#else
      const size_t largeAlignment = size_t(2) << 20;
#endif
      if (bytes >= (size_t(2) << 20)) {
        EXPECT_EQ((uintptr_t)block % largeAlignment, 0u) << bytes;
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

#ifndef _WIN32

// Large blocks are faulted in by a background worker: once waitForPrefault
// returns every page is resident without being touched here, and the
// writes made meanwhile survive (the worker never writes).  A block freed
// while the worker is inside it is freed after the step in flight, not
// after its whole populate, and leaves the others to be completed in full.
TEST(LargeMemory, LargeBlocksArePrefaultedWithoutChangingThem) {
  const size_t bytes = size_t(16) << 20, earlyBytes = size_t(1) << 30, page = PageBytes;
  auto* early = static_cast<unsigned char*>(allocateZeroed(earlyBytes));
  watchedStart = (uintptr_t)early, watchedSize = earlyBytes;
  auto* block = static_cast<unsigned char*>(allocateZeroed(bytes));
  ASSERT_NE(early, nullptr);
  ASSERT_NE(block, nullptr);
  // Free the first block once the worker has populated a step of it, so
  // that the free meets the worker inside it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (watchedPopulates == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  ASSERT_GT(watchedPopulates.load(), 0) << "the worker never started on the block";
  const int before = watchedPopulates;
  const auto start = std::chrono::steady_clock::now();
  freeZeroed(early, earlyBytes);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The free waits for the step in flight, and the worker starts no other
  // step meanwhile; half the block leaves room for a test thread that a
  // busy machine deschedules while the worker goes on.
  EXPECT_LT(watchedPopulates - before, int(earlyBytes / HugePageBytes / 2))
      << "steps populated while the free waited (" << seconds << " s)";
  watchedSize = 0;
  // Writes into the last huge page only: a write faults in its whole huge
  // page, and the rest must come from the worker.
  const size_t written = HugePageBytes, rest = bytes - written;
  unsigned char* const last = block + rest;
  for (size_t i = 0; i < written; i += page) last[i + 7] = (unsigned char)(i / page | 1);

  waitForPrefault();
  EXPECT_EQ(missingPages(block, rest), 0u) << "pages not resident after waitForPrefault";
  for (size_t i = 0; i < written; i += page) {
    EXPECT_EQ(last[i + 7], (unsigned char)(i / page | 1)) << i;
    EXPECT_EQ(last[i + 8], 0) << i;
  }
  for (size_t i = 0; i < rest; i += 61) ASSERT_EQ(block[i], 0) << i;
  freeZeroed(block, bytes);
}

// A populate interrupted by a signal (EINTR) or refused for the moment
// (EAGAIN) is tried again: the block is complete after the wait, and the
// next block is populated too (the failures were not taken for a system
// that cannot populate).
TEST(LargeMemory, PopulateIsRetriedAfterPassingFailures) {
  const size_t bytes = size_t(8) << 20;
  populateFailuresMade = 0;
  populateFailuresLeft = 4;
  void* first = allocateZeroed(bytes);
  ASSERT_NE(first, nullptr);
  waitForPrefault();
  EXPECT_EQ(populateFailuresMade, 4) << "the populate calls did not come through this program's madvise";
  populateFailuresLeft = 0;
  EXPECT_EQ(missingPages(first, bytes), 0u);
  void* second = allocateZeroed(bytes);
  ASSERT_NE(second, nullptr);
  waitForPrefault();
  EXPECT_EQ(missingPages(second, bytes), 0u);
  freeZeroed(first, bytes);
  freeZeroed(second, bytes);
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

#endif
