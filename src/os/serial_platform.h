// What each platform's serial layer and the part both share
// (serial_port.cpp) give one another. Private to the serial layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "os/serial_port.h"

// The n of a port named COMn or \\.\COMn: "COM" in any letter case, n from
// 1 to 999 without a leading zero. 0 for every other name.
uint32_t ComPortNumber(const char* name);
// The name the Windows open takes in `out` (of `size` bytes): \\.\COMn for a
// bare COMn, since only COM1 to COM9 are known without the device prefix;
// every other name as it is. False when it does not fit.
bool WindowsDeviceName(const char* name, char* out, size_t size);

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
