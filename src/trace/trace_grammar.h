// The trace's line format, owned here and nowhere else: the word that opens
// each event, the fields its line carries in order, and the fixed words
// inside them. The driver writes every line through these words; the tools
// read through them. Constant data only: no I/O, no heap.
//
// A line is "STAMP [INSTANCE] EVENT...": the local time to the millisecond
// with its offset from UTC, the instance's number in brackets, then the
// event. A request line's word is a request name (the host's code without
// "REQ_"): readers look it up in the request table (src/driver/requests.h);
// a code no request has shows as "CODE_n". Gate addresses are read by the
// gate kind table's rules (src/protocol/gate_kinds.h).
//
// Text that came from outside (port names, gate addresses, texts, reasons,
// paths, list entries) and the bytes of the line are written in the trace's
// notation: CR as "<CR>", LF as "<LF>", any other control or non-ASCII byte
// as "<hh>" (src/trace/trace_notation.h), so no line can be split or carry a
// control byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

// The format this driver writes. Each file the driver begins opens with
// "STAMP [0] TRACE format 2 QELKOPHV 1.3.0"; a file without that line is
// format 1 (releases 1.0.0 to 1.2.0), whose lines read the same.
constexpr int32_t kTraceFormat = 2;
constexpr int32_t kTraceFormatUnnamed = 1;
constexpr const char* kTraceProduct = "QELKOPHV";
// The instance a line about the file itself carries.
constexpr int32_t kTraceFileInstance = 0;

enum class TraceEvent : uint8_t {
    kRequest,  // its word is the request's name
    kEnd,
    kReason,
    kTx,
    kRx,
    kTry,
    kWait,
    kNote,
    kPort,
    kLine,
    kList,
    kSkip,
    kStats,
    kRun,
    kTrace,
};

constexpr size_t kTraceFieldLimit = 10;

struct TraceEventRow {
    TraceEvent event;
    // The line's first word after the instance; null for a request line.
    const char* word;
    // The line after the stamp and instance: fields in braces, optional
    // parts in square brackets.
    const char* form;
    // The fields in the order the line carries them, as named in `form`.
    const char* fields[kTraceFieldLimit];
};

constexpr TraceEventRow kTraceEvents[] = {
    {TraceEvent::kRequest,
     nullptr,
     "{request}[ {address}][ text \"{text}\"| value {value}]",
     {"request", "address", "text", "value"}},
    {TraceEvent::kEnd, "END", "END {request} result {result} after {ms} ms", {"request", "result", "ms"}},
    {TraceEvent::kReason, "REASON", "REASON {reason}", {"reason"}},
    {TraceEvent::kTx, "TX", "TX {count} byte[s][ {hex}  {shown}]", {"count", "hex", "shown"}},
    {TraceEvent::kRx,
     "RX",
     "RX {judgement}[ {ms} ms after TX]: {count} byte[s][ {hex}  {shown}]",
     {"judgement", "ms", "count", "hex", "shown"}},
    {TraceEvent::kTry, "TRY", "TRY {attempt} of {limit}", {"attempt", "limit"}},
    {TraceEvent::kWait, "WAIT", "WAIT {ms} ms[ {why}]", {"ms", "why"}},
    {TraceEvent::kNote, "NOTE", "NOTE {note}", {"note"}},
    {TraceEvent::kPort,
     "PORT",
     "PORT {port} {event}[ (OS error {os_error}: {os_text})]",
     {"port", "event", "os_error", "os_text"}},
    {TraceEvent::kLine,
     "LINE",
     "LINE {baud} baud, {data_bits} data bits, stop bits code {stop_bits}, parity code {parity}, read time-out "
     "{timeout} x 10 ms",
     {"baud", "data_bits", "stop_bits", "parity", "timeout"}},
    {TraceEvent::kList, "LIST", "LIST {file} entry {entry}(: {command}| not found)", {"file", "entry", "command"}},
    {TraceEvent::kSkip,
     "SKIP",
     "SKIP {skipped} bytes: the late answer to the preamble P; the reply is what follows ({rest} bytes)",
     {"skipped", "rest"}},
    {TraceEvent::kStats,
     "STATS",
     "STATS line {state} since the start: {transmissions} transmissions, {answered} reads answered ({refused} "
     "refusals), {silent} reads with nothing, {retries} tries beyond the first, lost {lost} times, reopened "
     "{reopened} times",
     {"state", "transmissions", "answered", "refused", "silent", "retries", "lost", "reopened"}},
    {TraceEvent::kRun, "RUN", "RUN {run} of {runs}: a marked \"#\" gate runs its exchange twice", {"run", "runs"}},
    {TraceEvent::kTrace,
     "TRACE",
     "TRACE (format {format} {product} {version}|{note})",
     {"format", "product", "version", "note"}},
};

