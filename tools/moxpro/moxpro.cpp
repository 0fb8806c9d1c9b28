// A host library substitute: an in-memory table of gates behind the calls a
// driver makes, a kept log, and a record of every call with its client. It
// uses no heap, so tests can count the allocations a driver makes around
// it. One lock guards the state: instances on threads of their own call in
// at once. Listeners are called outside it, so that they may call back.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "moxpro_control.h"

namespace {

constexpr int kClients = 256;

struct Gate {
    char address[64];
    char name[64];
    uint32_t format;
    double number;
    char text[MOX_TEXT_SIZE];
    int putCount;
};

struct LogLine {
    int32_t level;
    char text[MOX_LINE_SIZE];
};

struct State {
    Gate gates[MOX_MAX_GATES];
    int gateCount;
    LogLine log[MOX_MAX_LOG];  // the newest lines, a ring from logStart
    int logStart;
    int logCount;
    int logDropped;
    char calls[MOX_MAX_CALLS][160];
    int callCount;
    int refuseClients;
    uint8_t nextClientId;
    int distinctClients;
    int clientCalls[kClients][MOX_CALL_KINDS];
    int gateCalls[MOX_MAX_GATES][kClients];
};

// Listeners outlive MoxReset, so they stay out of the state it clears.
struct Listeners {
    MoxLogListener log;
    void* logUser;
    MoxPutListener put;
    void* putUser;
    MoxClientPutListener clientPut;
    void* clientPutUser;
};

constexpr uint8_t kFirstClientId = 3;

std::mutex g_mutex;
State g_state{{}, 0, {}, 0, 0, 0, {}, 0, 0, kFirstClientId, 0, {}, {}};
Listeners g_listeners{};

template <size_t N>
void Copy(char (&destination)[N], const char* source) {
    std::snprintf(destination, N, "%s", source == nullptr ? "" : source);
}

// The lock is held by the caller from here down to the end of the namespace.
void Record(const char* format, ...) {
    if (g_state.callCount >= MOX_MAX_CALLS) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_state.calls[g_state.callCount], sizeof g_state.calls[0], format, args);
    va_end(args);
    ++g_state.callCount;
}

// A client beyond the 8 bits a handle has is kept only in the call log.
void Count(uint32_t client, int kind, uint32_t gateId) {
    if (client >= static_cast<uint32_t>(kClients)) {
        return;
    }
    ++g_state.clientCalls[client][kind];
    if (gateId != 0 && gateId <= static_cast<uint32_t>(g_state.gateCount)) {
        ++g_state.gateCalls[gateId - 1][client];
    }
}

Gate* ById(uint32_t id) {
    if (id == 0 || id > static_cast<uint32_t>(g_state.gateCount)) {
        return nullptr;
    }
    return &g_state.gates[id - 1];
}

uint32_t FindBy(const char* text, bool byName) {
    for (int i = 0; i < g_state.gateCount; ++i) {
        const Gate& gate = g_state.gates[i];
        if (std::strcmp(byName ? gate.name : gate.address, text) == 0) {
            return static_cast<uint32_t>(i + 1);
        }
    }
    return 0;
}

uint32_t NamedId(const char* gate) {
    uint32_t id = FindBy(gate, true);
    return id != 0 ? id : FindBy(gate, false);
}

Gate* Named(const char* gate) {
    return ById(NamedId(gate));
}

}  // namespace

