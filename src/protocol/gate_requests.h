// REQ_UPDATE_GATE and REQ_WRITE_GATE.
#pragma once

#include <cstdint>

#include "context/context.h"

int32_t UpdateGate(DriverRequest* request);
int32_t WriteGate(DriverRequest* request);
int32_t SendGateCommand(DriverRequest* request);
