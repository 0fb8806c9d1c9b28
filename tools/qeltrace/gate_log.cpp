// A request runs from its request line to its END line on one instance;
// the lines between are its exchange. Instances interleave in a shared
// trace, so each has its own open request.
#include "gate_log.h"

#include <algorithm>

#include "gate_kind.h"
#include "trace/trace_grammar.h"
#include "visible.h"

namespace qeltrace {
namespace {

constexpr const char* kOutcomeNames[] = {"confirmed", "not confirmed", "not judged", "failed", "unfinished"};

// "WRITE_GATE 0102 value 5", "WRITE_GATE L05 text "Camera one"", "UPDATE_GATE R05".
void ReadRequestLine(const qeltools::TraceLine& line, GateRequest* request) {
    request->request = std::string(line.word);
    qeltools::RequestFields fields{};
    if (!qeltools::RequestNamesGate(line.request) || !qeltools::ReadRequest(line, &fields)) {
        return;
    }
    request->gate = std::string(fields.subject);
    request->isText = fields.value == qeltools::GateValue::kText || request->request == "UPDATE_GATE";
    request->hasValue = fields.value != qeltools::GateValue::kNone;
    request->value = fields.value == qeltools::GateValue::kText ? "\"" + std::string(fields.valueText) + "\""
                                                                : std::string(fields.valueText);
}

Outcome OutcomeOf(const GateRequest& request) {
    if (!request.result) {
        return Outcome::kUnfinished;
    }
    if (*request.result != 0) {
        return Outcome::kFailed;
    }
    if (request.unjudged && !request.confirmingReply) {
        return Outcome::kNotJudged;
    }
    return request.confirmingReply && !request.noteUnconfirmed ? Outcome::kConfirmed : Outcome::kNotConfirmed;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    return kOutcomeNames[static_cast<int>(outcome)];
}

GateLog::GateLog(Filter filter, bool keepLines, bool everyRequest)
    : filter_(std::move(filter)), keepLines_(keepLines), everyRequest_(everyRequest) {}

bool GateLog::Wanted(const GateRequest& request) const {
    if (filter_.instance && *filter_.instance != request.instance) {
        return false;
    }
    if (filter_.gate && *filter_.gate != request.gate) {
        return false;
    }
    const int64_t at = filter_.wallTime ? request.time.localMs : request.time.utcMs;
    if ((filter_.fromMs && at < *filter_.fromMs) || (filter_.toMs && at > *filter_.toMs)) {
        return false;
    }
    return everyRequest_ || request.request == "WRITE_GATE" || request.request == "UPDATE_GATE";
}

void GateLog::Close(Open& open) {
    if (!open.request) {
        return;
    }
    open.request->outcome = OutcomeOf(*open.request);
    done_.push_back(std::move(*open.request));
    open.request.reset();
}

void GateLog::Feed(std::string_view text) {
    qeltools::TraceLine line;
    if (!qeltools::ParseTraceLine(text, &line)) {
        return;
    }
    auto found = std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.instance == line.instance; });
    if (found == open_.end()) {
        open_.push_back(Open{line.instance, std::nullopt, {}});
        found = open_.end() - 1;
    }
    Open& open = *found;
    if (line.event == qeltools::TraceEvent::kRequest) {
        Close(open);
        GateRequest request;
        request.instance = line.instance;
        request.stamp = std::string(line.stamp);
        request.time = line.time;
        ReadRequestLine(line, &request);
        if (!Wanted(request)) {
            return;
        }
        LineMeaning(line, &open.state);
        open.request = std::move(request);
        if (keepLines_) {
            open.request->lines.push_back({std::string(line.body), {}});
        }
        return;
    }
    if (!open.request) {
        return;
    }
    GateRequest& request = *open.request;
    const bool readsText = open.state.readsText;
    std::string meaning = LineMeaning(line, &open.state);
    qeltools::EndFields end{};
    qeltools::ReadFields read{};
    if (qeltools::ReadEnd(line, &end)) {
        request.result = static_cast<int32_t>(end.result);
        request.ms = static_cast<uint32_t>(end.ms);
    } else if (line.event == qeltools::TraceEvent::kReason && request.reason.empty()) {
        request.reason = std::string(line.fields);
    } else if (qeltools::IsUnconfirmedNote(line)) {
        request.noteUnconfirmed = true;
    } else if (qeltools::ReadRead(line, &read)) {
        const std::string bytes = qeltools::HexBytes(read.data);
        request.unjudged = open.state.listCommand || open.state.freeText;
        if (readsText && !bytes.empty() && bytes[0] != '?') {
            request.confirmingReply = true;
            request.value = "\"" + qeltools::Visible(DisplayText(bytes)) + "\"";
            request.hasValue = true;
        } else if (read.judgement == kTraceReplyWords[static_cast<size_t>(TraceReply::kAccepted)] &&
                   !open.state.afterPreamble) {
            // The preamble's acceptance only gives leave to send: the reply
            // to the command that follows it confirms.
            request.confirmingReply = true;
        }
    } else if (line.word == "LIST") {
        const size_t entry = line.fields.find("entry ");
        if (entry != std::string_view::npos) {
            request.value = std::string(line.fields.substr(entry));
        }
    }
    if (keepLines_) {
        request.lines.push_back({std::string(line.body), std::move(meaning)});
    }
    if (line.event == qeltools::TraceEvent::kEnd) {
        Close(open);
    }
}

void GateLog::Finish() {
    for (Open& open : open_) {
        Close(open);
    }
    std::stable_sort(done_.begin(), done_.end(),
                     [](const GateRequest& a, const GateRequest& b) { return a.time.utcMs < b.time.utcMs; });
}

}  // namespace qeltrace
