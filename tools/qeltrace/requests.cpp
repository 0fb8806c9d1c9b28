// One request's accounting: it opens with its request line and counts,
// with its tries, reads, reasons and result, when it closes.
#include <optional>
#include <string>
#include <string_view>

#include "gate_kind.h"
#include "qelkophv/qelkophv.h"
#include "summary.h"
#include "summary_open.h"

namespace qeltrace {
namespace {

// What the summary calls each request; the trace's names for them are the
// driver's (the reader's RequestName).
struct RequestLabel {
    int32_t code;
    const char* label;
};
constexpr RequestLabel kRequestLabels[] = {
    {REQ_LOAD, "start"},
    {REQ_WARM_START, "warm start"},
    {REQ_REGISTER_GATE, "register"},
    {REQ_NOP, "nop"},
    {REQ_UPDATE_GATE, "update"},
    {REQ_READ_GATE, "read"},
    {REQ_WRITE_GATE, "write"},
    {REQ_BLOCK_WRITE, "block write"},
    {REQ_STOP, "stop"},
    {REQ_CLOSE_PORT, "close"},
    {REQ_OPEN_PORT, "open"},
    {REQ_GET_INFO, "info"},
    {REQ_RECONFIGURE_PORT, "reconfigure"},
};

std::string KindOfRequest(const TraceLine& line) {
    for (const RequestLabel& known : kRequestLabels) {
        if (known.code == line.request) {
            return known.label;
        }
    }
    return std::string(line.word);  // CODE_n
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
    open.kind = KindOfRequest(line);
    open.gate.clear();
    open.gateKind.clear();
    open.start = at;
    open.figures = RequestFigures{};
    open.unconfirmed = false;
    open.reasons.clear();
    open.lines.clear();
    RequestFields fields{};
    if (qeltools::RequestNamesGate(line.request) && qeltools::ReadRequest(line, &fields) && !fields.subject.empty()) {
        const GateFormat format = fields.value == qeltools::GateValue::kNumber ? GateFormat::kNumeric
                                  : fields.value == qeltools::GateValue::kText ? GateFormat::kString
                                                                               : GateFormat::kUnknown;
        open.gate = std::string(fields.subject);
        open.gateKind = line.request == REQ_REGISTER_GATE ? "" : GateKindOf(open.gate, format);
    }
    if (open.counted && line.request == REQ_LOAD) {
        ++instance.figures.starts;
    } else if (open.counted && line.request == REQ_STOP) {
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
                              std::move(open.lines), open.figures.refusals > 0);
    }
    open.lines.clear();
}

}  // namespace qeltrace
