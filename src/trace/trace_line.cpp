// The trace's line builder: each line is built in a fixed buffer, a time
// stamp and the instance first, and cut, ending in "...", when it would pass
// kTraceLineSize. Outside text goes in through the trace's notation.
#include "trace/trace_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "qel_version.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"

namespace trace_line {
namespace {

constexpr size_t kContentLimit = kTraceLineSize - 1 - kLineEndRoom;
constexpr char kCutMarker[] = "...";
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

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
[[gnu::noinline]] void Append(Line& line, const char* text, size_t limit) {
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

void AppendFormat(Line& line, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    AppendFormatList(line, format, arguments);
    va_end(arguments);
}

// Decimal numbers of the lines every request writes, without the cost of
// a formatted print.
[[gnu::noinline]] void AppendUnsigned(Line& line, uint32_t value, size_t minimumDigits) {
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

namespace {

void AppendHex(Line& line, const char* bytes, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const auto code = static_cast<unsigned char>(bytes[i]);
        if ((i > 0 && !Put(line, ' ')) || !Put(line, kHexDigits[code >> 4]) || !Put(line, kHexDigits[code & 0xF])) {
            return;
        }
    }
}

}  // namespace

namespace {

bool PutVisible(Line& line, unsigned char code) {
    char shown[kVisibleByteSize];
    VisibleByte(code, shown);
    Append(line, shown);
    return !line.cut;
}

}  // namespace

namespace {

void AppendVisible(Line& line, const char* bytes, int32_t count) {
    for (int32_t i = 0; i < count && PutVisible(line, static_cast<unsigned char>(bytes[i])); ++i) {
    }
}

}  // namespace

// A text from outside (a name, an address, a text, a reason, a path), in
// the trace's notation, read only as far as the line has room and at most
// `limit` characters: no byte of it can end the line or reach a terminal.
void AppendVisibleText(Line& line, const char* text, size_t limit) {
    if (text == nullptr) {
        return;
    }
    for (size_t i = 0; i < limit && text[i] != '\0' && PutVisible(line, static_cast<unsigned char>(text[i])); ++i) {
    }
}

namespace {

void AppendByteCount(Line& line, int32_t count) {
    AppendSigned(line, count);
    Append(line, count == 1 ? " byte" : " bytes");
}

}  // namespace

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

// A line of an event: the stamp, the instance and the event's word.
void BeginEvent(Line& line, TraceFile* trace, const char* word) {
    Begin(line, trace);
    Append(line, word);
    Put(line, ' ');
}

namespace {

void RememberRequest(TraceFile* trace, const char* name) {
    const size_t length = name == nullptr ? 0 : strnlen(name, sizeof trace->request - 1);
    std::memcpy(trace->request, name, length);
    trace->request[length] = '\0';
    trace->requestStartMs = TraceSteadyMs();
}

}  // namespace

void BeginRequest(Line& line, TraceFile* trace, const char* name, const char* address) {
    RememberRequest(trace, name);
    Begin(line, trace);
    Append(line, trace->request);
    if (address != nullptr) {
        Put(line, ' ');
        AppendVisibleText(line, address);
    }
}

}  // namespace trace_line

using namespace trace_line;

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
    Append(line, Word(TraceEvent::kTrace));
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
