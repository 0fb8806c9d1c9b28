// The trace's lines: a time stamp and the instance, then one event in words,
// bytes in hex and as text. Each line is built in a fixed buffer and cut,
// ending in "...", when it would pass kTraceLineSize.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "qel_version.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"

namespace {

constexpr size_t kLineEndRoom = 2;
constexpr size_t kContentLimit = kTraceLineSize - 1 - kLineEndRoom;
constexpr char kCutMarker[] = "...";
constexpr char kHexDigits[] = "0123456789ABCDEF";

struct Line {
    char text[kTraceLineSize];
    size_t length;
    bool cut;
};

bool Put(Line& line, char character) {
    if (line.length >= kContentLimit) {
        line.cut = true;
        return false;
    }
    line.text[line.length++] = character;
    return true;
}

// Appends at most `limit` characters of a NUL-terminated text. This and the
// number writers below are called from every line: kept out of line, they
// keep the DLL small.
[[gnu::noinline]] void Append(Line& line, const char* text, size_t limit = kTraceLineSize) {
    if (text == nullptr) {
        return;
    }
    for (size_t i = 0; i < limit && text[i] != '\0'; ++i) {
        if (!Put(line, text[i])) {
            return;
        }
    }
}

void AppendFormatList(Line& line, const char* format, va_list arguments) {
    const size_t room = kContentLimit - line.length + 1;
    const int length = std::vsnprintf(line.text + line.length, room, format, arguments);
    if (length < 0) {
        return;
    }
    if (static_cast<size_t>(length) >= room) {
        line.length = kContentLimit;
        line.cut = true;
        return;
    }
    line.length += static_cast<size_t>(length);
}

void AppendFormat(Line& line, const char* format, ...) __attribute__((format(printf, 2, 3)));
void AppendFormat(Line& line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    AppendFormatList(line, format, arguments);
    va_end(arguments);
}

// Decimal numbers of the lines every request writes, without the cost of
// a formatted print.
[[gnu::noinline]] void AppendUnsigned(Line& line, uint32_t value, size_t minimumDigits = 1) {
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < sizeof digits);
    for (; count < minimumDigits && count < sizeof digits; ++count) {
        digits[count] = '0';
    }
    while (count > 0 && Put(line, digits[--count])) {
    }
}

[[gnu::noinline]] void AppendSigned(Line& line, int32_t value) {
    if (value < 0 && !Put(line, '-')) {
        return;
    }
    // The magnitude of INT32_MIN fits in 32 unsigned bits.
    AppendUnsigned(line, value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value));
}

void AppendHex(Line& line, const char* bytes, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const auto code = static_cast<unsigned char>(bytes[i]);
        if ((i > 0 && !Put(line, ' ')) || !Put(line, kHexDigits[code >> 4]) || !Put(line, kHexDigits[code & 0xF])) {
            return;
        }
    }
}

bool PutVisible(Line& line, unsigned char code) {
    char shown[kVisibleByteSize];
    VisibleByte(code, shown);
    Append(line, shown);
    return !line.cut;
}

void AppendVisible(Line& line, const char* bytes, int32_t count) {
    for (int32_t i = 0; i < count && PutVisible(line, static_cast<unsigned char>(bytes[i])); ++i) {
    }
}

// A text from outside (a name, an address, a text, a reason, a path), in
// the trace's notation, read only as far as the line has room and at most
// `limit` characters: no byte of it can end the line or reach a terminal.
void AppendVisibleText(Line& line, const char* text, size_t limit = kTraceLineSize) {
    if (text == nullptr) {
        return;
    }
    for (size_t i = 0; i < limit && text[i] != '\0' && PutVisible(line, static_cast<unsigned char>(text[i])); ++i) {
    }
}

void AppendByteCount(Line& line, int32_t count) {
    AppendSigned(line, count);
    Append(line, count == 1 ? " byte" : " bytes");
}

void AppendBytes(Line& line, const char* bytes, int32_t count) {
    AppendByteCount(line, count);
    if (count <= 0) {
        return;
    }
    Put(line, ' ');
    AppendHex(line, bytes, count);
    Append(line, "  ");
    AppendVisible(line, bytes, count);
}

void Begin(Line& line, TraceFile* trace) {
    line.length = 0;
    line.cut = false;
    const uint32_t millisecond = TraceStampNow(trace);
    // ISO 8601 with the offset from UTC, so that a change of the clock or of
    // daylight saving shows in the trace.
    Append(line, trace->stampTime, sizeof trace->stampTime);
    Put(line, '.');
    AppendUnsigned(line, millisecond, 3);
    Append(line, trace->stampOffset, sizeof trace->stampOffset);
    Append(line, " [");
    AppendSigned(line, trace->instance);
    Append(line, "] ");
}

void Finish(Line& line, TraceFile* trace) {
    if (line.cut) {
        line.length = kContentLimit - (sizeof kCutMarker - 1);
        std::memcpy(line.text + line.length, kCutMarker, sizeof kCutMarker - 1);
        line.length = kContentLimit;
    }
    const size_t endLength = strnlen(kTraceLineEnd, kLineEndRoom);
    std::memcpy(line.text + line.length, kTraceLineEnd, endLength);
    line.length += endLength;
    line.text[line.length] = '\0';
    TraceWriteLine(trace, line.text, static_cast<uint32_t>(line.length));
}

