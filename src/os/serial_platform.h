// What each platform's serial layer gives the part both share
// (serial_port.cpp). Private to the serial layer.
#pragma once

#include <cstdint>

#include "os/serial_port.h"

// Bytes waiting to be read; -1 when the system cannot tell.
int64_t PendingInput(PortHandle handle);
// One read bounded by the port's read total time-out: `got` counts what
// arrived. False when the system call failed; the port keeps its error.
bool ReadWithinTimeout(PortHandle handle, void* buffer, uint32_t count, uint32_t* got);
// The read total time-out in milliseconds for `units` of 10 ms, held to
// kMaxReadTimeoutUnits.
inline uint32_t ReadTimeoutMs(int32_t units) {
    const int32_t bounded = units < 0 || units > kMaxReadTimeoutUnits ? kMaxReadTimeoutUnits : units;
    return static_cast<uint32_t>(bounded) * 10u;
}
