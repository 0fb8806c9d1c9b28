// The stand-in's control calls, looked up by name once.
#include "mox_binding.h"

#include <cstdlib>
#include <iostream>
#include <mutex>

#include "driver_loader.h"

namespace qelhost::mox {

namespace {

struct Calls {
    void(MOXPRO_CDECL* reset)(void);
    uint32_t(MOXPRO_CDECL* addGate)(const char*, const char*, uint32_t);
    int(MOXPRO_CDECL* setNumber)(const char*, double);
    int(MOXPRO_CDECL* setText)(const char*, const char*);
    const char*(MOXPRO_CDECL* text)(const char*);
    int(MOXPRO_CDECL* putCount)(const char*);
    void(MOXPRO_CDECL* distinctClients)(int);
    void(MOXPRO_CDECL* listenToLog)(MoxLogListener, void*);
    void(MOXPRO_CDECL* listenToPuts)(MoxPutListener, void*);
};

Calls g_calls{};
bool g_loaded = false;
std::string g_problem;
std::once_flag g_once;

template <typename Function>
bool Find(void* library, const char* name, Function* function, std::string* missing) {
    *function = reinterpret_cast<Function>(LibrarySymbol(library, name));
    if (*function == nullptr) {
        *missing += std::string(missing->empty() ? "" : ", ") + name;
    }
    return *function != nullptr;
}

void LoadOnce() {
    void* library = OpenHostLibrary(&g_problem);
    if (library == nullptr) {
        return;
    }
    std::string missing;
    Find(library, "MoxReset", &g_calls.reset, &missing);
    Find(library, "MoxAddGate", &g_calls.addGate, &missing);
    Find(library, "MoxSetNumber", &g_calls.setNumber, &missing);
    Find(library, "MoxSetText", &g_calls.setText, &missing);
    Find(library, "MoxText", &g_calls.text, &missing);
    Find(library, "MoxPutCount", &g_calls.putCount, &missing);
    Find(library, "MoxDistinctClients", &g_calls.distinctClients, &missing);
    Find(library, "MoxListenToLog", &g_calls.listenToLog, &missing);
    Find(library, "MoxListenToPuts", &g_calls.listenToPuts, &missing);
    g_loaded = missing.empty();
    if (!g_loaded) {
        g_problem = "the host library stand-in lacks " + missing;
    }
}

// Every call goes through here: a run never starts without the library
// (main loads it first), so a missing one here is a fault of the program.
const Calls& Get() {
    std::string problem;
    if (!Load(&problem)) {
        std::cerr << "qelhost: " << problem << "\n";
        std::abort();
    }
    return g_calls;
}

}  // namespace

bool Load(std::string* problem) {
    std::call_once(g_once, LoadOnce);
    if (!g_loaded) {
        *problem = g_problem;
    }
    return g_loaded;
}

void Reset() {
    Get().reset();
}
uint32_t AddGate(const char* address, const char* name, uint32_t format) {
    return Get().addGate(address, name, format);
}
int SetNumber(const char* gate, double value) {
    return Get().setNumber(gate, value);
}
int SetText(const char* gate, const char* text) {
    return Get().setText(gate, text);
}
const char* Text(const char* gate) {
    return Get().text(gate);
}
int PutCount(const char* gate) {
    return Get().putCount(gate);
}
void DistinctClients(int on) {
    Get().distinctClients(on);
}
void ListenToLog(MoxLogListener listener, void* user) {
    Get().listenToLog(listener, user);
}
void ListenToPuts(MoxPutListener listener, void* user) {
    Get().listenToPuts(listener, user);
}

}  // namespace qelhost::mox
