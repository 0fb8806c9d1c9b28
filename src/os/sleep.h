// The driver's one way to wait. Tests replace it so that the protocol's
// fixed waits cost no real time and can be observed.
#pragma once

#include <cstdint>

using SleepFunction = void (*)(uint32_t milliseconds);

void SleepMilliseconds(uint32_t milliseconds);

// Platform part: the real wait.
void PlatformSleep(uint32_t milliseconds);

// Installs a replacement (nullptr puts the real wait back).
void SetSleepFunction(SleepFunction function);
