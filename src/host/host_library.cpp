// The host calls, resolved at a start and published once, and wrappers
// that report a missing library or call.
#include "host/host_library.h"

#include <atomic>
#include <cstdio>

#include "os/clock_lock.h"

namespace {

// Filled once, under the lock, before g_published points at it; never
// changed afterwards, so a reader that sees the pointer sees every call.
HostLibrary g_found;
constexpr HostLibrary kNoHost{};
std::atomic<const HostLibrary*> g_published{nullptr};
ProcessLock g_resolveLock = QEL_PROCESS_LOCK_INIT;
// Where the last failed search looked (under the lock).
char g_where[400];

template <typename Call>
void Bind(const char* name, Call** slot) {
    *slot = reinterpret_cast<Call*>(HostSymbol(name));
}

bool ResolveHostLibrary(HostLibrary* library, char* where, size_t size) {
    if (!OpenHostModule(where, size)) {
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

const HostLibrary& Host() {
    const HostLibrary* published = g_published.load(std::memory_order_acquire);
    return published != nullptr ? *published : kNoHost;
}

// Looked for at each start until found, so that a host that loads its
// library late is found at its next start; never rebound once found.
bool FindHostLibrary() {
    if (g_published.load(std::memory_order_acquire) != nullptr) {
        return true;
    }
    LockProcess(&g_resolveLock);
    bool found = g_published.load(std::memory_order_acquire) != nullptr;
    if (!found && ResolveHostLibrary(&g_found, g_where, sizeof g_where)) {
        g_where[0] = '\0';
        g_published.store(&g_found, std::memory_order_release);
        found = true;
    }
    UnlockProcess(&g_resolveLock);
    return found;
}

void HostLibraryWhere(char* where, size_t size) {
    if (size == 0) {
        return;
    }
    LockProcess(&g_resolveLock);
    std::snprintf(where, size, "%s", g_where);
    UnlockProcess(&g_resolveLock);
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

void HostPutGateText(uint32_t client, const char* address, const char* text) {
    uint32_t gateId = 0;
    if (HostGetGateIdByAddressStr(client, 1, address, &gateId) == 0) {
        HostPutGateStr(client, gateId, 2, text, 0, 0);
    }
}
