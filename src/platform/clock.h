// The engine's clocks.
//
// now() is the one clock of every duration: search deadlines and the clock
// poll, node rates, the benchmark's times, progress lines and the log's
// stamps.  It is monotonic, so a wall clock that is set, synchronised or
// resumed from sleep while the engine runs cannot end a search early or let
// it run past its time.  The time of day, which only the log shows, has its
// own call.  Both use the standard library alone, so one implementation
// serves every system; both may be called from any thread.
#pragma once

#include <string>

// Seconds on a monotonic clock with millisecond resolution; only
// differences between two readings mean anything.
double now();

// The local date and time of day, as "YYYY-MM-DD HH:MM:SS".
std::string localDateTime();
