// The serial port as a driver instance holds it: opened from a PortSettings
// record, kept in the context, closed by the close and stop requests.
#pragma once

#include <cstdint>

#include "context/context.h"
#include "os/serial_port.h"

// Whether a host record's port name ends within its 12 bytes. A name that
// fills the field without a NUL is refused, never cut: cut, it would name
// another device.
bool PortNameEnds(const char (&name)[sizeof PortSettings::portName]);
// Whether the name can name a port at all: not empty and ended. A request
// refuses any other before it closes anything.
bool PortNameUsable(const char (&name)[sizeof PortSettings::portName]);
// Opens the port the settings name; kNoPort when it is refused, a name with
// no end within its field included, with *error (when given) saying why.
// The outcome, with the system's error, and for a refusal a REASON naming
// the port and the cause, go into `trace` when one is given.
PortHandle OpenPort(const PortSettings& settings, TraceFile* trace = nullptr, SerialError* error = nullptr);
// Remembers why the instance holds no port after a start, open,
// reconfiguration or close: the requests that then find no port say so.
void NotePortDown(DriverContext* context, PortDown down, const PortSettings& settings, const SerialError& error);
// Keeps the settings a start or reconfiguration accepted: the ones a later
// open uses.
void AcceptSettings(DriverContext* context, const PortSettings& settings);
// For an open before any start or reconfiguration was accepted: the REASON
// that there is nothing to open, and what opens the port.
void TraceNothingToOpen(DriverContext* context);
// For an open, after its OpenPort: when the last start failed on another
// port, the open took the last settings accepted, and the trace says which
// port that was and why (a NOTE when it opened, a REASON when not).
void TraceOpenAfterFailedStart(DriverContext* context, bool opened);
// "REASON port COM3 not open: the start failed (...); ..." for a request
// that found no port held and none lost.
void TraceNoPortReason(DriverContext* context);
// Keeps an open port in the context and marks the record as the driver's own;
// the port is not lost and has the serial layer's default read time-out.
void HoldPort(DriverContext* context, PortHandle handle);
// Sets the held port's read time-out (units of 10 ms) and keeps it for a
// reopen.
void SetHeldReadTimeout(DriverContext* context, int32_t units);

// After a request that used the line: a held port whose device the serial
// layer found gone is closed and remembered as lost, with "QELPA : Lost
// NAME" in the log. Nothing happens to a port that is not lost.
void NoteLostPort(DriverContext* context);
// Before a request that uses the line: a lost port is reopened with the
// settings and read time-out it had, at most once every 2 s since the loss
// or the last try ("QELPA : Reopened NAME" when it opens). Nothing happens
// unless the port is lost; a failed try leaves it lost, costing no wait.
void ReviveLostPort(DriverContext* context);
// Milliseconds until a lost port may be tried again (0: at the next request
// that uses the line).
uint32_t ReopenDueInMs(const DriverContext* context);
// A lost line is tried again no more often than this: a long outage then
// adds no wait to the requests that find it gone.
constexpr uint32_t kReopenIntervalMs = 2000;
// For tests: the least time between two reopen tries (kReopenIntervalMs
// until set).
void SetReopenIntervalMs(uint32_t milliseconds);
// REQ_CLOSE_PORT and REQ_STOP: 0 when the instance holds no port afterwards
// (also when it held none, or its port was lost), 2 when the close failed and
// the port stays held, 1 without a context. A port it held is traced closed,
// or not, with the system's error. A lost port is no longer reopened: the
// host has taken the port back.
int32_t ClosePort(DriverRequest* request);
