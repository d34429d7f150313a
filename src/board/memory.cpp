#include "board/memory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr size_t HugePage = size_t(2) << 20;
constexpr size_t SmallPage = 4096;

size_t roundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// Bytes actually mapped for a request: whole huge pages for large blocks.
size_t mappedSize(size_t bytes) { return bytes >= HugePage ? roundUp(bytes, HugePage) : roundUp(bytes, SmallPage); }

}  // namespace

void* allocateZeroed(size_t bytes) {
  if (bytes == 0) bytes = 1;
  const size_t size = mappedSize(bytes);
  if (size < HugePage) {
    void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
  }
  // Map one huge page more than needed and trim both ends so the block
  // starts on a huge-page boundary.
  const size_t span = size + HugePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = (uintptr_t)raw, aligned = roundUp(start, HugePage);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + span, used = aligned + size;
  if (end > used) munmap((void*)used, end - used);
  // No MADV_HUGEPAGE hint: where the kernel defragments on such faults, the
  // first search stalled for seconds while every touched page was compacted
  // (about 2 s for the default 128 MB table).  The kernel may still back the
  // aligned block with huge pages on its own.
  return (void*)aligned;
}

void freeZeroed(void* block, size_t bytes) {
  if (!block) return;
  if (bytes == 0) bytes = 1;
  munmap(block, mappedSize(bytes));
}
