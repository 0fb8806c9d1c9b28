// The driver's one way to wait, and the replacement tests install.
#include "os/sleep.h"

#include <atomic>

namespace {
// Set by a test while instances may be waiting on other threads.
std::atomic<SleepFunction> g_sleepFunction{nullptr};
}  // namespace

void SleepMilliseconds(uint32_t milliseconds) {
    if (const SleepFunction replacement = g_sleepFunction.load(); replacement != nullptr) {
        replacement(milliseconds);
        return;
    }
    PlatformSleep(milliseconds);
}

void SetSleepFunction(SleepFunction function) {
    g_sleepFunction = function;
}
