// Finds the host library in a Windows host process: the loaded module, else LoadLibraryA.
#include <windows.h>

#include "host/host_library.h"

namespace {
HMODULE g_module = nullptr;
}

bool OpenHostModule() {
    g_module = GetModuleHandleA("MOXPRO.DLL");
    if (g_module == nullptr) {
        g_module = LoadLibraryA("MOXPRO.DLL");
    }
    return g_module != nullptr;
}

void* HostSymbol(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(g_module, name));
}
