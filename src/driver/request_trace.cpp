// The request lines of the trace: the name, the gate and its value or the
// port, and at the end the result, with the reason where the request's 1 is
// its fixed answer.
#include "driver/request_trace.h"

#include <atomic>
#include <cstdio>

#include "context/text.h"
#include "driver/requests.h"
#include "host/host_library.h"
#include "protocol/gate_value.h"

namespace {

// Every load numbers its instance, so that the lines of two instances
// writing one file can be told apart.
std::atomic<int32_t> g_traceInstances{0};

void LogTraceStop(int32_t level, const char* text) {
    HostLog(level, "%s", text);
}

const char* NameOf(const RequestKind* kind, int32_t code, char (&unknown)[24]) {
    if (kind != nullptr) {
        return kind->name;
    }
    std::snprintf(unknown, sizeof unknown, "%s%d", kTraceUnknownRequest, static_cast<int>(code));
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
    TraceLineSettings(trace, record->line.baudRate, record->line.dataBits, record->line.stopBits, record->line.parity,
                      record->timeout);
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
    const RequestKind* kind = FindRequest(request->code);
    char unknown[24];
    const char* name = NameOf(kind, request->code, unknown);
    switch (kind != nullptr ? kind->shows : RequestShows::kNothing) {
        case RequestShows::kGate:
            TraceGate(trace, name, request);
            break;
        case RequestShows::kPortConfig:
            TracePortRecord(trace, name, DataOf<PortConfig>(request));
            break;
        case RequestShows::kPortChange:
            TracePortRecord(trace, name, DataOf<PortChange>(request));
            break;
        case RequestShows::kNothing:
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
        const RequestKind* kind = FindRequest(request->code);
        if (kind == nullptr) {
            TraceReason(trace, "no request has code %d", static_cast<int>(request->code));
        } else if (kind->fixedReason != nullptr) {
            TraceReason(trace, "%s", kind->fixedReason);
        }
        if (kind != nullptr && kind->needsRecord && request->data == nullptr) {
            TraceReason(trace, "the request carries no record");
        }
    }
    TraceRequestEnd(trace, result);
    if (request->code == REQ_STOP) {
        TraceClose(trace);
    }
}
