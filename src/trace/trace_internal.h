// What the trace's own files share.
#pragma once

#include <cstdint>

#include "trace/trace.h"

// Appends one finished line (its line end included), rolling the file over
// first when it is full; a failure turns the trace off with its log line.
void TraceWriteLine(TraceFile* trace, const char* text, uint32_t length);
