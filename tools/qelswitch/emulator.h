// The switcher without its line: bytes in, replies out with the time they
// are due, and one event line for everything worth telling. The I/O loop
// owns the clock and the line; everything here is plain computation, so the
// tests drive it byte by byte.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "switch_state.h"

namespace qelswitch {

// Longer lines are cut; a protocol line that long is refused.
inline constexpr size_t kMaxLineLength = 1024;

// The driver sends a message in one write: a line still without its CR after
// this much silence was left behind and is dropped, not glued to the next.
inline constexpr uint64_t kPartialLineGapMs = 2000;

struct Faults {
    bool silent = false;       // no answer at all
    uint64_t refuse = 0;       // this many further messages are answered "?"
    bool garbage = false;      // every answer replaced by kGarbageReply
    uint64_t delayMs = 0;      // every answer waits this long
    bool echo = false;         // every byte received goes straight back
    int64_t hangupAfter = -1;  // messages until the line is closed; -1 never
    // The switcher switched off and on: after this many messages it goes
    // silent (-1 never), for this many more (0: for good).
    int64_t silentAfter = -1;
    uint64_t silentFor = 0;
    // Switched off for real: nothing is answered, echoed or carried out,
    // and what arrives is lost (silent, by contrast, still acts). After
    // powerOffAfter messages (-1 never) it goes off, for powerOffFor lines
    // that arrive meanwhile (0: for good).
    bool powerOff = false;
    int64_t powerOffAfter = -1;
    uint64_t powerOffFor = 0;
};

struct Counts {
    uint64_t messages = 0;
    uint64_t refused = 0;
    uint64_t lost = 0;  // lines that arrived while the switcher was off
};

struct Emulator {
    Faults faults;
    bool verbose = false;  // events for every byte received and sent
    SwitchState state;
    Counts counts;
    // Messages until the line is unplugged for a while (--replug-after);
    // -1 never. Not a fault of the summary: it happens once.
    int64_t replugAfter = -1;
    uint64_t silentLeft = 0;    // messages the switched-off switcher still lets pass
    uint64_t powerOffLeft = 0;  // lines until a --power-off-for switcher comes on again
    std::string line;           // the line being received, up to its CR
    bool lineCut = false;
    // After a cut: the latest bytes of the line, where a message that
    // follows the overlong part is found.
    std::string lineTail;
    uint64_t lineCutBytes = 0;  // bytes beyond kMaxLineLength
    uint64_t lastByteMs = 0;
    // The protocol line whose extra CR comes next; empty when none is due.
    std::string awaitingExtraCr;
    // Bytes to send by the time they are due; those due at the same moment
    // are one string, in the order they were queued.
    std::map<uint64_t, std::string> writes;
    std::vector<std::string> events;
};

void ReceiveBytes(Emulator& emulator, std::string_view bytes, uint64_t nowMs);

// The bytes due by now, in the order they are due.
std::string TakeDueWrites(Emulator& emulator, uint64_t nowMs);

// Switches the switcher off or on. Either way the line being received and
// the answers not yet sent are gone: a switcher switched off mid-message
// neither finishes it nor keeps it for later.
void SetPower(Emulator& emulator, bool on);

// The line went away: the line being received and every answer still
// waiting are forgotten; the switcher's state and faults stay.
void LineGone(Emulator& emulator);

// Milliseconds until the next write is due, 0 when one is due now, -1 when
// nothing waits.
int64_t MillisecondsToNextWrite(const Emulator& emulator, uint64_t nowMs);

// The line is to be closed: the hang-up count ran out and every answer has
// gone out.
bool HangupDue(const Emulator& emulator);

// The line is to be unplugged: the replug count ran out and every answer
// has gone out.
bool ReplugDue(const Emulator& emulator);

std::vector<std::string> TakeEvents(Emulator& emulator);

std::string FaultSummary(const Faults& faults);

// "STATE BEGIN", the faults, the counts, the switcher's state, "STATE END".
std::vector<std::string> StateReport(const Emulator& emulator);

}  // namespace qelswitch
