// Bounded waits against the monotonic clock: a deadline started now and the
// milliseconds left of it. Header only and free of the driver, so that the
// tools and the tests wait the same way.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>

using MonotonicClock = std::chrono::steady_clock;

// Milliseconds on the monotonic clock since an arbitrary start: only
// differences between two readings mean anything.
inline uint64_t MonotonicMs() {
    const auto since = MonotonicClock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

struct Deadline {
    MonotonicClock::time_point end;
};

// The deadline `ms` milliseconds from now; 0 or less has already passed.
inline Deadline DeadlineIn(int64_t ms) {
    return Deadline{MonotonicClock::now() + std::chrono::milliseconds(ms)};
}

// Whole milliseconds left: 0 once the deadline has passed, at most INT_MAX,
// so that it fits poll's time-out.
inline int RemainingMs(const Deadline& deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline.end - MonotonicClock::now()).count();
    return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}