// The event's row; every event has one.
constexpr const TraceEventRow& TraceEventRowOf(TraceEvent event) {
    for (const TraceEventRow& row : kTraceEvents) {
        if (row.event == event) {
            return row;
        }
    }
    return kTraceEvents[0];
}

constexpr const char* TraceWord(TraceEvent event) {
    return TraceEventRowOf(event).word;
}

// The row of the event whose word is the `length` characters at `word`;
// null when none is (a request line, or a word this format does not have).
constexpr const TraceEventRow* FindTraceEvent(const char* word, size_t length) {
    for (const TraceEventRow& row : kTraceEvents) {
        size_t i = 0;
        while (row.word != nullptr && i < length && row.word[i] != '\0' && row.word[i] == word[i]) {
            ++i;
        }
        if (row.word != nullptr && i == length && row.word[i] == '\0') {
            return &row;
        }
    }
    return nullptr;
}

// How the driver judged what a read brought: none when nothing came, not
// judged for the reads whose bytes decide nothing (free text, the command
// list, the bank-2 preface).
enum class TraceReply : uint8_t { kAccepted, kRefused, kUnrecognised, kNone, kNotJudged };
// RX's judgement, in TraceReply's order.
constexpr const char* kTraceReplyWords[] = {"accepted", "refused", "unrecognised", "none", "not judged"};

enum class TracePortEvent : uint8_t {
    kOpened,
    kOpenFailed,
    kClosed,
    kCloseFailed,
    kReopened,
    kReopenFailed,
    kLost,
};
// PORT's event, in TracePortEvent's order.
constexpr const char* kTracePortEventWords[] = {"opened",   "open failed",   "closed", "close failed",
                                                "reopened", "reopen failed", "lost"};

// The line's states, as STATS and the gate "LINE_STATE" show them.
constexpr const char kTraceStateClosed[] = "CLOSED";
constexpr const char kTraceStateOpen[] = "OPEN";
constexpr const char kTraceStateOk[] = "OK";
constexpr const char kTraceStateNoAnswer[] = "NO ANSWER";
constexpr const char kTraceStateLost[] = "LOST";
constexpr const char* kTraceStateWords[] = {kTraceStateClosed, kTraceStateOpen, kTraceStateOk, kTraceStateNoAnswer,
                                            kTraceStateLost};

// NOTE's texts. A request that ends in 0 without the switcher confirming it:
// a judged exchange that no reply accepted, or a free text or list command
// that got nothing back at all.
enum class TraceNote : uint8_t { kNotConfirmed };
constexpr const char* kTraceNoteWords[] = {"result 0 not confirmed by the switcher"};

// TRACE's notes beside the format line.
enum class TraceFileNote : uint8_t { kWentAway };
constexpr const char* kTraceFileNoteWords[] = {
    "the previous file went away (deleted or renamed): going on in a new one"};
// The format line's words between "TRACE" and the format's number.
constexpr const char kTraceFormatWord[] = "format";
// A request code no request has: this, then the code.
constexpr const char kTraceUnknownRequest[] = "CODE_";

static_assert(std::size(kTraceReplyWords) == static_cast<size_t>(TraceReply::kNotJudged) + 1);
static_assert(std::size(kTracePortEventWords) == static_cast<size_t>(TracePortEvent::kLost) + 1);
static_assert(std::size(kTraceNoteWords) == static_cast<size_t>(TraceNote::kNotConfirmed) + 1);
static_assert(std::size(kTraceFileNoteWords) == static_cast<size_t>(TraceFileNote::kWentAway) + 1);
