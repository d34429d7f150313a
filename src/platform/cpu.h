// What the processor offers: the hardware bit count and cache prefetch.
//
// On 64-bit x86 the bit-count instruction (POPCNT) is optional, so the
// evaluation and perft exist in two builds, the faster one compiled for a
// popcnt target (ORVANE_TARGET_POPCNT) and picked at start-up when the
// processor reports the instruction.  Other processors (ARM64) always
// count in hardware: the compiler's builtin is their instruction, the
// target attribute is empty and cpuHasPopcnt answers true.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#define ORVANE_X86 1
#define ORVANE_TARGET_POPCNT __attribute__((target("popcnt")))
#else
#define ORVANE_TARGET_POPCNT
#endif

// Whether the processor counts bits in hardware (on x86: CPUID leaf 1,
// ECX bit 23).
bool cpuHasPopcnt();

// Starts loading the cache line of p.  Written as the instruction itself
// on x86: g++ 12 drops __builtin_prefetch from make-move as dead code,
// which left the child's first table reads without any head start.
inline void prefetchLine(const void* p) {
#ifdef ORVANE_X86
  __asm__ volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p);
#endif
}

// The most search threads the "Threads" option offers: `most`, or fewer
// where the host says how many processors it has (WebAssembly: the
// browser's or Node's count, and 1 in the engine built without threads).
int searchThreadLimit(int most);
