// Each request in the instance's trace: its line before the handler runs
// and its result after. A REQ_LOAD first (re)opens the trace, a REQ_STOP
// closes it after its own line.
#pragma once

#include <cstdint>

#include "context/context.h"

void TraceRequestStart(DriverRequest* request);
void TraceRequestFinish(DriverRequest* request, int32_t result);
