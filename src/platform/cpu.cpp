#include "platform/cpu.h"

#ifdef ORVANE_X86
#include <cpuid.h>
#endif
#ifdef __EMSCRIPTEN_PTHREADS__
#include <emscripten/threading.h>
#endif

#include <algorithm>

bool cpuHasPopcnt() {
#ifdef ORVANE_X86
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c >> 23) & 1;
#else
  return true;
#endif
}

int searchThreadLimit(int most) {
#if defined(__EMSCRIPTEN_PTHREADS__)
  return std::clamp(emscripten_num_logical_cores(), 1, most);
#elif defined(__EMSCRIPTEN__)
  return 1;
#else
  return most;
#endif
}
