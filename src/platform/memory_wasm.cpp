// The WebAssembly side of the large-block allocator.  A wasm memory is one
// linear block that only grows, with nothing to map or advise: blocks come
// from the C library's allocator (which grows the memory when it must) and
// are cleared by hand, since a freed and reused block is not zero.  The
// memory is resident once grown, so there is nothing to prefault.
#include <cstdlib>
#include <cstring>

#include "platform/pages.h"

namespace {

void* zeroedBlock(size_t size, size_t alignment) {
  void* block = std::aligned_alloc(alignment, size);
  if (block) std::memset(block, 0, size);
  return block;
}

}  // namespace

void* mapSmallBlock(size_t size) { return zeroedBlock(size, SmallPage); }

void* mapLargeBlock(size_t size, bool* populate) {
  *populate = false;
  return zeroedBlock(size, 64);
}

void unmapBlock(void* block, size_t) { std::free(block); }

PopulateResult populatePages(char*, size_t) { return PopulateResult::Unsupported; }

void useSmallPages(char*, size_t) {}

double threadCpuSeconds() { return 0.0; }
