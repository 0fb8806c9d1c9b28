// One line of the driver's trace, taken apart: its time stamp (local time
// with the offset from UTC), the instance in brackets, and the event in
// words. Views point into the caller's text.
#pragma once

#include <cstdint>
#include <string_view>

namespace qeltrace {

enum class LineKind {
    kRequest,   // WRITE_GATE 0102 value 5, LOAD COM3, CODE_9 ...
    kEnd,       // END WRITE_GATE result 1 after 312 ms
    kReason,    // REASON ...
    kTransmit,  // TX ...
    kRead,      // RX refused 80 ms after TX: 3 bytes ...
    kTry,       // TRY 2 of 3
    kNote,      // NOTE result 0 not confirmed by the switcher
    kPort,      // PORT COM3 lost (OS error 5: ...)
    kStats,     // STATS line NO ANSWER since the start: ...
    kOther,     // WAIT, LIST, LINE, SKIP, RUN: known, with no figure of their own
    kFile,      // TRACE format 2 ...: about the file, of no instance
    kUnknown,   // a kind this reader does not know (a newer driver's)
};

struct TimeStamp {
    int64_t utcMs;    // milliseconds since 1970 in UTC: what durations and order use
    int64_t localMs;  // the wall time as written, counted as if it were UTC
};

struct TraceLine {
    TimeStamp time;
    std::string_view stamp;  // as written, for showing
    int32_t instance;
    LineKind kind;
    std::string_view word;  // the event's first word (WRITE_GATE, END, RX ...)
    std::string_view body;  // everything after the instance
};

// "2026-12-07T17:54:48.171+01:00": false when the text does not begin with
// such a stamp. The length of the stamp is kStampLength.
constexpr size_t kStampLength = 29;
bool ParseStamp(std::string_view text, TimeStamp* time);

// False for a line without a stamp and an instance: malformed.
bool ParseLine(std::string_view text, TraceLine* line);

// Days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

}  // namespace qeltrace
