// The exported entry point: each request to its handler in the request table.
#include "context/context.h"
#include "driver/request_trace.h"
#include "driver/requests.h"
#include "host/host_library.h"
#include "link/line_watch.h"

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
    const RequestKind* kind = FindRequest(code);
    const int32_t result = kind != nullptr ? kind->handler(request) : kFailed;
    WatchRequestEnd(request, result);
    TraceRequestFinish(request, result);
    return result;
}
