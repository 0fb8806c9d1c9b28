// The trace's line builder, shared by the files that write the trace's
// events: a fixed buffer per line, the stamp and instance first, numbers,
// bytes and outside text (in the trace's notation) appended, cut with "..."
// when the line would pass kTraceLineSize.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "trace/trace.h"
#include "trace/trace_grammar.h"

namespace trace_line {

// Room kept at the end of every line for its line end.
constexpr size_t kLineEndRoom = 2;

struct Line {
    char text[kTraceLineSize];
    size_t length;
    bool cut;
};

// One character; false (and the line marked cut) when it is full.
bool Put(Line& line, char character);
// At most `limit` characters of a NUL-terminated text (null: nothing).
void Append(Line& line, const char* text, size_t limit = kTraceLineSize);
void AppendFormatList(Line& line, const char* format, va_list arguments);
void AppendFormat(Line& line, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A number in decimal, at least `minimumDigits` digits.
void AppendUnsigned(Line& line, uint32_t value, size_t minimumDigits = 1);
void AppendSigned(Line& line, int32_t value);
// Outside text in the trace's notation.
void AppendVisibleText(Line& line, const char* text, size_t limit = kTraceLineSize);
// "N bytes 2A 30 ...  *0<CR>": the count, the bytes in hex and as text.
void AppendBytes(Line& line, const char* bytes, int32_t count);
// A line begins with the record's stamp and instance; it ends with the
// line end and goes into the file.
void Begin(Line& line, TraceFile* trace);
void Finish(Line& line, TraceFile* trace);
// A line of an event: the stamp, the instance and the event's word.
void BeginEvent(Line& line, TraceFile* trace, const char* word);
// A request's line: its name (kept for its END) and the address, if any.
void BeginRequest(Line& line, TraceFile* trace, const char* name, const char* address);

// An event's word, looked up while compiling: the grammar's table of forms
// and fields stays out of the driver.
consteval const char* Word(TraceEvent event) {
    return TraceWord(event);
}

template <size_t N>
const char* NameOf(const char* const (&names)[N], size_t index) {
    return index < N ? names[index] : "?";
}

}  // namespace trace_line
