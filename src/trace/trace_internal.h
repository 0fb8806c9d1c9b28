// What the trace's own files share.
#pragma once

#include <cstdint>

#include "trace/trace.h"

// Appends one finished line (its line end included), rolling the file over
// first when it is full; a failure turns the trace off with its log line.
void TraceWriteLine(TraceFile* trace, const char* text, uint32_t length);

// The monotonic clock's low 32 bits, in milliseconds: durations and waits
// from differences, which stay right across a wrap.
uint32_t TraceSteadyMs();

// Sets the record's stamp (its local date, time and UTC offset) to the
// second now and returns the milliseconds into that second.
uint32_t TraceStampNow(TraceFile* trace);