extern "C" {

MOXPRO_API uint16_t MOXPRO_CDECL MoxMkClient(const char* name, int32_t one, int32_t zero, uint8_t* clientId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Record("MoxMkClient %s %d %d", name, one, zero);
    if (g_state.refuseClients != 0) {
        return 1;
    }
    *clientId = g_state.nextClientId;
    Count(*clientId, MOX_CALL_MK_CLIENT, 0);
    if (g_state.distinctClients != 0) {
        g_state.nextClientId = static_cast<uint8_t>(g_state.nextClientId == 255 ? 1 : g_state.nextClientId + 1);
    }
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateIdByAddressStr(uint32_t client, int32_t one, const char* address,
                                                          uint32_t* gateId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Record("MoxGetGateIdByAddressStr %u %d %s", client, one, address);
    uint32_t id = FindBy(address, false);
    Count(client, MOX_CALL_GATE_ID_BY_ADDRESS, id);
    if (id == 0) {
        return 1;
    }
    *gateId = id;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxPutGateStr(uint32_t client, uint32_t gateId, int32_t two, const char* text,
                                               int32_t zero1, int32_t zero2) {
    char address[sizeof Gate::address];
    char stored[MOX_TEXT_SIZE];
    Listeners listeners{};
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        Record("MoxPutGateStr %u %u %d %d %d", client, gateId, two, zero1, zero2);
        Count(client, MOX_CALL_PUT_GATE_STR, gateId);
        Gate* gate = ById(gateId);
        if (gate == nullptr) {
            return 1;
        }
        Copy(gate->text, text);
        ++gate->putCount;
        Copy(address, gate->address);
        Copy(stored, gate->text);
        listeners = g_listeners;
    }
    if (listeners.put != nullptr) {
        listeners.put(listeners.putUser, address, stored);
    }
    if (listeners.clientPut != nullptr) {
        listeners.clientPut(listeners.clientPutUser, client, address, stored);
    }
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateId(uint32_t client, const char* name, uint32_t* gateId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Record("MoxGetGateId %u %s", client, name);
    uint32_t id = FindBy(name, true);
    Count(client, MOX_CALL_GATE_ID, id);
    if (id == 0) {
        return 1;
    }
    *gateId = id;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateFormat(uint32_t client, uint32_t gateId, uint32_t* format) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Record("MoxGetGateFormat %u %u", client, gateId);
    Count(client, MOX_CALL_GATE_FORMAT, gateId);
    Gate* gate = ById(gateId);
    if (gate == nullptr) {
        return 1;
    }
    *format = gate->format;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateStr(uint32_t client, int32_t thirteen, uint32_t gateId, char* text100,
                                               uint32_t* out32, uint16_t* out16) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Record("MoxGetGateStr %u %d %u", client, thirteen, gateId);
    Count(client, MOX_CALL_GATE_STR, gateId);
    Gate* gate = ById(gateId);
    if (gate == nullptr) {
        return 1;
    }
    size_t length = std::strlen(gate->text);
    length = length < 99 ? length : 99;
    std::memcpy(text100, gate->text, length);
    text100[length] = '\0';
    *out32 = 0;
    *out16 = 0;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateVal(uint32_t client, int32_t eleven, uint32_t gateId, double* value,
                                               uint32_t* out32, uint16_t* out16) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Record("MoxGetGateVal %u %d %u", client, eleven, gateId);
    Count(client, MOX_CALL_GATE_VAL, gateId);
    Gate* gate = ById(gateId);
    if (gate == nullptr) {
        return 1;
    }
    *value = gate->number;
    *out32 = 0;
    *out16 = 0;
    return 0;
}

MOXPRO_API void MOXPRO_CDECL err(int32_t level, const char* format, ...) {
    char text[MOX_LINE_SIZE];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Listeners listeners{};
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        // A long run keeps the newest lines and counts the older ones it
        // let go; the listener hears every line.
        LogLine& line = g_state.log[(g_state.logStart + g_state.logCount) % MOX_MAX_LOG];
        if (g_state.logCount < MOX_MAX_LOG) {
            ++g_state.logCount;
        } else {
            g_state.logStart = (g_state.logStart + 1) % MOX_MAX_LOG;
            ++g_state.logDropped;
        }
        line.level = level;
        Copy(line.text, text);
        listeners = g_listeners;
    }
    if (listeners.log != nullptr) {
        listeners.log(listeners.logUser, level, text);
    }
}

MOXPRO_API void MOXPRO_CDECL MoxReset(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::memset(&g_state, 0, sizeof g_state);
    g_state.nextClientId = kFirstClientId;
}

MOXPRO_API uint32_t MOXPRO_CDECL MoxAddGate(const char* address, const char* name, uint32_t format) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_state.gateCount >= MOX_MAX_GATES) {
        return 0;
    }
    Gate& gate = g_state.gates[g_state.gateCount++];
    gate = Gate{};
    Copy(gate.address, address);
    Copy(gate.name, name);
    gate.format = format;
    return static_cast<uint32_t>(g_state.gateCount);
}

