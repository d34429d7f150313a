// The system calls behind the large-block allocator (memory.cpp), one
// implementation per system: memory_posix.cpp maps anonymous memory and
// asks for transparent huge pages, memory_windows.cpp takes VirtualAlloc
// memory, with large pages where the account may lock pages in memory.
#pragma once

#include <cstddef>

constexpr size_t HugePage = size_t(2) << 20;
constexpr size_t SmallPage = 4096;

// A zero-filled, page-aligned block of `size` bytes (a whole number of
// small pages); null when the system refuses.
void* mapSmallBlock(size_t size);
// A zero-filled block of `size` bytes (a whole number of huge pages),
// aligned to HugePage where the system can.  *populate says whether its
// pages still have to be faulted in (populatePages); false when the system
// hands them out resident.  Null when the system refuses.
void* mapLargeBlock(size_t size, bool* populate);
// Returns a block of either kind; `size` as mapped.
void unmapBlock(void* block, size_t size);

enum class PopulateResult { Populated, Skipped, Unsupported };
// Faults in the pages of [from, from + size) as a write would, without
// reading or changing their contents.  Skipped when the system kept
// refusing for the moment; Unsupported when it cannot do that at all.  The
// searches fault in whatever was not populated themselves.
PopulateResult populatePages(char* from, size_t size);
// Asks for small pages over the rest of a block whose huge pages come too
// slowly.
void useSmallPages(char* from, size_t size);
// Processor time of the calling thread, in seconds.
double threadCpuSeconds();
