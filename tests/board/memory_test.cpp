#include "board/memory.h"

#include <gtest/gtest.h>

#include <cstdint>

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
