// The serial port layer: the driver's only contact with the port. One
// declaration, two implementations (serial_port_posix.cpp,
// serial_port_win32.cpp); the build picks one. The driver-level OpenPort and
// ClosePort in port.cpp are the same on both.
#pragma once

#include <cstdint>

#include "context/context.h"

enum SerialResult : int32_t {
    kSerialOk = 0,
    kSerialOpenFailed = 1,  // cannot open, or its time-outs cannot be set
    kSerialWriteShort = 2,
    kSerialGetStateFailed = 4,
    kSerialSetStateFailed = 5,
    kSerialCallFailed = 7,  // the system call failed; for reads also "no byte"
};

constexpr uint32_t kDefaultReadTimeoutMs = 1000;
constexpr uint32_t kQueueSize = 1200;
constexpr uint32_t kPurgeChunk = 512;
constexpr int32_t kPurgeTimeoutUnits = 5;
// A line that never falls quiet would keep a purge reading for ever; after
// this many full chunks (64 KB) the purge stops and the request goes on.
constexpr int32_t kPurgeMaxChunks = 128;
constexpr uint8_t kErrorReplacement = 0xFC;
// The name of the null device: accepts output, delivers no input.
constexpr const char* kNullPortName = "NUL";

// Line-control flags of PortSettings.lineControl.
constexpr uint16_t kDtrEnable = 0x0101;
constexpr uint16_t kDtrHandshake = 0x8000;
constexpr uint16_t kRtsEnable = 0x0202;
constexpr uint16_t kRtsHandshake = 0x1000;
constexpr uint16_t kRtsToggle = 0x2000;

// Stop-bits and parity codes, as Windows codes them.
constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kOneAndAHalfStopBits = 1;
constexpr uint8_t kTwoStopBits = 2;
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOddParity = 1;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kMarkParity = 3;
constexpr uint8_t kSpaceParity = 4;

int32_t OpenSerialPort(const char* name, const LineSettings& line, uint16_t lineControl, PortHandle* handle);
int32_t CloseSerialPort(PortHandle handle);
// Returns the previous read total time-out in units of 10 ms, 0 on failure.
int32_t SetReadTimeout(PortHandle handle, int32_t units);
int32_t PurgeInput(PortHandle handle);
int32_t WriteBytes(PortHandle handle, const void* data, uint32_t count, uint32_t* written);
int32_t ReadBytes(PortHandle handle, void* buffer, uint32_t count, int32_t* received);
int32_t SendBreak(uint32_t milliseconds, PortHandle handle);
int32_t Pause(uint32_t milliseconds);

// Driver level, on the context.
PortHandle OpenPort(const PortSettings& settings);
int32_t ClosePort(DriverRequest* request);
