// Memory for the large tables (transposition table, evaluation caches).
//
// The blocks come straight from the system's page allocator (pages.h, one
// implementation per system): they are zero when handed out, so nothing
// needs clearing by hand after allocation.
// Blocks of 2 MB or more are aligned to 2 MB and marked for transparent huge
// pages before their first touch, which takes most address-translation
// misses out of the random probes these tables serve; a background worker
// then faults their pages in without writing to them, so neither start-up
// nor the first searches pay for the page faults.  Where the kernel has no
// huge pages, or must compact memory to find them, the blocks fall back to
// small pages.  On Windows the blocks use large pages where the account may
// lock pages in memory (they are resident from the start) and ordinary
// pages otherwise, which the searches fault in.
#pragma once

#include <cstddef>
#include <cstdint>

// A zero-filled block of at least `bytes` bytes, 64-byte aligned; null when
// the system refuses, or when the size does not fit the address space (a
// 32-bit one: WebAssembly).
void* allocateZeroed(uint64_t bytes);
// Returns a block from allocateZeroed; `bytes` is the size asked for then.
// Null is ignored.
void freeZeroed(void* block, size_t bytes);
// Waits until every block handed out so far has all its pages.  After an
// option has resized the tables, so that the next search never pays for a
// fresh table's page faults: with huge pages even a short search touches
// nearly every page of a large table, and faulting gigabytes inside a
// search could cost it seconds.  The caller populates beside the worker
// meanwhile.  Start-up does not wait.  A non-null `giveUp` is asked between
// steps and ends the wait early when it answers true (the process is ending).
void waitForPrefault(bool (*giveUp)() = nullptr);
