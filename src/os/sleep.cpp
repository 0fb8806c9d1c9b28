// The driver's one way to wait, and the replacement tests install.
#include "os/sleep.h"

namespace {
SleepFunction g_sleepFunction = nullptr;
}

void SleepMilliseconds(uint32_t milliseconds) {
    if (g_sleepFunction != nullptr) {
        g_sleepFunction(milliseconds);
        return;
    }
    PlatformSleep(milliseconds);
}

void SetSleepFunction(SleepFunction function) {
    g_sleepFunction = function;
}
