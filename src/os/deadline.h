// Bounded waits against the monotonic clock: a deadline started now and the
// milliseconds left of it. Header only and free of the driver, so that the
// tools and the tests wait the same way.
#pragma once

#include <climits>
#include <cstdint>

#include "os/clock_lock.h"

struct Deadline {
    uint64_t endMs;
};

// The deadline `ms` milliseconds from now; 0 or less has already passed.
inline Deadline DeadlineIn(int64_t ms) {
    const uint64_t now = MonotonicMs();
    return Deadline{ms <= 0 ? now : now + static_cast<uint64_t>(ms)};
}

// Whole milliseconds left: 0 once the deadline has passed, at most INT_MAX,
// so that it fits poll's time-out.
inline int RemainingMs(const Deadline& deadline) {
    const uint64_t now = MonotonicMs();
    if (deadline.endMs <= now) {
        return 0;
    }
    const uint64_t left = deadline.endMs - now;
    return left > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
}
