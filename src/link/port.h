// The serial port as a driver instance holds it: opened from a PortSettings
// record, kept in the context, closed by the close and stop requests.
#pragma once

#include <cstdint>

#include "context/context.h"
#include "os/serial_port.h"

// Opens the port the settings name (a name that fills its field without a
// NUL is taken whole); kNoPort when the serial layer refuses it. The outcome,
// with the system's error, goes into `trace` when one is given.
PortHandle OpenPort(const PortSettings& settings, TraceFile* trace = nullptr);
// The port the instance holds: kNoPort unless the driver opened it in this
// record, whatever the record's port bytes say.
PortHandle HeldPort(const DriverContext* context);
// Keeps an open port in the context and marks the record as the driver's own.
void HoldPort(DriverContext* context, PortHandle handle);
// REQ_CLOSE_PORT and REQ_STOP: 0 when the instance holds no port afterwards
// (also when it held none), 2 when the close failed and the port stays held,
// 1 without a context. A port it held is traced closed, or not, with the
// system's error.
int32_t ClosePort(DriverRequest* request);
