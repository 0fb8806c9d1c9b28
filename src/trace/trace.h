// The driver's trace file: one time-stamped line per request, transmission,
// reply and port event, for the field. Switched on by the environment
// variable QELKOPHV_TRACE (a file name, absolute or relative to the working
// directory); unset or empty, every trace call returns at its first branch
// and no file is touched. The state is one fixed record per instance, held
// by the caller; nothing here takes heap memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/trace_grammar.h"
#include "trace/trace_notation.h"

constexpr const char* kTraceVariable = "QELKOPHV_TRACE";

// The longest file name, as Windows counts a path; ".1" must fit behind it.
constexpr size_t kTracePathSize = 260;
// The longest line, its line end included; a longer one is cut and ends in "...".
constexpr size_t kTraceLineSize = 1024;
// At this size the file becomes FILE.1 (replacing an older one) and a new
// file begins. Instances that share the file roll it over once between
// them; every line of the process is kept.
constexpr uint32_t kTraceFileLimit = 8u * 1024u * 1024u;
// A port name is read up to this many characters: the host's name field need
// not end in NUL.
constexpr size_t kTracePortNameSize = 12;

// The host's log, for the one line that says the trace stopped. `text` is
// finished: log it as it stands (through "%s"), at `level`.
using TraceLogFunction = void (*)(int32_t level, const char* text);

// One instance's trace. The caller embeds it; TraceOpen sets every field.
// Only the exact marker in `state` means "on", so a record the host did not
// clear reads as off.
struct TraceFile {
    uint32_t state;
    int32_t instance;
    intptr_t handle;
    // The process's roll count when the file was opened: another count
    // means the file under the name was rolled away since.
    uint32_t rollSeen;
    // When the name was last found to refer to the file held (the monotonic
    // clock's low bits): it is looked at again at most once a second.
    uint32_t nameCheckedMs;
    // The file's size after this record's last line, while no other record
    // of the process has written since: no need to ask the system.
    uint32_t sizeWritten;
    // The stamp's local date and time to the second and its offset from
    // UTC, formatted once for the second they belong to; the monotonic
    // clock's low bits when that second began, and the test clock's shift
    // it was formatted with.
    uint32_t stampStartMs;
    int32_t stampShift;
    char stampTime[40];
    char stampOffset[16];
    TraceLogFunction log;
    uint32_t requestStartMs;
    uint32_t transmitMs;
    bool transmitted;
    char request[24];
    char path[kTracePathSize];
};

// Reads QELKOPHV_TRACE and opens the file for appending (closing the file
// the record held before). Returns true when the trace is on. A name that
// cannot be opened logs "QELPA : Cannot write trace FILE" once through `log`
// (may be null) and leaves the trace off.
bool TraceOpen(TraceFile* trace, int32_t instance, TraceLogFunction log);
// Closes the file; the trace is off until the next TraceOpen.
void TraceClose(TraceFile* trace);

constexpr uint32_t kTraceOnMarker = 0x54524345;

inline bool TraceIsOn(const TraceFile* trace) {
    return trace != nullptr && trace->state == kTraceOnMarker;
}

// Every writer below is a no-op when the trace is off. A write that fails
// closes the file, turns the trace off and logs once, as TraceOpen does.

// Why a request ends in 1, in words an integrator acts on: "REASON ...".
// The whole reason is written in the trace's notation, so names and texts
// from outside may go in through "%s" as they stand.
void TraceReason(TraceFile* trace, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A request begins: "WRITE_GATE 0102 value 5", "WRITE_GATE SEND_STR text "..."".
// `address` and `text` may be null; the clock for TraceRequestEnd starts.
void TraceRequest(TraceFile* trace, const char* name, const char* address, const char* text);
void TraceRequestNumber(TraceFile* trace, const char* name, const char* address, int32_t value);
// "END WRITE_GATE result 1 after 312 ms".
void TraceRequestEnd(TraceFile* trace, int32_t result);

// "LINE 9600 baud, 8 data bits, stop bits code 0, parity code 0, read
// time-out 20 x 10 ms": the line a start or reconfiguration asks for.
void TraceLineSettings(TraceFile* trace, uint32_t baud, uint32_t dataBits, uint32_t stopBits, uint32_t parity,
                       uint32_t timeout);

// "TX 9 bytes 23 30 ... 0D  #010259<CR><CR>"; the clock for TraceRead starts.
void TraceTransmission(TraceFile* trace, const char* bytes, int32_t count);
// "RX accepted 52 ms after TX: 5 bytes 2A 33 46 0D 0A  *3F<CR><LF>".
void TraceRead(TraceFile* trace, const char* bytes, int32_t count, TraceReply judged);

// "SKIP 5 bytes: the late answer to the preamble P; ... (3 bytes)".
void TraceSkip(TraceFile* trace, int32_t skipped, int32_t rest);
// "RUN 2 of 2: a marked "#" gate runs its exchange twice".
void TraceRun(TraceFile* trace, int32_t run, int32_t runs);
// "NOTE result 0 not confirmed by the switcher".
void TraceNoteLine(TraceFile* trace, TraceNote note);
// The line's counters in the order of STATS' fields after the state.
constexpr size_t kTraceStatsCounters = 7;
// "STATS line OK since the start: 4 transmissions, ...".
void TraceStats(TraceFile* trace, const char* state, const uint32_t (&counters)[kTraceStatsCounters]);

// "TRY 2 of 3" and "WAIT 1000 ms why" (`why` may be null).
void TraceTry(TraceFile* trace, int32_t attempt, int32_t limit);
void TraceWait(TraceFile* trace, uint32_t milliseconds, const char* why);
// "LIST qelkophv01.ini entry 1: #010259", or "... entry 9 not found" when
// `command` is null.
void TraceListLookup(TraceFile* trace, const char* file, int32_t entry, const char* command);
// "PORT COM1 open failed (OS error 5: Access is denied)"; osError 0 adds nothing.
void TracePort(TraceFile* trace, TracePortEvent event, const char* port, uint32_t osError);

// "REASON qelkophv01.ini not found in C:\SCADA": a file the driver looks
// for in the working directory, named with that directory.
void TraceMissingFile(TraceFile* trace, const char* name);

// One byte in the trace's notation (trace_notation.h), the echo gates'
// line ends included. Fills `out` (NUL-terminated) and returns its length.
size_t VisibleByte(unsigned char code, char (&out)[kVisibleByteSize]);
// As many whole bytes of `bytes` as fit `out` (of `size` > 0), shown so,
// NUL-terminated; returns the length written.
size_t VisibleBytes(char* out, size_t size, const char* bytes, size_t count);

// Test builds only: the trace's clock runs this many seconds ahead of the
// system's (behind when negative), as a change of the clock would move it.
void SetTraceClockShiftForTest(int32_t seconds);
// Test builds only: the size at which the file rolls over (0: the default).
// Any thread may set it; it takes effect from the next line on.
void SetTraceFileLimitForTest(uint32_t bytes);
// Test builds only: how often the process has rolled a trace file over.
uint32_t TraceRollCountForTest();
