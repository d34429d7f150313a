#include "engine/bench.h"

int runBenchmark(int, char**) { return 0; }
