// The line's health as the host sees it: counted reads, the silence log
// lines, the gate "LINE_STATE" and the counters in the trace.
#include "link/line_watch.h"

#include "context/text.h"
#include "host/host_library.h"

namespace {

struct StateName {
    LineState state;
    const char* text;
};
constexpr StateName kStateNames[] = {
    {LineState::kClosed, kTraceStateClosed},     {LineState::kOpen, kTraceStateOpen}, {LineState::kOk, kTraceStateOk},
    {LineState::kNoAnswer, kTraceStateNoAnswer}, {LineState::kLost, kTraceStateLost},
};

// REQ_GET_INFO comes before the host has a record to give.
DriverContext* RecordOf(DriverRequest* request) {
    return request->code == REQ_GET_INFO ? nullptr : ContextOf(request);
}

LineRecord* Watched(DriverContext* context) {
    return context != nullptr && context->line.mark == kLineRecordMark ? &context->line : nullptr;
}

LineState CurrentState(const DriverContext* context) {
    if (PortIsLost(context)) {
        return LineState::kLost;
    }
    return HeldPort(context) == kNoPort ? LineState::kClosed : context->line.phase;
}

void Queue(LineRecord* line, LineEvent event) {
    if (line->pendingCount < kPendingEventLimit) {
        line->pending[line->pendingCount++] = event;
    }
}

// "QELPA : No answer on COM3", with the port's name as the host gave it.
void LogSilence(const DriverContext* context, LineEvent event) {
    char name[sizeof context->portSettings.portName + 1];
    CopyText(name, context->portSettings.portName, sizeof context->portSettings.portName);
    HostLog(kLogLevel, "QELPA : %s on %s", event == LineEvent::kSilent ? "No answer" : "Answering again", name);
}

// A 0 that the switcher did not confirm: a judged exchange that no reply
// accepted, or a free text or list command (whose reads judge nothing)
// that got nothing back at all.
bool NotConfirmed(const LineRecord& line) {
    if (line.judgedReads > 0) {
        return !line.confirmed;
    }
    return line.reads > 0 && !line.answered;
}

void TraceCounters(DriverContext* context, LineState state) {
    const LineCounters& c = context->line.counters;
    const uint32_t counters[kTraceStatsCounters] = {c.transmissions, c.answered, c.refused, c.silent,
                                                    c.retries,       c.lost,     c.reopened};
    TraceStats(&context->trace, LineStateText(state), counters);
}

}  // namespace

const char* LineStateText(LineState state) {
    for (const StateName& name : kStateNames) {
        if (name.state == state) {
            return name.text;
        }
    }
    return "";
}

void WatchStart(DriverContext* context) {
    if (context == nullptr) {
        return;
    }
    LineRecord& line = context->line;
    if (line.mark != kLineRecordMark) {
        line = LineRecord{};
        line.mark = kLineRecordMark;
        line.reported = LineState::kUnknown;
    }
    line.phase = LineState::kOpen;
    line.silentRun = 0;
    line.silenceLogged = false;
    line.counters = LineCounters{};
}

void WatchClientReady(DriverContext* context) {
    if (LineRecord* line = Watched(context)) {
        line->hasClient = true;
    }
}

void WatchOpened(DriverContext* context) {
    if (LineRecord* line = Watched(context)) {
        line->phase = LineState::kOpen;
        line->silentRun = 0;
    }
}

void WatchTransmission(DriverContext* context) {
    if (LineRecord* line = Watched(context)) {
        ++line->counters.transmissions;
    }
}

void WatchRead(DriverContext* context, int32_t count, bool refused, ReadVerdict verdict) {
    LineRecord* line = Watched(context);
    if (line == nullptr || HeldPort(context) == kNoPort) {
        return;
    }
    if (line->reads < UINT8_MAX) {
        ++line->reads;
    }
    line->answered = line->answered || count > 0;
    if (verdict != ReadVerdict::kDecidesNothing) {
        ++line->judgedReads;
        line->confirmed = line->confirmed || verdict == ReadVerdict::kConfirms;
    }
    if (count > 0) {
        ++line->counters.answered;
        line->counters.refused += refused ? 1u : 0u;
        line->silentRun = 0;
        line->phase = LineState::kOk;
        if (line->silenceLogged) {
            line->silenceLogged = false;
            Queue(line, LineEvent::kAnswering);
        }
        return;
    }
    ++line->counters.silent;
    if (line->silentRun < kSilentReadLimit) {
        ++line->silentRun;
    }
    if (line->silentRun == kSilentReadLimit) {
        line->phase = LineState::kNoAnswer;
        if (!line->silenceLogged) {
            line->silenceLogged = true;
            Queue(line, LineEvent::kSilent);
        }
    }
}

void WatchRetry(DriverContext* context) {
    if (LineRecord* line = Watched(context)) {
        ++line->counters.retries;
    }
}

void WatchLost(DriverContext* context) {
    if (LineRecord* line = Watched(context)) {
        ++line->counters.lost;
    }
}

void WatchReopened(DriverContext* context) {
    if (LineRecord* line = Watched(context)) {
        ++line->counters.reopened;
    }
}

void WatchRequestStart(DriverRequest* request) {
    if (LineRecord* line = Watched(RecordOf(request))) {
        line->judgedReads = 0;
        line->confirmed = false;
        line->reads = 0;
        line->answered = false;
        line->pendingCount = 0;
    }
}

void WatchRequestEnd(DriverRequest* request, int32_t result) {
    DriverContext* context = RecordOf(request);
    LineRecord* line = Watched(context);
    if (line == nullptr) {
        return;
    }
    if (result == kOk && NotConfirmed(*line)) {
        TraceNoteLine(&context->trace, TraceNote::kNotConfirmed);
    }
    for (uint8_t i = 0; i < line->pendingCount; ++i) {
        LogSilence(context, line->pending[i]);
    }
    line->pendingCount = 0;
    const LineState state = CurrentState(context);
    if (state != line->reported) {
        if (line->hasClient) {
            HostPutGateText(context->clientId, kLineStateGate, LineStateText(state));
        }
        line->reported = state;
        TraceCounters(context, state);
    } else if (request->code == REQ_STOP) {
        TraceCounters(context, state);
    }
}
