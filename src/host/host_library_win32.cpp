#include <windows.h>

#include "host/host_library.h"

namespace {

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn* slot) {
    *slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool ResolveHostLibrary(HostLibrary* library) {
    HMODULE module = GetModuleHandleA("MOXPRO.DLL");
    if (module == nullptr) {
        module = LoadLibraryA("MOXPRO.DLL");
    }
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
