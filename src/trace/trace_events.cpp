// The trace's events, each one line through the grammar's words: requests
// and their ends, transmissions and reads, tries, waits, list lookups, port
// events, the line's counters and the reasons.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_line.h"
#include "trace/trace_platform.h"

using namespace trace_line;

namespace {

// A line of the event `word` whose text is the caller's own, printf-style, in the
// trace's notation as a whole.
void TraceFormatted(TraceFile* trace, const char* word, const char* format, va_list arguments) {
    char text[kTraceLineSize];
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    Line line;
    BeginEvent(line, trace, word);
    AppendVisibleText(line, length < 0 ? "" : text);
    line.cut = line.cut || static_cast<size_t>(length) >= sizeof text;
    Finish(line, trace);
}

}  // namespace

void TraceReason(TraceFile* trace, const char* format, ...) {
    if (!TraceIsOn(trace)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    TraceFormatted(trace, Word(TraceEvent::kReason), format, arguments);
    va_end(arguments);
}

void TraceNoteText(TraceFile* trace, const char* format, ...) {
    if (!TraceIsOn(trace)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    TraceFormatted(trace, Word(TraceEvent::kNote), format, arguments);
    va_end(arguments);
}

void TraceRequest(TraceFile* trace, const char* name, const char* address, const char* text) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginRequest(line, trace, name, address);
    if (text != nullptr) {
        Append(line, " text \"");
        AppendVisibleText(line, text);
        Put(line, '"');
    }
    Finish(line, trace);
}

void TraceRequestNumber(TraceFile* trace, const char* name, const char* address, int32_t value) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginRequest(line, trace, name, address);
    Append(line, " value ");
    AppendSigned(line, value);
    Finish(line, trace);
}

void TraceRequestEnd(TraceFile* trace, int32_t result) {
    if (!TraceIsOn(trace)) {
        return;
    }
    const uint32_t elapsed = TraceSteadyMs() - trace->requestStartMs;
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kEnd));
    Append(line, trace->request, sizeof trace->request);
    Append(line, " result ");
    AppendSigned(line, result);
    Append(line, " after ");
    AppendUnsigned(line, elapsed);
    Append(line, " ms");
    Finish(line, trace);
}

void TraceTransmission(TraceFile* trace, const char* bytes, int32_t count) {
    if (!TraceIsOn(trace)) {
        return;
    }
    trace->transmitMs = TraceSteadyMs();
    trace->transmitted = true;
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kTx));
    AppendBytes(line, bytes, count);
    Finish(line, trace);
}

void TraceRead(TraceFile* trace, const char* bytes, int32_t count, TraceReply judged) {
    if (!TraceIsOn(trace)) {
        return;
    }
    // The judgement and the time come first, so that a long reply cut at the
    // line's end keeps them.
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kRx));
    Append(line, NameOf(kTraceReplyWords, static_cast<size_t>(judged)));
    if (trace->transmitted) {
        Put(line, ' ');
        AppendUnsigned(line, TraceSteadyMs() - trace->transmitMs);
        Append(line, " ms after TX");
    }
    Append(line, ": ");
    AppendBytes(line, bytes, count);
    Finish(line, trace);
}

void TraceLineSettings(TraceFile* trace, uint32_t baud, uint32_t dataBits, uint32_t stopBits, uint32_t parity,
                       uint32_t timeout) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kLine));
    AppendFormat(line, "%u baud, %u data bits, stop bits code %u, parity code %u, read time-out %u x 10 ms",
                 static_cast<unsigned>(baud), static_cast<unsigned>(dataBits), static_cast<unsigned>(stopBits),
                 static_cast<unsigned>(parity), static_cast<unsigned>(timeout));
    Finish(line, trace);
}

void TraceSkip(TraceFile* trace, int32_t skipped, int32_t rest) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kSkip));
    AppendFormat(line, "%d bytes: the late answer to the preamble P; the reply is what follows (%d bytes)",
                 static_cast<int>(skipped), static_cast<int>(rest));
    Finish(line, trace);
}

void TraceRun(TraceFile* trace, int32_t run, int32_t runs) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kRun));
    AppendFormat(line, "%d of %d: a marked \"#\" gate runs its exchange twice", static_cast<int>(run),
                 static_cast<int>(runs));
    Finish(line, trace);
}

void TraceNoteLine(TraceFile* trace, TraceNote note) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kNote));
    Append(line, NameOf(kTraceNoteWords, static_cast<size_t>(note)));
    Finish(line, trace);
}

void TraceStats(TraceFile* trace, const char* state, const uint32_t (&counters)[kTraceStatsCounters]) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kStats));
    Append(line, "line ");
    Append(line, state);
    AppendFormat(line,
                 " since the start: %u transmissions, %u reads answered (%u refusals), %u reads with nothing, %u "
                 "tries beyond the first, lost %u times, reopened %u times",
                 static_cast<unsigned>(counters[0]), static_cast<unsigned>(counters[1]),
                 static_cast<unsigned>(counters[2]), static_cast<unsigned>(counters[3]),
                 static_cast<unsigned>(counters[4]), static_cast<unsigned>(counters[5]),
                 static_cast<unsigned>(counters[6]));
    Finish(line, trace);
}

void TraceTry(TraceFile* trace, int32_t attempt, int32_t limit) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kTry));
    AppendSigned(line, attempt);
    Append(line, " of ");
    AppendSigned(line, limit);
    Finish(line, trace);
}

void TraceWait(TraceFile* trace, uint32_t milliseconds, const char* why) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kWait));
    AppendUnsigned(line, milliseconds);
    Append(line, " ms");
    if (why != nullptr) {
        Put(line, ' ');
        Append(line, why);
    }
    Finish(line, trace);
}

void TraceListLookup(TraceFile* trace, const char* file, int32_t entry, const char* command) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kList));
    AppendVisibleText(line, file);
    AppendFormat(line, " entry %d", static_cast<int>(entry));
    if (command == nullptr) {
        Append(line, " not found");
    } else {
        Append(line, ": ");
        AppendVisibleText(line, command);
    }
    Finish(line, trace);
}

void TracePort(TraceFile* trace, TracePortEvent event, const char* port, uint32_t osError) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kPort));
    AppendVisibleText(line, port, kTracePortNameSize);
    Put(line, ' ');
    Append(line, NameOf(kTracePortEventWords, static_cast<size_t>(event)));
    if (osError != 0) {
        char text[160];
        const uint32_t savedError = TraceSaveSystemError();
        TraceErrorText(osError, text, sizeof text);
        TraceRestoreSystemError(savedError);
        AppendFormat(line, " (OS error %u: ", static_cast<unsigned>(osError));
        AppendVisibleText(line, text);
        Put(line, ')');
    }
    Finish(line, trace);
}

void TraceMissingFile(TraceFile* trace, const char* name) {
    if (!TraceIsOn(trace)) {
        return;
    }
    char folder[kTracePathSize];
    const uint32_t savedError = TraceSaveSystemError();
    if (!TraceWorkingDirectory(folder, sizeof folder)) {
        std::snprintf(folder, sizeof folder, "%s", "the working directory (its name is too long to show)");
    }
    TraceRestoreSystemError(savedError);
    Line line;
    BeginEvent(line, trace, Word(TraceEvent::kReason));
    AppendVisibleText(line, name);
    Append(line, " not found in ");
    AppendVisibleText(line, folder);
    Finish(line, trace);
}
