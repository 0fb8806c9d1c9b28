// One request's accounting: it opens with its request line and counts,
// with its tries, reads, reasons and result, when it closes.
#include <optional>
#include <string>
#include <string_view>

#include "gate_kind.h"
#include "summary.h"
#include "summary_open.h"

namespace qeltrace {
namespace {

struct RequestName {
    std::string_view word;
    const char* kind;
};
constexpr RequestName kRequestNames[] = {
    {"LOAD", "start"},
    {"WARM_START", "warm start"},
    {"REGISTER_GATE", "register"},
    {"NOP", "nop"},
    {"UPDATE_GATE", "update"},
    {"READ_GATE", "read"},
    {"WRITE_GATE", "write"},
    {"BLOCK_WRITE", "block write"},
    {"STOP", "stop"},
    {"CLOSE_PORT", "close"},
    {"OPEN_PORT", "open"},
    {"GET_INFO", "info"},
    {"RECONFIGURE_PORT", "reconfigure"},
};

// Requests that name a gate, and so have a gate kind.
bool NamesGate(std::string_view word) {
    return word == "WRITE_GATE" || word == "UPDATE_GATE" || word == "READ_GATE" || word == "REGISTER_GATE";
}

std::string KindOfRequest(std::string_view word) {
    for (const RequestName& name : kRequestNames) {
        if (name.word == word) {
            return name.kind;
        }
    }
    return std::string(word);  // CODE_n
}

int ResultClass(std::optional<int32_t> result, bool unconfirmed) {
    if (!result) {
        return 3;
    }
    switch (*result) {
        case 0:
            return unconfirmed ? 1 : 0;
        case 1:
            return 2;
        default:
            return 3;
    }
}

}  // namespace

void Summary::Request(Instance& instance, Open& open, const TraceLine& line, const When& at) {
    if (open.active) {
        CloseRequest(instance, open, std::nullopt, 0);
    }
    open.active = true;
    open.counted = InWindow(line);
    open.kind = KindOfRequest(line.word);
    open.gate.clear();
    open.gateKind.clear();
    open.start = at;
    open.figures = RequestFigures{};
    open.unconfirmed = false;
    open.reasons.clear();
    open.lines.clear();
    if (NamesGate(line.word) && line.body.size() > line.word.size() + 1) {
        std::string_view rest = line.body.substr(line.word.size() + 1);
        GateFormat format = GateFormat::kUnknown;
        size_t end = rest.rfind(" value ");
        if (end != std::string_view::npos) {
            format = GateFormat::kNumeric;
        } else if ((end = rest.find(" text \"")) != std::string_view::npos) {
            format = GateFormat::kString;
        }
        open.gate = std::string(rest.substr(0, end));
        open.gateKind = line.word == "REGISTER_GATE" ? "" : GateKindOf(open.gate, format);
    }
    if (open.counted && line.word == "LOAD") {
        ++instance.figures.starts;
    } else if (open.counted && line.word == "STOP") {
        ++instance.figures.stops;
    }
}

void Summary::CloseRequest(Instance& instance, Open& open, std::optional<int32_t> result, uint32_t durationMs) {
    open.active = false;
    if (!open.counted || (filter_.gate && *filter_.gate != open.gate)) {
        return;
    }
    RequestFigures one = open.figures;
    one.requests = 1;
    if (!result) {
        one.unfinished = 1;
    } else if (*result >= 0 && *result <= 2) {
        one.results[*result] = 1;
    } else {
        one.otherResults = 1;
    }
    one.unconfirmed = result && *result == 0 && open.unconfirmed ? 1 : 0;
    if (result) {
        one.time.Add(durationMs, open.start);
    }
    Figures& figures = instance.figures;
    figures.byRequest[open.kind].Merge(one);
    if (!open.gateKind.empty()) {
        figures.byGateKind[open.gateKind].Merge(one);
    }
    figures.all.Merge(one);
    for (const auto& [reason, at] : open.reasons) {
        figures.AddReason(reason, at, open.gate);
    }
    // Registration answers 1 for every ordinary gate: no failure.
    if (!open.gate.empty() && open.kind != "register") {
        GateFailures& gate = figures.gates[open.gate];
        ++gate.requests;
        if (!result || *result != 0) {
            ++gate.failed;
            gate.lastFailure = open.start;
        }
    }
    if (timeline_) {
        std::string title =
            open.start.stamp + " " + open.kind + (open.gate.empty() ? "" : " " + open.gate) + ": " +
            (result ? "result " + std::to_string(*result) + " after " + std::to_string(durationMs) + " ms"
                    : "no end in the trace");
        instance.timeline.Add(open.start.utcMs, ResultClass(result, open.unconfirmed), durationMs, std::move(title),
                              std::move(open.lines));
    }
    open.lines.clear();
}

}  // namespace qeltrace
