// Finds the host library in a POSIX host process: dlopen by name (the host's
// own search rules apply), dlsym on that handle.
#include <dlfcn.h>

#include <cstdio>

#include "host/host_library.h"

namespace {
constexpr const char* kLibraryName = "libmoxpro.so";
// Set under the binding's lock, before the calls are published.
void* g_module = nullptr;
}  // namespace

bool OpenHostModule(char* where, size_t size) {
    g_module = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (g_module == nullptr) {
        const char* why = dlerror();
        std::snprintf(where, size, "%s is neither loaded nor found by the dynamic loader (%s)", kLibraryName,
                      why != nullptr ? why : "no reason given");
    }
    return g_module != nullptr;
}

// Looked up in the library's own handle, never in the global scope: glibc
// exports an err() of its own that would exit the process.
void* HostSymbol(const char* name) {
    return dlsym(g_module, name);
}
