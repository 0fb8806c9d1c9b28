// The host's gate value area: a numeric gate's number is the little-endian
// 16-bit value at bytes 2-3, a string gate's text starts at byte 0. The area
// is host memory of unknown alignment, so the number is moved bytewise.
#pragma once

#include <cstdint>

#include "context/context.h"

inline unsigned char* GateValueOf(DriverRequest* request) {
    return static_cast<unsigned char*>(DataOf<GateAccess>(request)->value);
}

inline uint16_t GateNumber(DriverRequest* request) {
    const unsigned char* area = GateValueOf(request);
    return static_cast<uint16_t>(area[2] | (area[3] << 8));
}

inline void SetGateNumber(DriverRequest* request, uint16_t number) {
    unsigned char* area = GateValueOf(request);
    area[2] = static_cast<unsigned char>(number & 0xFF);
    area[3] = static_cast<unsigned char>(number >> 8);
}

inline char* GateText(DriverRequest* request) {
    return reinterpret_cast<char*>(GateValueOf(request));
}
