// Anonymous mappings with transparent huge pages where the system has them
// (Linux); any POSIX system builds without them.
#include <sys/mman.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <thread>

#include "platform/pages.h"

namespace {

// How often a populate refused for the moment (EAGAIN) is tried again, and
// the pause between tries, before its step is left to the searches.
constexpr int PopulateRetries = 20;
constexpr auto PopulateRetryPause = std::chrono::milliseconds(1);

size_t roundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

void* mapAnonymous(size_t size) {
  void* block = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return block == MAP_FAILED ? nullptr : block;
}

}  // namespace

void* mapSmallBlock(size_t size) { return mapAnonymous(size); }

void* mapLargeBlock(size_t size, bool* populate) {
  // Map one huge page more than needed and trim both ends so the block
  // starts on a huge-page boundary.
  const size_t span = size + HugePage;
  void* raw = mapAnonymous(span);
  if (!raw) return nullptr;
  const uintptr_t start = (uintptr_t)raw, aligned = roundUp(start, HugePage);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + span, used = aligned + size;
  if (end > used) munmap((void*)used, end - used);
#ifdef MADV_HUGEPAGE
  // Huge pages take most address-translation misses out of the tables'
  // random probes.  The hint is given before the first touch, so the pages
  // are huge from the start and never collapsed later by copying; a system
  // without them ignores it.
  madvise((void*)aligned, size, MADV_HUGEPAGE);
#endif
  *populate = true;
  return (void*)aligned;
}

void unmapBlock(void* block, size_t size) { munmap(block, size); }

PopulateResult populatePages(char* from, size_t size) {
#if defined(__linux__)
  // The kernel's number, for C libraries older than the call.
  constexpr int PopulateWrite = 23;
  for (int attempt = 0;; attempt++) {
    if (madvise(from, size, PopulateWrite) == 0) return PopulateResult::Populated;
    // A signal or a moment's shortage of memory is no sign that the system
    // cannot populate: try again, and after a while leave this step to the
    // searches.
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return PopulateResult::Unsupported;
    if (attempt == PopulateRetries) return PopulateResult::Skipped;
    std::this_thread::sleep_for(PopulateRetryPause);
  }
#else
  (void)from, (void)size;
  return PopulateResult::Unsupported;
#endif
}

void useSmallPages(char* from, size_t size) {
#ifdef MADV_NOHUGEPAGE
  madvise(from, size, MADV_NOHUGEPAGE);
#else
  (void)from, (void)size;
#endif
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}
