#include "emulator.h"

#include <algorithm>

#include "message.h"
#include "reply.h"

namespace qelswitch {

namespace {

void Queue(Emulator& emulator, std::string bytes, uint64_t due) {
    if (bytes.empty()) return;
    emulator.writes.push_back(PendingWrite{due, emulator.nextOrder++, std::move(bytes)});
}

std::string Quoted(std::string_view text) {
    return "\"" + Visible(text) + "\"";
}

// The driver ends each message it builds with two CRs: the empty line after
// a protocol line is that second CR and wants no answer.
bool SwallowExtraCr(Emulator& emulator, const std::string& line) {
    const bool expected = emulator.extraCrExpected;
    emulator.extraCrExpected = !line.empty() && IsCommandCharacter(line[0]);
    if (expected && line.empty()) return true;
    if (expected) emulator.events.push_back("NOTE the message before " + Quoted(line) + " lacked its extra CR");
    return false;
}

Message Judge(const std::string& line, bool cut) {
    Message message = ParseMessage(line);
    if (cut && message.kind != MessageKind::kText) {
        message.valid = false;
        message.problem = "longer than " + std::to_string(kMaxLineLength) + " characters";
    }
    return message;
}

void HandleLine(Emulator& emulator, const std::string& line, bool cut, uint64_t nowMs) {
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
}

std::string OnOff(bool on) {
    return on ? "on" : "off";
}

}  // namespace

void ReceiveBytes(Emulator& emulator, std::string_view bytes, uint64_t nowMs) {
    if (emulator.verbose) emulator.events.push_back("RX " + Visible(bytes));
    // Once the hang-up is due the line only waits to be closed.
    if (emulator.faults.hangupAfter == 0) return;
    // The line's echo is immediate; the switcher answers after it.
    if (emulator.faults.echo) Queue(emulator, std::string(bytes), nowMs);
    for (char byte : bytes) {
        if (emulator.faults.hangupAfter == 0) break;
        if (byte != '\r') {
            if (emulator.line.size() < kMaxLineLength) {
                emulator.line += byte;
            } else {
                emulator.lineCut = true;
            }
            continue;
        }
        const std::string line = std::move(emulator.line);
        const bool cut = emulator.lineCut;
        emulator.line.clear();
        emulator.lineCut = false;
        HandleLine(emulator, line, cut, nowMs);
    }
}

std::string TakeDueWrites(Emulator& emulator, uint64_t nowMs) {
    std::stable_sort(emulator.writes.begin(), emulator.writes.end(), [](const PendingWrite& a, const PendingWrite& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    std::string due;
    auto next = emulator.writes.begin();
    for (; next != emulator.writes.end() && next->due <= nowMs; ++next) due += next->bytes;
    emulator.writes.erase(emulator.writes.begin(), next);
    if (emulator.verbose && !due.empty()) emulator.events.push_back("TX " + Visible(due));
    return due;
}

int64_t MillisecondsToNextWrite(const Emulator& emulator, uint64_t nowMs) {
    if (emulator.writes.empty()) return -1;
    uint64_t earliest = emulator.writes.front().due;
    for (const PendingWrite& write : emulator.writes) earliest = std::min(earliest, write.due);
    return earliest <= nowMs ? 0 : static_cast<int64_t>(earliest - nowMs);
}

bool HangupDue(const Emulator& emulator) {
    return emulator.faults.hangupAfter == 0 && emulator.writes.empty();
}

std::vector<std::string> TakeEvents(Emulator& emulator) {
    std::vector<std::string> events;
    events.swap(emulator.events);
    return events;
}

std::string FaultSummary(const Faults& faults) {
    return "FAULTS silent " + OnOff(faults.silent) + ", refuse " + std::to_string(faults.refuse) + ", garbage " +
           OnOff(faults.garbage) + ", delay " + std::to_string(faults.delayMs) + ", echo " + OnOff(faults.echo) +
           ", hangup-after " + (faults.hangupAfter < 0 ? "off" : std::to_string(faults.hangupAfter));
}

std::vector<std::string> StateReport(const Emulator& emulator) {
    std::vector<std::string> report{"STATE BEGIN", FaultSummary(emulator.faults),
                                    "COUNTS messages " + std::to_string(emulator.counts.messages) + ", refused " +
                                        std::to_string(emulator.counts.refused)};
    for (std::string& line : StateLines(emulator.state)) report.push_back(std::move(line));
    report.push_back("STATE END");
    return report;
}

}  // namespace qelswitch
