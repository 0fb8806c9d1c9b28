// What both serial layers share: the port table with the open and the close
// around the system's own steps, the purge of pending input, the pause, the
// reading of COM port names and the Windows errors of a device that is gone.
#include "os/serial_port.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "os/clock_lock.h"
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

PortSlot g_ports[kMaxOpenPorts];
// Taken only to claim, fill and free slots: never across an open, a read, a
// write or a wait, so that instances never wait for each other's line. A
// claimed slot is reserved until its open has settled, so the claim and the
// open are one step that no other open can come between.
ProcessLock g_tableLock = QEL_PROCESS_LOCK_INIT;

// Marks a free slot reserved and returns its handle; kNoPort when every
// slot is taken.
PortHandle ClaimSlot() {
    PortHandle claimed = kNoPort;
    LockProcess(&g_tableLock);
    for (PortHandle index = 0; index < kMaxOpenPorts && claimed == kNoPort; ++index) {
        if (g_ports[index].state == SlotState::kFree) {
            g_ports[index].state = SlotState::kReserved;
            claimed = index + 1;
        }
    }
    UnlockProcess(&g_tableLock);
    return claimed;
}

// Fills a claimed or open slot: the opened port, or (a free slot) nothing.
void SettleSlot(PortHandle handle, const PortSlot& settled) {
    LockProcess(&g_tableLock);
    g_ports[handle - 1] = settled;
    UnlockProcess(&g_tableLock);
}

}  // namespace

int32_t OpenFailed(int32_t result, int32_t code, SerialOpenCause cause, SerialError* error) {
    *error = SerialError{code, cause};
    SetThreadError(code);
    return result;
}

PortSlot* SlotOf(PortHandle handle) {
    if (handle == kNoPort || handle > kMaxOpenPorts) {
        return nullptr;
    }
    PortSlot* slot = &g_ports[handle - 1];
    return slot->state == SlotState::kOpen ? slot : nullptr;
}

int32_t OpenSerialPort(const char* name, const LineSettings& line, uint16_t lineControl, PortHandle* handle,
                       SerialError* error) {
    *handle = kNoPort;
    SerialError ignored{};
    SerialError* failure = error != nullptr ? error : &ignored;
    *failure = SerialError{0, SerialOpenCause::kNone};
    if (name[0] == '\0') {
        return OpenFailed(kSerialOpenFailed, kRefusalErrors.nameEmpty, SerialOpenCause::kNameEmpty, failure);
    }
    char device[256];
    if (!DeviceName(name, device, sizeof device)) {
        return OpenFailed(kSerialOpenFailed, kRefusalErrors.nameTooLong, SerialOpenCause::kNameTooLong, failure);
    }
    const PortHandle claimed = ClaimSlot();
    if (claimed == kNoPort) {
        return OpenFailed(kSerialNoSlot, kRefusalErrors.noSlot, SerialOpenCause::kTooManyPorts, failure);
    }
    intptr_t system = 0;
    const int32_t result = OpenDevice(name, device, line, lineControl, &system, failure);
    if (result != kSerialOk) {
        SettleSlot(claimed, PortSlot{});
        SetThreadError(failure->osError);  // the table's lock may have touched it
        return result;
    }
    const bool nullDevice = std::strcmp(name, kNullPortName) == 0;
    SettleSlot(claimed, PortSlot{SlotState::kOpen, system, kDefaultReadTimeoutMs, 0, false, nullDevice});
    *handle = claimed;
    return kSerialOk;
}

int32_t CloseSerialPort(PortHandle handle, SerialError* error) {
    PortSlot* slot = SlotOf(handle);
    int32_t code = kRefusalErrors.notOpen;
    if (slot != nullptr && CloseDevice(*slot, &code)) {
        SettleSlot(handle, PortSlot{});
        return kSerialOk;
    }
    // A failed close leaves the port held, and its error with it.
    if (slot != nullptr) {
        slot->lastError = code;
    }
    if (error != nullptr) {
        *error = SerialError{code, SerialOpenCause::kNone};
    }
    SetThreadError(code);
    return kSerialCallFailed;
}

size_t SerialPortsInUse() {
    size_t count = 0;
    LockProcess(&g_tableLock);
    for (const PortSlot& slot : g_ports) {
        count += slot.state != SlotState::kFree ? 1 : 0;
    }
    UnlockProcess(&g_tableLock);
    return count;
}

int32_t SerialLastError(PortHandle handle) {
    const PortSlot* slot = SlotOf(handle);
    return slot != nullptr ? slot->lastError : ThreadError();
}

bool SerialPortLost(PortHandle handle) {
    const PortSlot* slot = SlotOf(handle);
    return slot != nullptr && slot->lost;
}

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
