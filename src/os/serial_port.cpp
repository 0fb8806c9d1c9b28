// What both serial layers share: the purge of pending input, the pause, the
// reading of COM port names and the Windows errors of a device that is gone.
#include "os/serial_port.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "os/serial_platform.h"
#include "os/sleep.h"

namespace {

constexpr uint32_t kPurgeChunk = 512;
constexpr int32_t kPurgeTimeoutUnits = 5;
// A line that never falls quiet would keep a purge reading for ever; after
// this many full chunks (64 KB) the purge stops and the request goes on.
constexpr int32_t kPurgeMaxChunks = 128;

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr size_t kDevicePrefixLength = 4;
constexpr uint32_t kMaxComDigits = 3;

// "COM" in any letter case, as Windows takes device names.
bool IsComLetters(const char* name) {
    const char* com = "COM";
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != com[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

uint32_t ComPortNumber(const char* name) {
    if (std::strncmp(name, kDevicePrefix, kDevicePrefixLength) == 0) {
        name += kDevicePrefixLength;
    }
    if (!IsComLetters(name) || name[3] == '0') {
        return 0;
    }
    uint32_t number = 0;
    uint32_t digits = 0;
    for (const char* c = name + 3; *c != '\0'; ++c, ++digits) {
        if (*c < '0' || *c > '9' || digits == kMaxComDigits) {
            return 0;
        }
        number = number * 10 + static_cast<uint32_t>(*c - '0');
    }
    return number;
}

bool WindowsDeviceName(const char* name, char* out, size_t size) {
    const bool bare = ComPortNumber(name) != 0 && std::strncmp(name, kDevicePrefix, kDevicePrefixLength) != 0;
    const int length = std::snprintf(out, size, "%s%s", bare ? kDevicePrefix : "", name);
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool IsDeviceGoneError(uint32_t windowsError) {
    // The Windows codes by value: this file is built on every system.
    constexpr uint32_t kDeviceGone[] = {
        2,     // ERROR_FILE_NOT_FOUND
        5,     // ERROR_ACCESS_DENIED: a USB adapter pulled out under an open handle
        6,     // ERROR_INVALID_HANDLE
        21,    // ERROR_NOT_READY: what Wine reports for a terminal whose far end closed
        22,    // ERROR_BAD_COMMAND
        31,    // ERROR_GEN_FAILURE
        995,   // ERROR_OPERATION_ABORTED
        1617,  // ERROR_DEVICE_REMOVED
    };
    for (const uint32_t code : kDeviceGone) {
        if (code == windowsError) {
            return true;
        }
    }
    return false;
}

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
