// What both serial layers share: the purge of pending input and the pause.
#include "os/serial_port.h"

#include "os/serial_platform.h"
#include "os/sleep.h"

namespace {

constexpr uint32_t kPurgeChunk = 512;
constexpr int32_t kPurgeTimeoutUnits = 5;
// A line that never falls quiet would keep a purge reading for ever; after
// this many full chunks (64 KB) the purge stops and the request goes on.
constexpr int32_t kPurgeMaxChunks = 128;

}  // namespace

int32_t PurgeInput(PortHandle handle) {
    if (PendingInput(handle) == 0) {
        return kSerialOk;
    }
    const int32_t saved = SetReadTimeout(handle, kPurgeTimeoutUnits);
    uint8_t scratch[kPurgeChunk];
    bool failed = false;
    for (int32_t chunk = 0; chunk < kPurgeMaxChunks; ++chunk) {
        uint32_t got = 0;
        failed = !ReadWithinTimeout(handle, scratch, sizeof scratch, &got);
        if (failed || got < sizeof scratch) {
            break;
        }
    }
    if (saved != 0) {
        SetReadTimeout(handle, saved);
    }
    return failed ? kSerialPurgeFailed : kSerialOk;
}

int32_t Pause(uint32_t milliseconds) {
    SleepMilliseconds(milliseconds);
    return kSerialOk;
}
