// Gate addresses: which switcher command a gate stands for, and the groups
// of the address that go on the wire.
#pragma once

#include <cstdint>

#include "context/context.h"

// Copies the request's address into gateAddress, cut to fit; false when it
// had to be cut or the request has no context. A missing address copies as
// empty.
bool CopyGateAddress(DriverRequest* request);
// A digit or one of the capitals A-F: the switcher's hex digits.
bool IsUpperHexDigit(char c);
// True when the first `count` characters are all such digits.
bool IsHexText(const char* text, int32_t count);
// 0 when the address is accepted, 1 when it is rejected.
int32_t ParseGateAddress(DriverRequest* request);
// Parses as ParseGateAddress does; true only when the address named a kind,
// so that commandKind and the groups now describe the request's own gate.
bool ParseGateKind(DriverRequest* request);
// 0 for the named addresses of the gate's format, 1 for every other.
int32_t RegisterGate(DriverRequest* request);
