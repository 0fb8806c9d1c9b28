// The request codes the host sends, one row each: the one place that says
// what a code is called, which handler answers it, whether it needs the
// host's record, why it answers 1 when that is its fixed answer, and how the
// trace shows it. Dispatch and the request trace read it; so does qelhost.
#pragma once

#include <cstdint>

#include "context/context.h"

// What the trace shows of a request beside its name.
enum class RequestShows : uint8_t {
    kNothing,
    kGate,        // the gate's address, and a write's value
    kPortConfig,  // the port and line of a start (PortConfig)
    kPortChange,  // the port and line of a reconfiguration (PortChange)
};

struct RequestKind {
    int32_t code;
    const char* name;         // as the host's code without "REQ_"
    RequestHandler handler;   // null for a slot no request has
    bool needsRecord;         // its data must point at the host's record
    const char* fixedReason;  // why it answers 1, where 1 is its usual answer
    RequestShows shows;
};

// The row of a request code; null for a code no request has.
const RequestKind* FindRequest(int32_t code);
