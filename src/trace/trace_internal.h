// What the trace's own files share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/trace.h"

// Appends one finished line (its line end included), rolling the file over
// first when it is full; a failure turns the trace off with its log line.
void TraceWriteLine(TraceFile* trace, const char* text, uint32_t length);

// A line about the file itself, with the stamp of the line `stamped` (of
// `length` bytes) and `instance`: "TRACE format ..." when `note` is null,
// else "TRACE note". Fills `out` (no NUL) and returns the line's length,
// its line end included; 0 when it does not fit `size`.
uint32_t TraceFileLine(const char* stamped, uint32_t length, int32_t instance, const char* note, char* out,
                       size_t size);

// The monotonic clock's low 32 bits, in milliseconds: durations and waits
// from differences, which stay right across a wrap.
uint32_t TraceSteadyMs();

// Sets the record's stamp (its local date, time and UTC offset) to the
// second now and returns the milliseconds into that second.
uint32_t TraceStampNow(TraceFile* trace);
