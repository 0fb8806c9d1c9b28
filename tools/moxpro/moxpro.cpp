// A host library substitute: an in-memory table of gates behind the calls a
// driver makes, a kept log, and a record of every call. It uses no heap, so
// tests can count the allocations a driver makes around it.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "moxpro_control.h"

namespace {

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
    LogLine log[MOX_MAX_LOG];
    int logCount;
    char calls[MOX_MAX_CALLS][160];
    int callCount;
    int refuseClients;
    uint8_t nextClientId;
};

// Listeners outlive MoxReset, so they stay out of the state it clears.
struct Listeners {
    MoxLogListener log;
    void* logUser;
    MoxPutListener put;
    void* putUser;
};

State g_state{{}, 0, {}, 0, {}, 0, 0, 3};
Listeners g_listeners{nullptr, nullptr, nullptr, nullptr};

template <size_t N>
void Copy(char (&destination)[N], const char* source) {
    std::snprintf(destination, N, "%s", source == nullptr ? "" : source);
}

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

Gate* Named(const char* gate) {
    uint32_t id = FindBy(gate, true);
    return ById(id != 0 ? id : FindBy(gate, false));
}

}  // namespace

extern "C" {

MOXPRO_API uint16_t MOXPRO_CDECL MoxMkClient(const char* name, int32_t one, int32_t zero, uint8_t* clientId) {
    Record("MoxMkClient %s %d %d", name, one, zero);
    if (g_state.refuseClients != 0) {
        return 1;
    }
    *clientId = g_state.nextClientId;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateIdByAddressStr(uint32_t client, int32_t one, const char* address,
                                                          uint32_t* gateId) {
    Record("MoxGetGateIdByAddressStr %u %d %s", client, one, address);
    uint32_t id = FindBy(address, false);
    if (id == 0) {
        return 1;
    }
    *gateId = id;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxPutGateStr(uint32_t client, uint32_t gateId, int32_t two, const char* text,
                                               int32_t zero1, int32_t zero2) {
    Record("MoxPutGateStr %u %u %d %d %d", client, gateId, two, zero1, zero2);
    Gate* gate = ById(gateId);
    if (gate == nullptr) {
        return 1;
    }
    Copy(gate->text, text);
    ++gate->putCount;
    if (g_listeners.put != nullptr) {
        g_listeners.put(g_listeners.putUser, gate->address, gate->text);
    }
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateId(uint32_t client, const char* name, uint32_t* gateId) {
    Record("MoxGetGateId %u %s", client, name);
    uint32_t id = FindBy(name, true);
    if (id == 0) {
        return 1;
    }
    *gateId = id;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateFormat(uint32_t client, uint32_t gateId, uint32_t* format) {
    Record("MoxGetGateFormat %u %u", client, gateId);
    Gate* gate = ById(gateId);
    if (gate == nullptr) {
        return 1;
    }
    *format = gate->format;
    return 0;
}

MOXPRO_API uint16_t MOXPRO_CDECL MoxGetGateStr(uint32_t client, int32_t thirteen, uint32_t gateId, char* text100,
                                               uint32_t* out32, uint16_t* out16) {
    Record("MoxGetGateStr %u %d %u", client, thirteen, gateId);
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
    Record("MoxGetGateVal %u %d %u", client, eleven, gateId);
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
    if (g_state.logCount >= MOX_MAX_LOG) {
        return;
    }
    LogLine& line = g_state.log[g_state.logCount++];
    line.level = level;
    va_list args;
    va_start(args, format);
    std::vsnprintf(line.text, sizeof line.text, format, args);
    va_end(args);
    if (g_listeners.log != nullptr) {
        g_listeners.log(g_listeners.logUser, level, line.text);
    }
}

MOXPRO_API void MOXPRO_CDECL MoxReset(void) {
    std::memset(&g_state, 0, sizeof g_state);
    g_state.nextClientId = 3;
}

MOXPRO_API uint32_t MOXPRO_CDECL MoxAddGate(const char* address, const char* name, uint32_t format) {
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
    Gate* gate = Named(name);
    if (gate == nullptr) {
        return 1;
    }
    gate->number = value;
    return 0;
}

MOXPRO_API int MOXPRO_CDECL MoxSetText(const char* name, const char* text) {
    Gate* gate = Named(name);
    if (gate == nullptr) {
        return 1;
    }
    Copy(gate->text, text);
    return 0;
}

MOXPRO_API double MOXPRO_CDECL MoxNumber(const char* name) {
    Gate* gate = Named(name);
    return gate == nullptr ? 0.0 : gate->number;
}

MOXPRO_API const char* MOXPRO_CDECL MoxText(const char* name) {
    Gate* gate = Named(name);
    return gate == nullptr ? "" : gate->text;
}

MOXPRO_API int MOXPRO_CDECL MoxPutCount(const char* name) {
    Gate* gate = Named(name);
    return gate == nullptr ? 0 : gate->putCount;
}

MOXPRO_API void MOXPRO_CDECL MoxRefuseClients(int refuse) {
    g_state.refuseClients = refuse;
}

MOXPRO_API void MOXPRO_CDECL MoxSetNextClientId(uint8_t clientId) {
    g_state.nextClientId = clientId;
}

MOXPRO_API int MOXPRO_CDECL MoxLogCount(void) {
    return g_state.logCount;
}

MOXPRO_API const char* MOXPRO_CDECL MoxLogLine(int index) {
    return index >= 0 && index < g_state.logCount ? g_state.log[index].text : "";
}

MOXPRO_API int MOXPRO_CDECL MoxLogLevel(int index) {
    return index >= 0 && index < g_state.logCount ? g_state.log[index].level : -1;
}

MOXPRO_API int MOXPRO_CDECL MoxCallCount(void) {
    return g_state.callCount;
}

MOXPRO_API const char* MOXPRO_CDECL MoxCall(int index) {
    return index >= 0 && index < g_state.callCount ? g_state.calls[index] : "";
}

MOXPRO_API void MOXPRO_CDECL MoxListenToLog(MoxLogListener listener, void* user) {
    g_listeners.log = listener;
    g_listeners.logUser = user;
}

MOXPRO_API void MOXPRO_CDECL MoxListenToPuts(MoxPutListener listener, void* user) {
    g_listeners.put = listener;
    g_listeners.putUser = user;
}

}  // extern "C"
