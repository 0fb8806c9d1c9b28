// Finds the host library in a POSIX host process: dlopen by name, dlsym on that handle.
#include <dlfcn.h>

#include "host/host_library.h"

namespace {
void* g_module = nullptr;
}

bool OpenHostModule() {
    g_module = dlopen("libmoxpro.so", RTLD_NOW | RTLD_LOCAL);
    return g_module != nullptr;
}

// Looked up in the library's own handle, never in the global scope: glibc
// exports an err() of its own that would exit the process.
void* HostSymbol(const char* name) {
    return dlsym(g_module, name);
}
