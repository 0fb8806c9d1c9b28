// The figures' own arithmetic: durations, sums of requests, the merging of
// instances into a total, and the timeline's marks.
#include <algorithm>
#include <cmath>

#include "reason_groups.h"
#include "summary.h"

namespace qeltrace {

void Durations::Add(uint32_t ms, const When& start) {
    ++counts[ms];
    ++total;
    if (total == 1 || ms > maxMs) {
        maxMs = ms;
        slowest = start;
    }
}

void Durations::Merge(const Durations& other) {
    for (const auto& [ms, count] : other.counts) {
        counts[ms] += count;
    }
    if (other.total > 0 && (total == 0 || other.maxMs > maxMs)) {
        maxMs = other.maxMs;
        slowest = other.slowest;
    }
    total += other.total;
}

uint32_t Durations::Percentile(double share) const {
    if (total == 0) {
        return 0;
    }
    const auto rank = static_cast<uint64_t>(std::ceil(share * static_cast<double>(total)));
    uint64_t seen = 0;
    for (const auto& [ms, count] : counts) {
        seen += count;
        if (seen >= rank) {
            return ms;
        }
    }
    return maxMs;
}

void RequestFigures::Merge(const RequestFigures& other) {
    requests += other.requests;
    for (int i = 0; i < 3; ++i) {
        results[i] += other.results[i];
    }
    otherResults += other.otherResults;
    unfinished += other.unfinished;
    retries += other.retries;
    refusals += other.refusals;
    silentReads += other.silentReads;
    unconfirmed += other.unconfirmed;
    time.Merge(other.time);
}

void Figures::Merge(const Figures& other) {
    for (const auto& [name, figures] : other.byRequest) {
        byRequest[name].Merge(figures);
    }
    for (const auto& [name, figures] : other.byGateKind) {
        byGateKind[name].Merge(figures);
    }
    all.Merge(other.all);
    for (const ReasonGroup& theirs : other.reasons) {
        MergeReasonGroup(reasons, theirs);
    }
    for (const auto& [gate, failures] : other.gates) {
        GateFailures& mine = gates[gate];
        mine.requests += failures.requests;
        mine.failed += failures.failed;
        if (failures.lastFailure.utcMs > mine.lastFailure.utcMs) {
            mine.lastFailure = failures.lastFailure;
        }
    }
    starts += other.starts;
    stops += other.stops;
}

void Timeline::Add(int64_t atMs, int resultClass, uint32_t durationMs, std::string title,
                   std::vector<std::string> lines, bool refused) {
    // Slots are made as marks reach them, so that an instance with a few
    // requests holds a few marks, not the whole timeline.
    if (slots.empty()) {
        originMs = atMs;
    }
    if (atMs < originMs) {
        atMs = originMs;  // a clock set back: the mark stays at the start
    }
    while ((atMs - originMs) / slotMs >= static_cast<int64_t>(kSlots)) {
        // Twice the time per slot: neighbours merge into the first half.
        const size_t kept = (slots.size() + 1) / 2;
        for (size_t i = 0; i < kept; ++i) {
            Mark merged = std::move(slots[2 * i]);
            if (2 * i + 1 < slots.size()) {
                Mark& next = slots[2 * i + 1];
                if (merged.rank < 0) {
                    merged = std::move(next);
                } else if (next.rank >= 0) {
                    for (int k = 0; k < 4; ++k) {
                        merged.counts[k] += next.counts[k];
                    }
                    merged.maxMs = std::max(merged.maxMs, next.maxMs);
                    merged.refused += next.refused;
                    if (next.rank > merged.rank) {
                        merged.rank = next.rank;
                        merged.title = std::move(next.title);
                        merged.lines = std::move(next.lines);
                    }
                }
            }
            slots[i] = std::move(merged);
        }
        slots.resize(kept);
        slotMs *= 2;
    }
    const size_t index = static_cast<size_t>((atMs - originMs) / slotMs);
    if (index >= slots.size()) {
        slots.resize(index + 1);
    }
    Mark& mark = slots[index];
    if (mark.rank < 0) {
        mark.startMs = atMs;
    }
    ++mark.counts[resultClass];
    mark.refused += refused ? 1 : 0;
    mark.maxMs = std::max(mark.maxMs, durationMs);
    // The worst result first; among equals the slowest request.
    const int weighed = resultClass * 1000000 + static_cast<int>(std::min<uint32_t>(durationMs, 999999));
    if (weighed > mark.rank) {
        mark.rank = weighed;
        mark.title = std::move(title);
        mark.lines = std::move(lines);
    }
}

}  // namespace qeltrace
