// What both serial layers share: the purge of pending input, the pause and
// the reading of COM port names.
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
