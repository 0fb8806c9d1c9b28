#include "emulator.h"

#include "message.h"
#include "reply.h"

namespace qelswitch {

namespace {

void Queue(Emulator& emulator, std::string_view bytes, uint64_t due) {
    if (!bytes.empty()) emulator.writes[due] += bytes;
}

std::string Quoted(std::string_view text) {
    return "\"" + Visible(text) + "\"";
}

// The driver ends each message it builds with two CRs: the empty line after
// a protocol line is that second CR and wants no answer. A list command or
// a free text that reads as a protocol line comes with one CR only, as the
// driver sends them: taken all the same, and said.
bool SwallowExtraCr(Emulator& emulator, std::string_view line) {
    const std::string awaited = std::move(emulator.awaitingExtraCr);
    emulator.awaitingExtraCr.clear();
    if (!line.empty() && IsCommandCharacter(line[0])) emulator.awaitingExtraCr = line;
    if (awaited.empty()) return false;
    if (line.empty()) return true;
    emulator.events.push_back("NOTE " + Quoted(awaited) +
                              " came with one CR, as list commands do (the driver's own messages bring two); " +
                              Quoted(line) + " came next");
    return false;
}

// A stray LF (left by a CR LF line end), NUL or blank ahead of a command
// character would make the message free text, acknowledged without being
// carried out: the message is judged without them.
size_t StrayLength(std::string_view line) {
    const size_t start = line.find_first_not_of(std::string_view("\n\0 \t", 4));
    return start == std::string_view::npos || !IsCommandCharacter(line[start]) ? 0 : start;
}

std::string_view SkipStrayBytes(Emulator& emulator, std::string_view line) {
    const size_t start = StrayLength(line);
    if (start == 0) return line;
    emulator.events.push_back("NOTE " + std::to_string(start) + " stray byte" + (start == 1 ? " " : "s ") +
                              Quoted(line.substr(0, start)) + " ahead of " + Quoted(line.substr(start)) + " skipped");
    return line.substr(start);
}

// Whether a protocol line of this kind can have this length.
bool LengthFits(char kind, size_t length) {
    switch (kind) {
        case '#':
            return length == 7;
        case '!':
            return length == 13;
        case 'M':
            return length == 10;
        case 'L':
            return length >= 6;
        case 'R':
            return length == 4;
        case 'P':
            return length == 1;
        default:
            return false;
    }
}

// After more than kMaxLineLength bytes without a CR, the message that ends
// the line is the earliest valid protocol message in its last bytes, else
// the earliest that has a message's shape (to be refused): the driver never
// sends a line that long, so it is not free text to acknowledge.
size_t FindTrailingMessage(std::string_view window) {
    size_t shaped = std::string_view::npos;
    for (size_t start = 0; start < window.size(); ++start) {
        const std::string_view rest = window.substr(start);
        if (!LengthFits(rest[0], rest.size())) continue;
        if (ParseMessage(rest).valid) return start;
        if (shaped == std::string_view::npos) shaped = start;
    }
    return shaped;
}

Message Judge(std::string_view line, bool cut) {
    Message message = ParseMessage(line);
    if (cut && message.kind != MessageKind::kText) {
        message.valid = false;
        message.problem = "longer than " + std::to_string(kMaxLineLength) + " characters";
    }
    return message;
}

// --silent-after and --silent-for: the switcher goes off after a number of
// messages, and comes back on after some more.
void CountPower(Emulator& emulator) {
    Faults& faults = emulator.faults;
    if (emulator.silentLeft > 0 && --emulator.silentLeft == 0) {
        faults.silent = false;
        emulator.events.push_back("FAULT silent: off, switched on again");
    }
    if (faults.silentAfter > 0 && --faults.silentAfter == 0) {
        faults.silentAfter = -1;
        faults.silent = true;
        emulator.silentLeft = faults.silentFor;
        emulator.events.push_back("FAULT silent: on, switched off");
    }
}

// --power-off-after: counted as --silent-after is; the answer to the last
// message still goes out.
void CountPowerOff(Emulator& emulator) {
    Faults& faults = emulator.faults;
    if (faults.powerOffAfter > 0 && --faults.powerOffAfter == 0) {
        faults.powerOffAfter = -1;
        faults.powerOff = true;
        emulator.powerOffLeft = faults.powerOffFor;
        emulator.events.push_back("POWER off");
    }
}

// While the switcher is off a line is lost whole and only counts down to
// its coming on again (--power-off-for). The driver's extra CR after a
// message is no line of its own here either, so the count is the same as
// when it is on.
void LoseLine(Emulator& emulator, std::string_view received) {
    const bool extraCr = received.empty() && !emulator.awaitingExtraCr.empty();
    emulator.awaitingExtraCr.clear();
    if (extraCr) return;
    const std::string_view line = received.substr(StrayLength(received));
    if (!line.empty() && IsCommandCharacter(line[0])) emulator.awaitingExtraCr = line;
    ++emulator.counts.lost;
    emulator.events.push_back("POWER off: lost " + Quoted(received));
    if (emulator.powerOffLeft > 0 && --emulator.powerOffLeft == 0) {
        emulator.faults.powerOff = false;
        emulator.events.push_back("POWER on");
    }
}

void HandleLine(Emulator& emulator, std::string_view received, bool cut, uint64_t nowMs) {
    if (emulator.faults.powerOff) {
        LoseLine(emulator, received);
        return;
    }
    const std::string line(SkipStrayBytes(emulator, received));
    if (SwallowExtraCr(emulator, line)) return;
    Faults& faults = emulator.faults;
    ++emulator.counts.messages;
    const Message message = Judge(line, cut);
    const bool refusedByFault = !faults.silent && faults.refuse > 0;
    std::string answer;
    if (refusedByFault) {
        --faults.refuse;
        emulator.events.push_back("REFUSED " + Quoted(line) + ": refuse fault, " + std::to_string(faults.refuse) +
                                  " left");
        answer = kRefusedReply;
    } else if (!message.valid) {
        emulator.events.push_back("REFUSED " + Quoted(line) + ": " + message.problem);
        answer = kRefusedReply;
    } else {
        for (std::string& change : ApplyMessage(emulator.state, message)) emulator.events.push_back(change);
        if (cut) emulator.events.push_back("NOTE text cut at " + std::to_string(kMaxLineLength) + " characters");
        answer = ReplyFor(message, emulator.state);
    }
    if (answer == kRefusedReply) ++emulator.counts.refused;
    if (faults.silent) {
        emulator.events.push_back("FAULT silent: not answered");
        answer.clear();
    } else if (faults.garbage && !refusedByFault) {
        emulator.events.push_back("FAULT garbage: answered " + Quoted(kGarbageReply));
        answer = kGarbageReply;
    }
    Queue(emulator, answer, nowMs + faults.delayMs);
    if (faults.hangupAfter > 0) --faults.hangupAfter;
    if (emulator.replugAfter > 0) --emulator.replugAfter;
    CountPower(emulator);
    CountPowerOff(emulator);
}

// Once the hang-up or the unplugging is due the line only waits for it.
bool LineClosing(const Emulator& emulator) {
    return emulator.faults.hangupAfter == 0 || emulator.replugAfter == 0;
}

void DropLine(Emulator& emulator) {
    emulator.line.clear();
    emulator.lineCut = false;
    emulator.lineTail.clear();
    emulator.lineCutBytes = 0;
}

// Past kMaxLineLength the line keeps only its latest bytes (at least
// kMaxLineLength of them), trimmed now and then so that each byte costs
// the same.
void AddToLine(Emulator& emulator, char byte) {
    if (emulator.line.size() < kMaxLineLength) {
        emulator.line += byte;
        return;
    }
    emulator.lineCut = true;
    ++emulator.lineCutBytes;
    emulator.lineTail += byte;
    if (emulator.lineTail.size() >= 2 * kMaxLineLength) emulator.lineTail.erase(0, kMaxLineLength);
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

}  // namespace

void ReceiveBytes(Emulator& emulator, std::string_view bytes, uint64_t nowMs) {
    if (emulator.verbose) emulator.events.push_back("RX " + Visible(bytes));
    if (LineClosing(emulator) || bytes.empty()) return;
    if ((!emulator.line.empty() || emulator.lineCut) && nowMs >= emulator.lastByteMs + kPartialLineGapMs) {
        emulator.events.push_back("NOTE " + Quoted(emulator.line) + (emulator.lineCut ? " (cut)" : "") +
                                  " dropped: no CR came within " + std::to_string(kPartialLineGapMs) + " ms");
        DropLine(emulator);
    }
    emulator.lastByteMs = nowMs;
    // The line's echo is immediate; the switcher answers after it.
    if (emulator.faults.echo && !emulator.faults.powerOff) Queue(emulator, bytes, nowMs);
    for (char byte : bytes) {
        if (LineClosing(emulator)) break;
        if (byte != '\r') {
            AddToLine(emulator, byte);
            continue;
        }
        const std::string line = std::move(emulator.line);
        const bool cut = emulator.lineCut;
        const std::string tail = std::move(emulator.lineTail);
        const uint64_t cutBytes = emulator.lineCutBytes;
        DropLine(emulator);
        if (!cut) {
            HandleLine(emulator, line, false, nowMs);
            continue;
        }
        const std::string whole = line + tail;
        const std::string_view window = std::string_view(whole).substr(whole.size() - kMaxLineLength);
        const size_t start = FindTrailingMessage(window);
        if (start == std::string_view::npos) {
            HandleLine(emulator, line, true, nowMs);
            continue;
        }
        const std::string_view message = window.substr(start);
        emulator.events.push_back("NOTE " + std::to_string(kMaxLineLength + cutBytes - message.size()) +
                                  " bytes without a CR ahead of " + Quoted(message) + " dropped");
        HandleLine(emulator, message, false, nowMs);
    }
}

void SetPower(Emulator& emulator, bool on) {
    emulator.faults.powerOff = !on;
    emulator.powerOffLeft = 0;
    LineGone(emulator);
}

void LineGone(Emulator& emulator) {
    DropLine(emulator);
    emulator.awaitingExtraCr.clear();
    emulator.writes.clear();
}

std::string TakeDueWrites(Emulator& emulator, uint64_t nowMs) {
    std::string due;
    auto next = emulator.writes.begin();
    for (; next != emulator.writes.end() && next->first <= nowMs; ++next) due += next->second;
    emulator.writes.erase(emulator.writes.begin(), next);
    if (emulator.verbose && !due.empty()) emulator.events.push_back("TX " + Visible(due));
    return due;
}

int64_t MillisecondsToNextWrite(const Emulator& emulator, uint64_t nowMs) {
    if (emulator.writes.empty()) return -1;
    const uint64_t earliest = emulator.writes.begin()->first;
    return earliest <= nowMs ? 0 : static_cast<int64_t>(earliest - nowMs);
}

bool HangupDue(const Emulator& emulator) {
    return emulator.faults.hangupAfter == 0 && emulator.writes.empty();
}

bool ReplugDue(const Emulator& emulator) {
    return emulator.replugAfter == 0 && emulator.writes.empty();
}

std::vector<std::string> TakeEvents(Emulator& emulator) {
    std::vector<std::string> events;
    events.swap(emulator.events);
    return events;
}

std::string FaultSummary(const Faults& faults) {
    return "FAULTS silent " + OnOff(faults.silent) + ", refuse " + std::to_string(faults.refuse) + ", garbage " +
           OnOff(faults.garbage) + ", delay " + std::to_string(faults.delayMs) + ", echo " + OnOff(faults.echo) +
           ", hangup-after " + (faults.hangupAfter < 0 ? "off" : std::to_string(faults.hangupAfter)) + ", power " +
           OnOff(!faults.powerOff);
}

std::vector<std::string> StateReport(const Emulator& emulator) {
    std::vector<std::string> report{"STATE BEGIN", FaultSummary(emulator.faults),
                                    "COUNTS messages " + std::to_string(emulator.counts.messages) + ", refused " +
                                        std::to_string(emulator.counts.refused) + ", lost " +
                                        std::to_string(emulator.counts.lost)};
    for (std::string& line : StateLines(emulator.state)) report.push_back(std::move(line));
    report.push_back("STATE END");
    return report;
}

}  // namespace qelswitch
