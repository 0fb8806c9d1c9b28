// Gate addresses: which switcher command a gate stands for, and the groups
// of the address that go on the wire.
#pragma once

#include <cstdint>

#include "driver/context.h"

void CopyGateAddress(DriverRequest* request);
bool IsHexText(const char* text, int32_t count);
int32_t ParseGateAddress(DriverRequest* request);
int32_t RegisterGate(DriverRequest* request);
