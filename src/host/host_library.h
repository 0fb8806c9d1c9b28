// The host process library: the eight calls the driver makes into the host.
// They are resolved from the host process at an instance's start, once they
// are found never again; a host without the library makes every call report
// failure and every log call a no-op.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_calls.h"

struct HostLibrary {
    MoxMkClientCall* mkClient;
    MoxGetGateIdByAddressStrCall* getGateIdByAddressStr;
    MoxPutGateStrCall* putGateStr;
    MoxGetGateIdCall* getGateId;
    MoxGetGateFormatCall* getGateFormat;
    MoxGetGateStrCall* getGateStr;
    MoxGetGateValCall* getGateVal;
    MoxErrCall* err;
};

// Status the wrappers report when the host has no such library or call.
constexpr uint16_t kHostMissing = 0xFFFF;

// The resolved calls; each pointer is null when the host lacks it (all of
// them until a start found the library). Safe from any thread.
const HostLibrary& Host();
// At a start: looks for the library unless an earlier start found it, and
// publishes its calls once for every thread. False when it is not found.
bool FindHostLibrary();
// Where the last search that failed looked, for the reason of the start
// (cut to `size` bytes); empty once the library was found.
void HostLibraryWhere(char* where, size_t size);

// Platform part: finds the library in the host process (false when it is not
// there at all, with where it looked in `where`), then looks up one call in
// it (null when missing).
bool OpenHostModule(char* where, size_t size);
void* HostSymbol(const char* name);

uint16_t HostMkClient(const char* name, int32_t one, int32_t zero, uint8_t* clientId);
uint16_t HostGetGateIdByAddressStr(uint32_t client, int32_t one, const char* address, uint32_t* gateId);
uint16_t HostPutGateStr(uint32_t client, uint32_t gateId, int32_t two, const char* text, int32_t zero1, int32_t zero2);
uint16_t HostGetGateId(uint32_t client, const char* name, uint32_t* gateId);
uint16_t HostGetGateFormat(uint32_t client, uint32_t gateId, uint32_t* format);
uint16_t HostGetGateStr(uint32_t client, int32_t thirteen, uint32_t gateId, char* text100, uint32_t* out32,
                        uint16_t* out16);
uint16_t HostGetGateVal(uint32_t client, int32_t eleven, uint32_t gateId, double* value, uint32_t* out32,
                        uint16_t* out16);
// Puts the text into the host's gate of that address through the client,
// when the host has such a gate; a missing gate only skips it.
void HostPutGateText(uint32_t client, const char* address, const char* text);

// One line in the host's log, with the host's own printf-style formatting.
template <typename... Args>
void HostLog(int32_t level, const char* format, Args... args) {
    if (MoxErrCall* err = Host().err) {
        err(level, format, args...);
    }
}
