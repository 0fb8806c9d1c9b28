// The request lines of the trace: the name, the gate and its value or the
// port, and at the end the result, with the reason where the request's 1 is
// its fixed answer.
#include "driver/request_trace.h"

#include <atomic>
#include <cstdio>

#include "context/text.h"
#include "host/host_library.h"
#include "protocol/gate_value.h"

namespace {

constexpr int32_t kCodeCount = 16;

// Names as the host's request codes have them, without "REQ_"; null for the
// empty slots.
constexpr const char* kRequestNames[kCodeCount] = {
    nullptr, "LOAD",  "WARM_START",  "REGISTER_GATE", "NOP",        "UPDATE_GATE", "READ_GATE", "WRITE_GATE",
    nullptr, nullptr, "BLOCK_WRITE", "STOP",          "CLOSE_PORT", "OPEN_PORT",   "GET_INFO",  "RECONFIGURE_PORT",
};

// Why these requests answer 1 every time (REGISTER_GATE: for every gate but
// the named ones).
struct FixedReason {
    int32_t code;
    const char* reason;
};
constexpr FixedReason kFixedReasons[] = {
    {REQ_REGISTER_GATE, "not one of the named gates: 1 is the usual answer, not an error"},
    {REQ_NOP, "NOP always answers 1"},
    {REQ_READ_GATE, "the driver does not read gates: it writes them, and updates \"R\" gates"},
    {REQ_BLOCK_WRITE, "the driver takes no block writes: write the gates one by one"},
};

// Every load numbers its instance, so that the lines of two instances
// writing one file can be told apart.
std::atomic<int32_t> g_traceInstances{0};

bool NeedsRecord(int32_t code) {
    return code == REQ_LOAD || code == REQ_REGISTER_GATE || code == REQ_UPDATE_GATE || code == REQ_WRITE_GATE ||
           code == REQ_RECONFIGURE_PORT;
}

void LogTraceStop(int32_t level, const char* text) {
    HostLog(level, "%s", text);
}

const char* NameOf(int32_t code, char (&unknown)[24]) {
    if (code >= 0 && code < kCodeCount && kRequestNames[code] != nullptr) {
        return kRequestNames[code];
    }
    std::snprintf(unknown, sizeof unknown, "CODE_%d", static_cast<int>(code));
    return unknown;
}

void TraceGate(TraceFile* trace, const char* name, DriverRequest* request) {
    const GateAccess* access = DataOf<GateAccess>(request);
    if (access == nullptr) {
        TraceRequest(trace, name, nullptr, nullptr);
        return;
    }
    if (request->code != REQ_WRITE_GATE || access->value == nullptr) {
        TraceRequest(trace, name, access->address, nullptr);
    } else if (access->format == GATE_FORMAT_STRING) {
        TraceRequest(trace, name, access->address, GateText(request));
    } else {
        TraceRequestNumber(trace, name, access->address, GateNumber(request));
    }
}

// The port and line a load or reconfiguration asks for.
template <typename Record>
void TracePortRecord(TraceFile* trace, const char* name, const Record* record) {
    if (record == nullptr) {
        TraceRequest(trace, name, nullptr, nullptr);
        return;
    }
    char port[sizeof record->portName + 1];
    CopyText(port, record->portName, sizeof record->portName);
    TraceRequest(trace, name, port, nullptr);
    TraceLine(trace, "LINE %u baud, %u data bits, stop bits code %u, parity code %u, read time-out %u x 10 ms",
              static_cast<unsigned>(record->line.baudRate), static_cast<unsigned>(record->line.dataBits),
              static_cast<unsigned>(record->line.stopBits), static_cast<unsigned>(record->line.parity),
              static_cast<unsigned>(record->timeout));
}

}  // namespace

void TraceRequestStart(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    // REQ_GET_INFO comes before the host has a record to give.
    if (context == nullptr || request->code == REQ_GET_INFO) {
        return;
    }
    if (request->code == REQ_LOAD) {
        TraceOpen(&context->trace, ++g_traceInstances, LogTraceStop);
    }
    TraceFile* trace = &context->trace;
    if (!TraceIsOn(trace)) {
        return;
    }
    char unknown[24];
    const char* name = NameOf(request->code, unknown);
    switch (request->code) {
        case REQ_REGISTER_GATE:
        case REQ_UPDATE_GATE:
        case REQ_READ_GATE:
        case REQ_WRITE_GATE:
            TraceGate(trace, name, request);
            break;
        case REQ_LOAD:
            TracePortRecord(trace, name, DataOf<PortConfig>(request));
            break;
        case REQ_RECONFIGURE_PORT:
            TracePortRecord(trace, name, DataOf<PortChange>(request));
            break;
        default:
            TraceRequest(trace, name, nullptr, nullptr);
            break;
    }
}

void TraceRequestFinish(DriverRequest* request, int32_t result) {
    DriverContext* context = ContextOf(request);
    if (context == nullptr || request->code == REQ_GET_INFO || !TraceIsOn(&context->trace)) {
        return;
    }
    TraceFile* trace = &context->trace;
    if (result == kFailed) {
        for (const FixedReason& fixed : kFixedReasons) {
            if (fixed.code == request->code) {
                TraceReason(trace, "%s", fixed.reason);
            }
        }
        if (NeedsRecord(request->code) && request->data == nullptr) {
            TraceReason(trace, "the request carries no record");
        }
        if (request->code < 0 || request->code >= kCodeCount || kRequestNames[request->code] == nullptr) {
            TraceReason(trace, "no request has code %d", static_cast<int>(request->code));
        }
    }
    TraceRequestEnd(trace, result);
    if (request->code == REQ_STOP) {
        TraceClose(trace);
    }
}
