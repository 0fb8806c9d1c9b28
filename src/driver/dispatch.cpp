// The exported entry point and its fixed table of request handlers.
#include <cctype>

#include "context/context.h"
#include "driver/lifecycle.h"
#include "driver/request_trace.h"
#include "host/host_library.h"
#include "link/line_watch.h"
#include "link/port.h"
#include "protocol/address_parser.h"
#include "protocol/gate_requests.h"

namespace {

int32_t Nop(DriverRequest*) {
    return kFailed;
}

int32_t ReadGate(DriverRequest* request) {
    const GateAccess* access = DataOf<GateAccess>(request);
    char* address = access != nullptr ? access->address : nullptr;
    if (address == nullptr) {
        HostLog(kLogLevel, "QELPA: QEL does not support read. Gate= %s", "");
        return kFailed;
    }
    for (char* c = address; *c != '\0'; ++c) {
        *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    HostLog(kLogLevel, "QELPA: QEL does not support read. Gate= %s", address);
    return kFailed;
}

int32_t BlockWrite(DriverRequest*) {
    HostLog(kLogLevel, "QELPAX: Block Write not supported!");
    return kFailed;
}

constexpr int32_t kSlotCount = 16;

constexpr RequestHandler kHandlers[kSlotCount] = {
    nullptr,          // 0
    LoadDriver,       // REQ_LOAD
    WarmStart,        // REQ_WARM_START
    RegisterGate,     // REQ_REGISTER_GATE
    Nop,              // REQ_NOP
    UpdateGate,       // REQ_UPDATE_GATE
    ReadGate,         // REQ_READ_GATE
    WriteGate,        // REQ_WRITE_GATE
    nullptr,          // 8
    nullptr,          // 9
    BlockWrite,       // REQ_BLOCK_WRITE
    ClosePort,        // REQ_STOP
    ClosePort,        // REQ_CLOSE_PORT
    OpenPortRequest,  // REQ_OPEN_PORT
    GetInfo,          // REQ_GET_INFO
    ReconfigurePort,  // REQ_RECONFIGURE_PORT
};

}  // namespace

int32_t QEL_CDECL QelMain(DriverRequest* request) {
    if (request == nullptr) {
        return kFailed;
    }
    const int32_t code = request->code;
    // The host library is looked for once per start, never per request, and
    // before the trace opens, so that a trace that cannot be written is
    // logged at the first start too.
    if (code == REQ_LOAD) {
        FindHostLibrary();
    }
    TraceRequestStart(request);
    WatchRequestStart(request);
    const bool handled = code >= 0 && code < kSlotCount && kHandlers[code] != nullptr;
    const int32_t result = handled ? kHandlers[code](request) : kFailed;
    WatchRequestEnd(request, result);
    TraceRequestFinish(request, result);
    return result;
}
