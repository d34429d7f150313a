// The optional debugging log: every input line and the search's decisions,
// each stamped with the seconds since the process started.  Switched on by
// giving "Log File" a name and off by an empty name.  The input thread and
// the main thread both write; a mutex keeps a write from meeting a close.
#pragma once

#include <string>

#include "board/output.h"

// Formats a message (printf rules, at most 255 characters, the message
// carries its own line feed) and appends it with its time stamp when a log
// is open; does nothing otherwise.
void logLine(const char* format, ...) ORVANE_PRINTF(1, 2);
// Writes a finished message (the search's log hook).
void logText(const char* message);
// The "Log File" change action: opens the named file for appending and
// makes it the log in place of the open one ("<empty>" means none).  A name
// that cannot be opened, or that is a FIFO, a socket or a directory, is
// refused with one "info string" line and changes nothing.
void setLogFile(const std::string& name, std::string* variable);
// Whether a log file is open.
bool logIsOpen();