MOXPRO_API int MOXPRO_CDECL MoxSetNumber(const char* name, double value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Gate* gate = Named(name);
    if (gate == nullptr) {
        return 1;
    }
    gate->number = value;
    return 0;
}

MOXPRO_API int MOXPRO_CDECL MoxSetText(const char* name, const char* text) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Gate* gate = Named(name);
    if (gate == nullptr) {
        return 1;
    }
    Copy(gate->text, text);
    return 0;
}

MOXPRO_API double MOXPRO_CDECL MoxNumber(const char* name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Gate* gate = Named(name);
    return gate == nullptr ? 0.0 : gate->number;
}

MOXPRO_API const char* MOXPRO_CDECL MoxText(const char* name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Gate* gate = Named(name);
    return gate == nullptr ? "" : gate->text;
}

MOXPRO_API int MOXPRO_CDECL MoxPutCount(const char* name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Gate* gate = Named(name);
    return gate == nullptr ? 0 : gate->putCount;
}

MOXPRO_API void MOXPRO_CDECL MoxRefuseClients(int refuse) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.refuseClients = refuse;
}

MOXPRO_API void MOXPRO_CDECL MoxSetNextClientId(uint8_t clientId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.nextClientId = clientId;
}

MOXPRO_API void MOXPRO_CDECL MoxDistinctClients(int on) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_state.distinctClients = on;
}

MOXPRO_API int MOXPRO_CDECL MoxClientCallCount(uint8_t client, int kind) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return kind >= 0 && kind < MOX_CALL_KINDS ? g_state.clientCalls[client][kind] : 0;
}

MOXPRO_API int MOXPRO_CDECL MoxGateCallCount(const char* gate, uint8_t client) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const uint32_t id = NamedId(gate);
    return id == 0 ? 0 : g_state.gateCalls[id - 1][client];
}

MOXPRO_API int MOXPRO_CDECL MoxLogCount(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.logCount;
}

MOXPRO_API const char* MOXPRO_CDECL MoxLogLine(int index) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return index >= 0 && index < g_state.logCount ? g_state.log[(g_state.logStart + index) % MOX_MAX_LOG].text : "";
}

MOXPRO_API int MOXPRO_CDECL MoxLogLevel(int index) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return index >= 0 && index < g_state.logCount ? g_state.log[(g_state.logStart + index) % MOX_MAX_LOG].level : -1;
}

MOXPRO_API int MOXPRO_CDECL MoxLogDropped(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.logDropped;
}

MOXPRO_API int MOXPRO_CDECL MoxCallCount(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_state.callCount;
}

MOXPRO_API const char* MOXPRO_CDECL MoxCall(int index) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return index >= 0 && index < g_state.callCount ? g_state.calls[index] : "";
}

MOXPRO_API void MOXPRO_CDECL MoxListenToLog(MoxLogListener listener, void* user) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listeners.log = listener;
    g_listeners.logUser = user;
}

MOXPRO_API void MOXPRO_CDECL MoxListenToPuts(MoxPutListener listener, void* user) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listeners.put = listener;
    g_listeners.putUser = user;
}

MOXPRO_API void MOXPRO_CDECL MoxListenToClientPuts(MoxClientPutListener listener, void* user) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_listeners.clientPut = listener;
    g_listeners.clientPutUser = user;
}

}  // extern "C"
