// A request runs from its request line to its END line on one instance;
// the lines between are its exchange. Instances interleave in a shared
// trace, so each has its own open request.
#include "gate_log.h"

#include <algorithm>
#include <cstdlib>

#include "gate_kind.h"
#include "visible.h"

namespace qeltrace {
namespace {

constexpr const char* kOutcomeNames[] = {"confirmed", "not confirmed", "not judged", "failed", "unfinished"};

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// "WRITE_GATE 0102 value 5", "WRITE_GATE L05 text "Camera one"", "UPDATE_GATE R05".
void ReadRequestLine(std::string_view body, GateRequest* request) {
    const size_t space = body.find(' ');
    request->request = std::string(body.substr(0, space));
    if (space == std::string_view::npos) {
        return;
    }
    std::string_view rest = body.substr(space + 1);
    const size_t end = rest.find(' ');
    request->gate = std::string(rest.substr(0, end));
    request->isText = request->request == "UPDATE_GATE";
    if (end == std::string_view::npos) {
        return;
    }
    rest = rest.substr(end + 1);
    if (StartsWith(rest, "value ")) {
        request->value = std::string(rest.substr(6));
        request->hasValue = true;
    } else if (StartsWith(rest, "text ")) {
        request->value = std::string(rest.substr(5));
        request->hasValue = true;
        request->isText = true;
    }
}

// "END WRITE_GATE result 1 after 312 ms"
void ReadEnd(std::string_view body, GateRequest* request) {
    const size_t at = body.find(" result ");
    const size_t after = body.find(" after ");
    if (at == std::string_view::npos || after == std::string_view::npos) {
        return;
    }
    request->result = std::atoi(std::string(body.substr(at + 8, after - at - 8)).c_str());
    request->ms = static_cast<uint32_t>(std::strtoul(std::string(body.substr(after + 7)).c_str(), nullptr, 10));
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

// "RX accepted 80 ms after TX: 5 bytes ..." -> "accepted"
std::string_view Judgement(std::string_view body) {
    std::string_view rest = body.substr(3);
    for (std::string_view word : {"not judged", "accepted", "refused", "unrecognised", "none"}) {
        if (StartsWith(rest, word)) {
            return word;
        }
    }
    return {};
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
    TraceLine line;
    if (!ParseLine(text, &line)) {
        return;
    }
    auto found = std::find_if(open_.begin(), open_.end(), [&](const Open& o) { return o.instance == line.instance; });
    if (found == open_.end()) {
        open_.push_back(Open{line.instance, std::nullopt, {}});
        found = open_.end() - 1;
    }
    Open& open = *found;
    if (line.kind == LineKind::kRequest) {
        Close(open);
        GateRequest request;
        request.instance = line.instance;
        request.stamp = std::string(line.stamp);
        request.time = line.time;
        ReadRequestLine(line.body, &request);
        if (!Wanted(request)) {
            return;
        }
        LineMeaning(line.word, line.body, &open.state);
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
    std::string meaning, bytes;
    switch (line.kind) {
        case LineKind::kEnd:
            ReadEnd(line.body, &request);
            break;
        case LineKind::kReason:
            if (request.reason.empty()) {
                request.reason = std::string(line.body.substr(line.body.find(' ') + 1));
            }
            break;
        case LineKind::kNote:
            request.noteUnconfirmed =
                request.noteUnconfirmed || line.body.find("not confirmed") != std::string_view::npos;
            break;
        case LineKind::kTransmit:
            meaning = LineMeaning(line.word, line.body, &open.state);
            break;
        case LineKind::kRead: {
            const std::string_view judged = Judgement(line.body);
            const bool readsText = open.state.readsText;
            LineBytes(line.body, &bytes);
            meaning = LineMeaning(line.word, line.body, &open.state);
            request.unjudged = open.state.listCommand || open.state.freeText;
            if (readsText && !bytes.empty() && bytes[0] != '?') {
                request.confirmingReply = true;
                request.value = "\"" + qeltools::Visible(DisplayText(bytes)) + "\"";
                request.hasValue = true;
            } else if (judged == "accepted" && !open.state.afterPreamble) {
                // The preamble's acceptance only gives leave to send: the
                // reply to the command that follows it confirms.
                request.confirmingReply = true;
            }
            break;
        }
        case LineKind::kOther:
            if (StartsWith(line.body, "LIST ")) {
                LineMeaning(line.word, line.body, &open.state);
                const size_t entry = line.body.find(" entry ");
                if (entry != std::string_view::npos) {
                    request.value = std::string(line.body.substr(entry + 1));
                }
            }
            break;
        default:
            break;
    }
    if (keepLines_) {
        request.lines.push_back({std::string(line.body), std::move(meaning)});
    }
    if (line.kind == LineKind::kEnd) {
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
