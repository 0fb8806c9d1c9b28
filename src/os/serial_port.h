// The serial port layer: the driver's only contact with the port. One
// declaration; the port table and what does not depend on the system in
// serial_port.cpp, the system's calls in serial_port_posix.cpp or
// serial_port_win32.cpp, which the build picks. It knows nothing of the
// driver: the port as a driver instance holds it is link/port.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qelkophv/qelkophv.h"

// An open serial port: its slot in the layer's port table, the same on
// every system; kNoPort when none is open.
using PortHandle = uintptr_t;
constexpr PortHandle kNoPort = 0;

// The settings a port is opened with.
struct PortSettings {
    char portName[12];
    LineSettings line;
    uint16_t lineControl;
};

enum SerialResult : int32_t {
    kSerialOk = 0,
    kSerialOpenFailed = 1,   // cannot open, or its time-outs cannot be set
    kSerialPurgeFailed = 1,  // a read of the purge failed
    kSerialWriteShort = 2,
    kSerialNoSlot = 3,  // the open found kMaxOpenPorts ports already open in the process
    kSerialGetStateFailed = 4,
    kSerialSetStateFailed = 5,
    kSerialCallFailed = 7,  // the system call failed; for reads also "no byte"
};

constexpr uint32_t kDefaultReadTimeoutMs = 1000;
// The ports one process holds open at most, over all its instances.
constexpr size_t kMaxOpenPorts = 256;
// 60 s: no read holds the host's thread longer, whatever the host asked
// (its "infinite" 0xFFFFFFFF comes as -1).
constexpr int32_t kMaxReadTimeoutUnits = 6000;
// The name of the null device: accepts output, delivers no input.
constexpr const char* kNullPortName = "NUL";

// Line-control flags of PortSettings.lineControl.
constexpr uint16_t kDtrEnable = 0x0101;
constexpr uint16_t kDtrHandshake = 0x8000;
constexpr uint16_t kRtsEnable = 0x0202;
constexpr uint16_t kRtsHandshake = 0x1000;
constexpr uint16_t kRtsToggle = 0x2000;
// What the driver opens its ports with: DTR and RTS held on.
constexpr uint16_t kLineControlDtrRts = kDtrEnable | kRtsEnable;

// Stop-bits and parity codes, as Windows codes them.
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kOneAndAHalfStopBits = 1;
constexpr uint8_t kTwoStopBits = 2;
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOddParity = 1;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kMarkParity = 3;
constexpr uint8_t kSpaceParity = 4;

// Why an open failed, as the layer tells it from the system's error and
// from what it found under the name.
enum class SerialOpenCause : uint8_t {
    kNone,
    kNameEmpty,
    // Never from the layer, which takes terminated names: a host record's
    // name field that holds no NUL.
    kNameUnended,
    kNameTooLong,
    kNoSuchPort,
    kHeld,
    kNoPermission,
    kRegularFile,
    kFolder,
    kFifo,
    kOtherDevice,  // a device, but no serial port
    kTimeoutsRefused,
    kSettingsRefused,
    kTooManyPorts,
    kOther,
};

// What a failed call hands back to its own caller: the system's error of
// that call (errno, or GetLastError() on Windows; 0 for none) and, for an
// open, its cause. No other thread's failure can show here.
struct SerialError {
    int32_t osError;
    SerialOpenCause cause;
};

// Opens `name` for this holder alone ("NUL": the null device, not
// configured) with the line settings and a read total time-out of
// kDefaultReadTimeoutMs. kSerialOk with *handle set; otherwise *handle is
// kNoPort, *error (when given) says why, and the result says which step
// failed: kSerialOpenFailed (no such device, held elsewhere, time-outs
// refused), kSerialNoSlot (the process holds kMaxOpenPorts ports already),
// kSerialGetStateFailed (no serial port), kSerialSetStateFailed (settings
// refused).
int32_t OpenSerialPort(const char* name, const LineSettings& line, uint16_t lineControl, PortHandle* handle,
                       SerialError* error = nullptr);
// kSerialOk once the port is closed; kSerialCallFailed for a handle that is
// not open, or (Windows) a close that failed and left the port held, with
// the system's error in *error (when given).
int32_t CloseSerialPort(PortHandle handle, SerialError* error = nullptr);
// Sets the read total time-out to `units` of 10 ms, at most
// kMaxReadTimeoutUnits: larger and negative values give that. Returns the
// previous one in the same units, 0 on failure.
int32_t SetReadTimeout(PortHandle handle, int32_t units);
// Reads away the input waiting (50 ms a read, at most 64 KB) and puts the
// read time-out back. kSerialOk, or kSerialPurgeFailed when a read failed.
int32_t PurgeInput(PortHandle handle);
// Writes `count` bytes; *written (when given) says how many went. kSerialOk
// when all went, kSerialWriteShort when fewer did (POSIX: the line took no
// byte for a second), kSerialCallFailed when the call failed before any byte
// went (*written is then left as it was).
int32_t WriteBytes(PortHandle handle, const void* data, uint32_t count, uint32_t* written);
// One read within the read total time-out, ended early once `count` bytes
// have come. kSerialOk with *received > 0; kSerialCallFailed when no byte
// came (time-out, hang-up or failed call), *received then 0.
int32_t ReadBytes(PortHandle handle, void* buffer, uint32_t count, int32_t* received);
// Holds the line in break for `milliseconds`; always kSerialOk.
int32_t SendBreak(uint32_t milliseconds, PortHandle handle);
// Waits `milliseconds` through the sleep call; always kSerialOk.
int32_t Pause(uint32_t milliseconds);

// The operating system's error (errno, or GetLastError() on Windows) of the
// port's last failed call; 0 when none has failed since the port was opened.
// The port's calls come from the one instance that holds it. For a handle
// that is not open, kNoPort among them, the calling thread's own last
// system error, which a failed open or close leaves set: a caller that wants
// the error of its own call takes it from that call's SerialError.
int32_t SerialLastError(PortHandle handle);
// Names an error code in the caller's `text` of `size` bytes (cut to fit,
// always terminated); returns `text`.
const char* SerialErrorText(int32_t code, char* text, size_t size);
// True once a read, write or purge on the open port found the device itself
// gone (an unplugged adapter, a far end that closed), as opposed to a
// time-out or a short read; it stays so until the port is closed. False for
// a handle that is not open. The operation's own result is unchanged.
bool SerialPortLost(PortHandle handle);
// The ports open in the process now, those being opened included: for the
// trace and for tests that check every port was given back.
size_t SerialPortsInUse();
// Whether a Windows error code of ReadFile, WriteFile or ClearCommError
// means the device is gone. Pure, so that both builds can check the table.
bool IsDeviceGoneError(uint32_t windowsError);