// A line of `event`: the stamp, the instance and the event's word.
void BeginEvent(Line& line, TraceFile* trace, TraceEvent event) {
    Begin(line, trace);
    Append(line, TraceWord(event));
    Put(line, ' ');
}

template <size_t N>
const char* NameOf(const char* const (&names)[N], size_t index) {
    return index < N ? names[index] : "?";
}

void RememberRequest(TraceFile* trace, const char* name) {
    const size_t length = name == nullptr ? 0 : strnlen(name, sizeof trace->request - 1);
    std::memcpy(trace->request, name, length);
    trace->request[length] = '\0';
    trace->requestStartMs = TraceSteadyMs();
}

void BeginRequest(Line& line, TraceFile* trace, const char* name, const char* address) {
    RememberRequest(trace, name);
    Begin(line, trace);
    Append(line, trace->request);
    if (address != nullptr) {
        Put(line, ' ');
        AppendVisibleText(line, address);
    }
}

}  // namespace

uint32_t TraceFileLine(const char* stamped, uint32_t length, int32_t instance, const char* note, char* out,
                       size_t size) {
    // The stamp ends at the first " [", where the instance begins.
    const char* end = static_cast<const char*>(std::memchr(stamped, '[', length));
    const size_t stamp = end != nullptr && end > stamped ? static_cast<size_t>(end - stamped) - 1 : 0;
    Line line;
    line.length = 0;
    line.cut = false;
    Append(line, stamped, stamp);
    Append(line, " [");
    AppendSigned(line, instance);
    Append(line, "] ");
    Append(line, TraceWord(TraceEvent::kTrace));
    Put(line, ' ');
    if (note != nullptr) {
        Append(line, note);
    } else {
        Append(line, kTraceFormatWord);
        Put(line, ' ');
        AppendSigned(line, kTraceFormat);
        Put(line, ' ');
        Append(line, kTraceProduct);
        Put(line, ' ');
        Append(line, QELKOPHV_VERSION);
    }
    const size_t endLength = strnlen(kTraceLineEnd, kLineEndRoom);
    std::memcpy(line.text + line.length, kTraceLineEnd, endLength);
    line.length += endLength;
    const size_t copied = line.length < size ? line.length : 0;
    std::memcpy(out, line.text, copied);
    return static_cast<uint32_t>(copied);
}

size_t VisibleByte(unsigned char code, char (&out)[kVisibleByteSize]) {
    return TraceNotationOf(code, out);
}

size_t VisibleBytes(char* out, size_t size, const char* bytes, size_t count) {
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) {
        char shown[kVisibleByteSize];
        const size_t shownLength = VisibleByte(static_cast<unsigned char>(bytes[i]), shown);
        if (length + shownLength + 1 > size) {
            break;
        }
        std::memcpy(out + length, shown, shownLength);
        length += shownLength;
    }
    out[length] = '\0';
    return length;
}

void TraceReason(TraceFile* trace, const char* format, ...) {
    if (!TraceIsOn(trace)) {
        return;
    }
    char reason[kTraceLineSize];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(reason, sizeof reason, format, arguments);
    va_end(arguments);
    Line line;
    BeginEvent(line, trace, TraceEvent::kReason);
    AppendVisibleText(line, length < 0 ? "" : reason);
    line.cut = line.cut || static_cast<size_t>(length) >= sizeof reason;
    Finish(line, trace);
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
    BeginEvent(line, trace, TraceEvent::kEnd);
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
    BeginEvent(line, trace, TraceEvent::kTx);
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
    BeginEvent(line, trace, TraceEvent::kRx);
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
    BeginEvent(line, trace, TraceEvent::kLine);
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
    BeginEvent(line, trace, TraceEvent::kSkip);
    AppendFormat(line, "%d bytes: the late answer to the preamble P; the reply is what follows (%d bytes)",
                 static_cast<int>(skipped), static_cast<int>(rest));
    Finish(line, trace);
}

void TraceRun(TraceFile* trace, int32_t run, int32_t runs) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, TraceEvent::kRun);
    AppendFormat(line, "%d of %d: a marked \"#\" gate runs its exchange twice", static_cast<int>(run),
                 static_cast<int>(runs));
    Finish(line, trace);
}

void TraceNoteLine(TraceFile* trace, TraceNote note) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, TraceEvent::kNote);
    Append(line, NameOf(kTraceNoteWords, static_cast<size_t>(note)));
    Finish(line, trace);
}

void TraceStats(TraceFile* trace, const char* state, const uint32_t (&counters)[kTraceStatsCounters]) {
    if (!TraceIsOn(trace)) {
        return;
    }
    Line line;
    BeginEvent(line, trace, TraceEvent::kStats);
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
    BeginEvent(line, trace, TraceEvent::kTry);
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
    BeginEvent(line, trace, TraceEvent::kWait);
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
    BeginEvent(line, trace, TraceEvent::kList);
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
    BeginEvent(line, trace, TraceEvent::kPort);
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
    BeginEvent(line, trace, TraceEvent::kReason);
    AppendVisibleText(line, name);
    Append(line, " not found in ");
    AppendVisibleText(line, folder);
    Finish(line, trace);
}
