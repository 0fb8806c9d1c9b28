// The line's states as periods, their outages, and the port's reopens.
#include <algorithm>
#include <string>
#include <string_view>

#include "summary.h"
#include "summary_open.h"
#include "trace/trace_grammar.h"

namespace qeltrace {

void Summary::State(Instance& instance, Open& open, std::string_view state, const When& at) {
    if (open.state == state) {
        return;
    }
    // The silence began with the first read that brought nothing, the loss
    // at the port's failure: both come before the request's STATS line.
    When boundary = at;
    const bool leavesLoss =
        open.state == qeltools::kStateLost && open.backAt && open.backAt->utcMs >= open.stateSince.utcMs;
    if (leavesLoss) {
        // A loss ends at the reopen, whatever the line does after it.
        boundary = *open.backAt;
    } else if (state == qeltools::kStateNoAnswer && open.silentSince &&
               open.silentSince->utcMs >= open.stateSince.utcMs) {
        boundary = *open.silentSince;
    } else if (state == qeltools::kStateLost && open.lostAt && open.lostAt->utcMs >= open.stateSince.utcMs) {
        boundary = *open.lostAt;
    } else if (open.backAt && open.backAt->utcMs >= open.stateSince.utcMs) {
        // The silence or the loss ended with the answer or the reopen.
        boundary = *open.backAt;
    }
    open.backAt.reset();
    if (!open.state.empty()) {
        instance.states.push_back(Period{open.state, open.stateSince, boundary, false, instance.number, instance.port});
        // An outage that a close or stop cut short did not end on the line.
        instance.states.back().endedByStop = qeltools::IsOutage(open.state) && state == kTraceStateClosed;
    }
    open.state = std::string(state);
    open.stateSince = boundary;
}

std::vector<Period> Summary::Outages() const {
    std::vector<Period> outages;
    for (const Instance& instance : instances_) {
        for (const Period& period : instance.states) {
            if (qeltools::IsOutage(period.state)) {
                outages.push_back(period);
            }
        }
    }
    std::stable_sort(outages.begin(), outages.end(),
                     [](const Period& a, const Period& b) { return a.start.utcMs < b.start.utcMs; });
    return outages;
}

std::vector<Reopen> Summary::Reopens() const {
    std::vector<Reopen> reopens;
    for (const Instance& instance : instances_) {
        reopens.insert(reopens.end(), instance.reopens.begin(), instance.reopens.end());
    }
    std::stable_sort(reopens.begin(), reopens.end(),
                     [](const Reopen& a, const Reopen& b) { return a.lost.utcMs < b.lost.utcMs; });
    return reopens;
}

uint64_t Summary::ReopenFailures() const {
    uint64_t count = 0;
    for (const Instance& instance : instances_) {
        count += instance.reopenFailures;
    }
    return count;
}

}  // namespace qeltrace
