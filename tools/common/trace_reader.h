// The one reader of the driver's trace: a line taken apart into its time
// stamp, its instance, its event and the event's fields, without copying.
// The request names and gate kinds come from the driver's own tables; the
// tools keep no list of the driver's words beside it. A file's first line
// may name its format (TRACE format N ...); files without one are format 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qeltools {

enum class TraceEvent : uint8_t {
    kRequest,   // WRITE_GATE 0102 value 5, LOAD COM3, CODE_9 ...
    kEnd,       // END WRITE_GATE result 1 after 312 ms
    kReason,    // REASON ...
    kTransmit,  // TX ...
    kRead,      // RX refused 80 ms after TX: 3 bytes ...
    kTry,       // TRY 2 of 3
    kNote,      // NOTE result 0 not confirmed by the switcher
    kPort,      // PORT COM3 lost (OS error 5: ...)
    kStats,     // STATS line NO ANSWER since the start: ...
    kFormat,    // TRACE format 2 QELKOPHV 1.3.0
    kOther,     // WAIT, LIST, LINE, SKIP, RUN: known, with no figure of their own
    kUnknown,   // a word this reader does not know (a newer driver's)
};

struct TimeStamp {
    int64_t utcMs;    // milliseconds since 1970 in UTC: what durations and order use
    int64_t localMs;  // the wall time as written, counted as if it were UTC
};

struct TraceLine {
    TimeStamp time;
    std::string_view stamp;  // as written, for showing
    int32_t instance;
    TraceEvent event;
    std::string_view word;    // the event's first word (WRITE_GATE, END, RX ...)
    std::string_view body;    // everything after the instance, the word included
    std::string_view fields;  // the body after the word and its blank
    int32_t request;          // a request's code (kRequest), -1 for none or CODE_n
};

// "2026-12-07T17:54:48.171+01:00": false when the text does not begin with
// such a stamp. The length of the stamp is kStampLength.
constexpr size_t kStampLength = 29;
bool ParseStamp(std::string_view text, TimeStamp* time);

// Days since 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day);

// False for a line without a stamp and an instance: malformed. A line end
// (CR) is not part of the line.
bool ParseTraceLine(std::string_view text, TraceLine* line);

// As ParseTraceLine, but any stamp (or none) before "[N]": the instance is
// the first bracketed number, the event the first word of capitals alone.
// For readers of traces whose stamps a test or another clock wrote.
bool ParseLooseTraceLine(std::string_view text, TraceLine* line);

// The name the trace gives a request code (LOAD, WRITE_GATE ...), null for
// a code no request has; and the code of a name, -1 for none.
const char* RequestName(int32_t code);
int32_t RequestCode(std::string_view name);

// Each event's fields, read from a parsed line; false when the line is not
// that event or its fields do not read.

// END NAME result R after T ms
struct EndFields {
    std::string_view request;
    int64_t result;
    int64_t ms;
};
bool ReadEnd(const TraceLine& line, EndFields* end);

// A gate's request: NAME ADDRESS [value N | text "..."]; a start or
// reconfiguration: NAME PORT.
enum class GateValue : uint8_t { kNone, kNumber, kText };
struct RequestFields {
    std::string_view subject;  // the gate's address, or the port
    GateValue value;
    std::string_view valueText;  // the number, or the text in its quotes
};
bool ReadRequest(const TraceLine& line, RequestFields* request);
// Whether the request names a gate (register, update, read, write).
bool RequestNamesGate(int32_t code);

// RX JUDGEMENT [N ms after TX]: COUNT bytes HH HH ...  TEXT
struct ReadFields {
    std::string_view judgement;  // accepted, refused, unrecognised, none, not judged
    bool refused;                // the switcher refused the message
    bool judgedNone;             // nothing came that could be judged
    int64_t afterMs;             // -1 when the line gives none
    int64_t count;               // the bytes read
    std::string_view data;       // after "COUNT bytes"
};
bool ReadRead(const TraceLine& line, ReadFields* read);
// The bytes of "N bytes HH HH ..." pairs (a cut line keeps the pairs it holds).
std::string HexBytes(std::string_view data);

// TRY N of M
bool ReadTry(const TraceLine& line, int64_t* attempt);

// The NOTE that a result 0 went unconfirmed: the driver's one word on it.
bool IsUnconfirmedNote(const TraceLine& line);

// PORT NAME opened | lost | reopened | reopen failed [(OS error ...)]
enum class PortChange : uint8_t { kOpened, kLost, kReopened, kReopenFailed, kOther };
PortChange ReadPort(const TraceLine& line);

// STATS line STATE since the start: ...
bool ReadStats(const TraceLine& line, std::string_view* state);
// The line states that are outages: the switcher silent, the port gone.
extern const std::string_view kStateNoAnswer;
extern const std::string_view kStateLost;
bool IsOutage(std::string_view state);

// TRACE format N NAME VERSION
struct FormatFields {
    int64_t number;
    std::string_view version;  // "QELKOPHV 1.3.0"
};
bool ReadFormat(const TraceLine& line, FormatFields* format);

// The formats this reader knows: 1 (no TRACE line) up to the driver's own.
extern const int64_t kNewestTraceFormat;

// What a file's lines say of its format, fed in order: every file is format
// 1 until its TRACE line says otherwise, and a format this reader does not
// know stops the reading with a message that names it.
class TraceFormat {
  public:
    // A new file begins (a roll-over, or the next file given).
    void NewFile() { number_ = 1; }
    // False, with the message in *error, for a format not known.
    bool Feed(const TraceLine& line, std::string* error);
    int64_t Number() const { return number_; }

  private:
    int64_t number_ = 1;
};

}  // namespace qeltools
