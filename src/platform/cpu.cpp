#include "platform/cpu.h"

#ifdef ORVANE_X86
#include <cpuid.h>
#endif

bool cpuHasPopcnt() {
#ifdef ORVANE_X86
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c >> 23) & 1;
#else
  return true;
#endif
}
