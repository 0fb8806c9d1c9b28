// The requests that describe, start, stop and configure an instance.
#pragma once

#include <cstdint>

#include "context/context.h"

constexpr const char* kDeviceName = "Velnor matrix switcher";
constexpr const char* kClientName = "Velnor Sirex";

int32_t GetInfo(DriverRequest* request);
int32_t LoadDriver(DriverRequest* request);
int32_t WarmStart(DriverRequest* request);
int32_t OpenPortRequest(DriverRequest* request);
int32_t ReconfigurePort(DriverRequest* request);

// The banner, in code page 437, NUL-terminated.
extern const char* const kBanner;
