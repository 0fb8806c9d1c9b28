// The serial port as the driver holds it: opened from a PortSettings record,
// kept in the context, closed by the close and stop requests, and reopened
// by the driver itself when its line went away.
#include "link/port.h"

#include "context/text.h"
#include "host/host_library.h"
#include "link/line_watch.h"
#include "os/clock_lock.h"

namespace {

uint32_t g_reopenIntervalMs = kReopenIntervalMs;

// The clock's low 32 bits: differences stay right across a wrap.
uint32_t NowMs() {
    return static_cast<uint32_t>(MonotonicMs());
}

// Logs "QELPA : EVENT NAME" with the port's name as the host gave it; the
// name's field may lack a NUL when the host opened before it ever loaded.
void LogPortEvent(const DriverContext* context, const char* event) {
    char name[sizeof context->portSettings.portName + 1];
    CopyText(name, context->portSettings.portName, sizeof context->portSettings.portName);
    HostLog(kLogLevel, "QELPA : %s %s", event, name);
}

}  // namespace

PortHandle OpenPort(const PortSettings& settings, TraceFile* trace) {
    // The name comes from a record the host filled in: cut it at its field's
    // end even when the host left no NUL there.
    char name[sizeof settings.portName + 1];
    CopyText(name, settings.portName, sizeof settings.portName);
    PortHandle handle = kNoPort;
    const int32_t result = OpenSerialPort(name, settings.line, settings.lineControl, &handle);
    if (result != kSerialOk) {
        TracePort(trace, TracePortEvent::kOpenFailed, name, static_cast<uint32_t>(SerialLastError(kNoPort)));
        if (result == kSerialNoSlot) {
            TraceReason(trace, "too many ports open in this process (%u)", static_cast<unsigned>(kMaxOpenPorts));
        }
        return kNoPort;
    }
    TracePort(trace, TracePortEvent::kOpened, name, 0);
    return handle;
}

void HoldPort(DriverContext* context, PortHandle handle) {
    context->port = handle;
    context->portMark = kPortMark;
    context->portLost = 0;
    context->readTimeoutUnits = static_cast<int32_t>(kDefaultReadTimeoutMs / 10u);
    WatchOpened(context);
}

void SetHeldReadTimeout(DriverContext* context, int32_t units) {
    SetReadTimeout(HeldPort(context), units);
    context->readTimeoutUnits = units;
}

uint32_t ReopenDueInMs(const DriverContext* context) {
    const uint32_t since = NowMs() - context->lastReopenMs;
    return since >= g_reopenIntervalMs ? 0 : g_reopenIntervalMs - since;
}

void NoteLostPort(DriverContext* context) {
    const PortHandle port = context != nullptr ? HeldPort(context) : kNoPort;
    if (port == kNoPort || !SerialPortLost(port)) {
        return;
    }
    // The error that told the loss, before the close forgets it.
    TracePort(&context->trace, TracePortEvent::kLost, context->portSettings.portName,
              static_cast<uint32_t>(SerialLastError(port)));
    // A handle that cannot be closed stays held, as it did before the driver
    // knew of lost lines: the requests then fail on it.
    if (CloseSerialPort(port) != kSerialOk) {
        return;
    }
    context->port = kNoPort;
    context->portLost = kPortLostMark;
    context->lastReopenMs = NowMs();
    WatchLost(context);
    LogPortEvent(context, "Lost");
}

void ReviveLostPort(DriverContext* context) {
    if (context == nullptr || !PortIsLost(context)) {
        return;
    }
    if (ReopenDueInMs(context) > 0) {
        return;
    }
    context->lastReopenMs = NowMs();
    const PortHandle handle = OpenPort(context->portSettings);
    if (handle == kNoPort) {
        TracePort(&context->trace, TracePortEvent::kReopenFailed, context->portSettings.portName,
                  static_cast<uint32_t>(SerialLastError(kNoPort)));
        return;
    }
    const int32_t readTimeout = context->readTimeoutUnits;
    WatchReopened(context);
    HoldPort(context, handle);
    SetHeldReadTimeout(context, readTimeout);
    TracePort(&context->trace, TracePortEvent::kReopened, context->portSettings.portName, 0);
    LogPortEvent(context, "Reopened");
}

void SetReopenIntervalMs(uint32_t milliseconds) {
    g_reopenIntervalMs = milliseconds;
}

int32_t ClosePort(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (context == nullptr) {
        return kFailed;
    }
    // The host's close ends the recovery of a lost port, and so do the load,
    // open and reconfigure requests that come through here.
    context->portLost = 0;
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
