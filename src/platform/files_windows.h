// The Windows side of the file layer, for its tests.
#pragma once

#include <string>

// The system's message for an error code in the language asked for (0: the
// user's), in UTF-8 without the closing period and line end; empty when the
// system has none.
std::string systemMessage(unsigned long error, unsigned long language);
// Whether path names a device rather than a file (NUL, CON, PRN, AUX, COM1
// to COM9, LPT1 to LPT9, CONIN$, CONOUT$ as the last part of the name, or a
// \\.\ path), so that it is refused before any open.
bool namesDevice(const char* path);
