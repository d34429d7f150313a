// Memory for the large tables (transposition table, evaluation caches).
//
// The blocks come straight from the kernel as anonymous mappings: they are
// zero when handed out, so nothing needs clearing by hand after allocation,
// and a page costs nothing until it is first touched.  Blocks of 2 MB or more
// are aligned to 2 MB, so that a kernel that backs memory with transparent
// huge pages by itself can take address-translation misses out of the random
// probes these tables serve.
#pragma once

#include <cstddef>

// A zero-filled block of at least `bytes` bytes, 64-byte aligned; null when
// the system refuses.
void* allocateZeroed(size_t bytes);
// Returns a block from allocateZeroed; `bytes` is the size asked for then.
// Null is ignored.
void freeZeroed(void* block, size_t bytes);
