#include "session.h"

#include <cstdio>

#include "control.h"
#include "os/deadline.h"
#include "say.h"

namespace qelswitch {

namespace {

// Answers the line has not taken: dropped once there are this many and the
// line has taken nothing for kStalledMs (nobody reads it), or in any case
// beyond kMaxBacklog (a reader that falls ever further behind).
constexpr size_t kMaxOutgoing = 65536;
constexpr uint64_t kStalledMs = 1000;
constexpr size_t kMaxBacklog = 16 << 20;

// Hands the line what is due; false when the line is lost.
bool Flush(Session& session) {
    const uint64_t now = MonotonicMs();
    if (session.outgoing.empty()) session.lastTakenMs = now;
    session.outgoing += TakeDueWrites(session.emulator, now);
    if (!session.outgoing.empty()) {
        const int64_t taken = session.frontEnd->Write(session.outgoing);
        if (taken < 0) {
            End(session, "line lost", 1);
            return false;
        }
        if (taken > 0) session.lastTakenMs = now;
        session.outgoing.erase(0, static_cast<size_t>(taken));
    }
    const bool stalled = session.outgoing.size() > kMaxOutgoing && now - session.lastTakenMs >= kStalledMs;
    if (stalled || session.outgoing.size() > kMaxBacklog) {
        Say("NOTE %s: %llu bytes dropped\n", stalled ? "nobody reads the line" : "the line's reader falls behind",
            static_cast<unsigned long long>(session.outgoing.size()));
        session.outgoing.clear();
    }
    return true;
}

// The hang-up and the replug wait until every answer has gone out.
void CloseIfDue(Session& session) {
    if (!session.outgoing.empty()) return;
    if (HangupDue(session.emulator)) {
        session.frontEnd->Drain(kHangupGraceMs);
        Say("HANGUP after %llu messages\n", static_cast<unsigned long long>(session.emulator.counts.messages));
        End(session, "hangup");
    } else if (ReplugDue(session.emulator)) {
        session.frontEnd->Drain(kHangupGraceMs);
        session.emulator.replugAfter = -1;
        session.frontEnd->Unplug(session, session.options->replugSeconds);
    }
}

}  // namespace

void StartSession(Session& session, const Options& options, FrontEnd& frontEnd) {
    session.options = &options;
    session.frontEnd = &frontEnd;
    session.emulator.faults = options.faults;
    session.emulator.verbose = options.verbose;
    session.emulator.replugAfter = options.replugAfter;
    for (const auto& [address, text] : options.texts) session.emulator.state.labels[address] = text;
}

void Receive(Session& session, std::string_view bytes) {
    ReceiveBytes(session.emulator, bytes, MonotonicMs());
}

void RunControlLine(Session& session, std::string_view text) {
    ControlCommand command;
    std::string error;
    if (!ParseControl(text, &command, &error)) {
        std::fprintf(stderr, "qelswitch: %s\n", error.c_str());
    } else if (command.verb == ControlVerb::kReplug) {
        session.frontEnd->Unplug(session, command.number);
    } else if (!ApplyControl(session.emulator, command)) {
        End(session, "quit");
    }
}

void End(Session& session, const char* reason, int status) {
    if (session.ended) return;
    session.ended = true;
    session.exitReason = reason;
    session.status = status;
}

void DropOwed(Session& session) {
    LineGone(session.emulator);
    session.outgoing.clear();
}

int RunSession(Session& session) {
    while (!session.ended) {
        Print(TakeEvents(session.emulator));
        if (!Flush(session)) break;
        Print(TakeEvents(session.emulator));
        CloseIfDue(session);
        if (session.ended) break;
        session.frontEnd->Wait(session, MillisecondsToNextWrite(session.emulator, MonotonicMs()));
    }
    Print(TakeEvents(session.emulator));
    if (session.options->printState) Print(StateReport(session.emulator));
    Say("EXIT %s\n", session.exitReason.c_str());
    std::fflush(stdout);
    return session.status;
}

}  // namespace qelswitch
