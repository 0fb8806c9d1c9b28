// What each instance has under way while the lines go by: shared by the
// reading of lines, the accounting of requests and the line states.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "summary.h"

namespace qeltrace {

// What one instance has under way.
struct Summary::Open {
    bool active = false;
    bool counted = false;  // started inside the filter's window
    std::string kind, gate, gateKind;
    When start;
    RequestFigures figures;  // the request's own tries, refusals, reads
    bool unconfirmed = false;
    std::vector<std::pair<std::string, When>> reasons;
    std::vector<std::string> lines;
    // The line state as the STATS lines tell it, and what leads up to a change.
    std::string state;
    When stateSince;
    std::optional<When> silentSince;  // the first read of the current run of reads that brought nothing
    std::optional<When> lostAt;       // the port went away, not yet reopened
    std::optional<When> backAt;       // the first answer after a silence, or the reopen after a loss
};

}  // namespace qeltrace
