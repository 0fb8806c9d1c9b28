// The host calls, resolved on first use, and wrappers that report a missing library or call.
#include "host/host_library.h"

namespace {

HostLibrary g_host;
bool g_hostResolved = false;

template <typename Fn>
void Bind(const char* name, Fn* slot) {
    *slot = reinterpret_cast<Fn>(HostSymbol(name));
}

bool ResolveHostLibrary(HostLibrary* library) {
    if (!OpenHostModule()) {
        return false;
    }
    Bind("MoxMkClient", &library->mkClient);
    Bind("MoxGetGateIdByAddressStr", &library->getGateIdByAddressStr);
    Bind("MoxPutGateStr", &library->putGateStr);
    Bind("MoxGetGateId", &library->getGateId);
    Bind("MoxGetGateFormat", &library->getGateFormat);
    Bind("MoxGetGateStr", &library->getGateStr);
    Bind("MoxGetGateVal", &library->getGateVal);
    Bind("err", &library->err);
    return true;
}

}  // namespace

// Resolved on first use and kept once found; a host that loads its library
// late is still found by a later request.
const HostLibrary& Host() {
    if (!g_hostResolved) {
        HostLibrary found{};
        if (ResolveHostLibrary(&found)) {
            g_host = found;
            g_hostResolved = true;
        }
    }
    return g_host;
}

uint16_t HostMkClient(const char* name, int32_t one, int32_t zero, uint8_t* clientId) {
    auto call = Host().mkClient;
    return call ? call(name, one, zero, clientId) : kHostMissing;
}

uint16_t HostGetGateIdByAddressStr(uint32_t client, int32_t one, const char* address, uint32_t* gateId) {
    auto call = Host().getGateIdByAddressStr;
    return call ? call(client, one, address, gateId) : kHostMissing;
}

uint16_t HostPutGateStr(uint32_t client, uint32_t gateId, int32_t two, const char* text, int32_t zero1, int32_t zero2) {
    auto call = Host().putGateStr;
    return call ? call(client, gateId, two, text, zero1, zero2) : kHostMissing;
}

uint16_t HostGetGateId(uint32_t client, const char* name, uint32_t* gateId) {
    auto call = Host().getGateId;
    return call ? call(client, name, gateId) : kHostMissing;
}

uint16_t HostGetGateFormat(uint32_t client, uint32_t gateId, uint32_t* format) {
    auto call = Host().getGateFormat;
    return call ? call(client, gateId, format) : kHostMissing;
}

uint16_t HostGetGateStr(uint32_t client, int32_t thirteen, uint32_t gateId, char* text100, uint32_t* out32,
                        uint16_t* out16) {
    auto call = Host().getGateStr;
    return call ? call(client, thirteen, gateId, text100, out32, out16) : kHostMissing;
}

uint16_t HostGetGateVal(uint32_t client, int32_t eleven, uint32_t gateId, double* value, uint32_t* out32,
                        uint16_t* out16) {
    auto call = Host().getGateVal;
    return call ? call(client, eleven, gateId, value, out32, out16) : kHostMissing;
}
