// The switcher's state at a moment as far as this driver knows it: per gate,
// the last value it set and the switcher confirmed, and what was tried after
// that without a confirmation. Other controllers of the switcher are not in
// the trace, so neither is what they set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gate_log.h"

namespace qeltrace {

struct GateState {
    int32_t instance = 0;
    std::string gate;
    std::string kind;                                 // as the gate kind table names it
    const GateRequest* confirmed = nullptr;           // the last confirmed before the moment
    std::vector<const GateRequest*> later;            // after it, not confirmed or failed
    const GateRequest* bank[2] = {nullptr, nullptr};  // a "#" gate's last confirmed value in each bank
};

// Per instance and gate in order, from requests in time order, up to and with
// `atMs` (wall time or UTC as `wallTime` says).
std::vector<GateState> StateAt(const std::vector<GateRequest>& requests, int64_t atMs, bool wallTime);

}  // namespace qeltrace
