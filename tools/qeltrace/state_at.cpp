#include "state_at.h"

#include <cstdlib>
#include <map>
#include <utility>

#include "gate_kind.h"
#include "protocol/command_encoder.h"

namespace qeltrace {

std::vector<GateState> StateAt(const std::vector<GateRequest>& requests, int64_t atMs, bool wallTime) {
    std::map<std::pair<int32_t, std::string>, GateState> gates;
    for (const GateRequest& request : requests) {
        const int64_t at = wallTime ? request.time.localMs : request.time.utcMs;
        if (at > atMs) {
            break;
        }
        if (request.gate.empty()) {
            continue;
        }
        GateState& state = gates[{request.instance, request.gate}];
        if (state.gate.empty()) {
            state.instance = request.instance;
            state.gate = request.gate;
            state.kind = GateKindOf(request.gate, request.isText ? GateFormat::kString : GateFormat::kNumeric);
        }
        if (request.outcome != Outcome::kConfirmed) {
            state.later.push_back(&request);
            continue;
        }
        state.confirmed = &request;
        state.later.clear();
        if (state.kind == "#" || state.kind == "marked #") {
            state.bank[std::atoi(request.value.c_str()) < kBankSize ? 0 : 1] = &request;
        }
    }
    std::vector<GateState> result;
    result.reserve(gates.size());
    for (auto& [key, state] : gates) {
        result.push_back(std::move(state));
    }
    return result;
}

}  // namespace qeltrace
