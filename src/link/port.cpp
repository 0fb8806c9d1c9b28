// The serial port as the driver holds it: opened from a PortSettings record,
// kept in the context, closed by the close and stop requests.
#include "link/port.h"

#include "context/text.h"

PortHandle OpenPort(const PortSettings& settings, TraceFile* trace) {
    // The name comes from a record the host filled in: cut it at its field's
    // end even when the host left no NUL there.
    char name[sizeof settings.portName + 1];
    CopyText(name, settings.portName, sizeof settings.portName);
    PortHandle handle = kNoPort;
    if (OpenSerialPort(name, settings.line, settings.lineControl, &handle) != kSerialOk) {
        TracePort(trace, TracePortEvent::kOpenFailed, name, static_cast<uint32_t>(SerialLastError(kNoPort)));
        return kNoPort;
    }
    TracePort(trace, TracePortEvent::kOpened, name, 0);
    return handle;
}

PortHandle HeldPort(const DriverContext* context) {
    return context->portMark == kPortMark ? context->port : kNoPort;
}

void HoldPort(DriverContext* context, PortHandle handle) {
    context->port = handle;
    context->portMark = kPortMark;
}

int32_t ClosePort(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (context == nullptr) {
        return kFailed;
    }
    if (HeldPort(context) == kNoPort) {
        return kOk;
    }
    if (CloseSerialPort(context->port) != kSerialOk) {
        TracePort(&context->trace, TracePortEvent::kCloseFailed, context->portSettings.portName,
                  static_cast<uint32_t>(SerialLastError(context->port)));
        return kPortFailed;
    }
    TracePort(&context->trace, TracePortEvent::kClosed, context->portSettings.portName, 0);
    context->port = kNoPort;
    return kOk;
}
