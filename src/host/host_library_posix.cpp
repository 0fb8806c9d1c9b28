#include <dlfcn.h>

#include "host/host_library.h"

namespace {

template <typename Fn>
void Bind(void* module, const char* name, Fn* slot) {
    *slot = reinterpret_cast<Fn>(dlsym(module, name));
}

}  // namespace

// Symbols are taken from the library's own handle, never from the global
// scope: glibc exports an err() of its own that would exit the process.
bool ResolveHostLibrary(HostLibrary* library) {
    void* module = dlopen("libmoxpro.so", RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        return false;
    }
    Bind(module, "MoxMkClient", &library->mkClient);
    Bind(module, "MoxGetGateIdByAddressStr", &library->getGateIdByAddressStr);
    Bind(module, "MoxPutGateStr", &library->putGateStr);
    Bind(module, "MoxGetGateId", &library->getGateId);
    Bind(module, "MoxGetGateFormat", &library->getGateFormat);
    Bind(module, "MoxGetGateStr", &library->getGateStr);
    Bind(module, "MoxGetGateVal", &library->getGateVal);
    Bind(module, "err", &library->err);
    return true;
}
