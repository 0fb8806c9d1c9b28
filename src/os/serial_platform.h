// What each platform's serial layer and the part both share
// (serial_port.cpp: the port table, the open's and the close's steps that do
// not depend on the system) give one another. Private to the serial layer.
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

// The process's port table, shared by both layers (serial_port.cpp). A
// port's handle is its slot's index plus one on every system, so that 0
// stays "no port". `state` changes only under the table's lock; the other
// fields belong to the instance that holds the handle.
enum class SlotState : uint8_t { kFree, kReserved, kOpen };

struct PortSlot {
    SlotState state;
    intptr_t system;         // the descriptor, or the HANDLE
    uint32_t readTimeoutMs;  // POSIX: the read total time-out (Windows keeps it in the port)
    int32_t lastError;       // the system's error of the port's last failed call
    bool lost;               // a call found the device gone
    bool nullDevice;         // "NUL": its errors tell nothing of a device
};

// The open port's slot; null for a handle that is not open.
PortSlot* SlotOf(PortHandle handle);

// The system's errors for what the shared part refuses before the system
// is asked: an empty name, a name too long for the device's, a full table,
// a handle that is not open.
struct RefusalErrors {
    int32_t nameEmpty;
    int32_t nameTooLong;
    int32_t noSlot;
    int32_t notOpen;
};
extern const RefusalErrors kRefusalErrors;

// The calling thread's last system error (errno, or GetLastError()), read
// and set.
int32_t ThreadError();
void SetThreadError(int32_t code);

// A failed open's result, with the system's error kept for the caller in
// *error and left as the calling thread's last error.
int32_t OpenFailed(int32_t result, int32_t code, SerialOpenCause cause, SerialError* error);

// The device the platform opens for the port `name`, in `device` of `size`
// bytes; false when it does not fit.
bool DeviceName(const char* name, char* device, size_t size);
// Opens and configures the device for this holder alone ("NUL" is not
// configured). kSerialOk with *system set; otherwise *error says why and
// the result which step failed, as OpenSerialPort tells them.
int32_t OpenDevice(const char* name, const char* device, const LineSettings& line, uint16_t lineControl,
                   intptr_t* system, SerialError* error);
// Closes the port's device. False, with the system's error in *code, when
// the close failed and left the port held.
bool CloseDevice(const PortSlot& slot, int32_t* code);

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
