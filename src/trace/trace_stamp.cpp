// The trace's clock: the monotonic milliseconds, and the stamp's local date,
// time and offset, which cost most and are formatted once a second.
#include <atomic>
#include <cstdio>

#include "os/clock_lock.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"

namespace {

std::atomic<int32_t> g_clockShiftSeconds{0};

// The local date, time and offset of a second, formatted once for that
// second: making the time local is what a stamp costs most.
void FormatSecond(TraceFile* trace, int64_t seconds) {
    TraceClock clock{};
    TraceLocalTimeAt(seconds, &clock);
    const int offset = clock.utcOffsetMinutes;
    const unsigned offsetSize = static_cast<unsigned>(offset < 0 ? -offset : offset);
    std::snprintf(trace->stampTime, sizeof trace->stampTime, "%04u-%02u-%02uT%02u:%02u:%02u", clock.year, clock.month,
                  clock.day, clock.hour, clock.minute, clock.second);
    std::snprintf(trace->stampOffset, sizeof trace->stampOffset, "%c%02u:%02u", offset < 0 ? '-' : '+',
                  offsetSize / 60 % 100, offsetSize % 60);
}

}  // namespace

uint32_t TraceSteadyMs() {
    return static_cast<uint32_t>(MonotonicMs());
}

// The milliseconds come from the monotonic clock's difference: the system's
// clock is read, and the second formatted, only when a second has passed
// since the stamped one began (or on the first line), so a clock set to
// another time shows from the next second on.
uint32_t TraceStampNow(TraceFile* trace) {
    const uint32_t now = TraceSteadyMs();
    const int32_t shift = g_clockShiftSeconds.load(std::memory_order_relaxed);
    const uint32_t intoSecond = now - trace->stampStartMs;
    if (intoSecond < 1000 && shift == trace->stampShift && trace->stampTime[0] != '\0') {
        return intoSecond;
    }
    const TraceInstant instant = TraceUtcNow();
    FormatSecond(trace, instant.seconds + shift);
    trace->stampStartMs = now - instant.millisecond;
    trace->stampShift = shift;
    return instant.millisecond;
}

void SetTraceClockShiftForTest(int32_t seconds) {
    g_clockShiftSeconds.store(seconds, std::memory_order_relaxed);
}
