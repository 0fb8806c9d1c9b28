// Finds the host library in a Windows host process: the module the host has
// loaded, else the file beside the host's program, by its full path.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host/host_library.h"

namespace {

constexpr char kLibraryName[] = "MOXPRO.DLL";
// Set under the binding's lock, before the calls are published.
HMODULE g_module = nullptr;

// The library's full path in the folder of the host's program; false when
// it does not fit.
bool PathBesideProgram(char* path, size_t size) {
    const DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(size));
    if (length == 0 || length >= size) {
        return false;
    }
    char* slash = std::strrchr(path, '\\');
    char* other = std::strrchr(path, '/');
    char* end = other > slash ? other : slash;
    const size_t folderLength = end != nullptr ? static_cast<size_t>(end - path) + 1 : 0;
    if (folderLength + sizeof kLibraryName > size) {
        return false;
    }
    std::memcpy(path + folderLength, kLibraryName, sizeof kLibraryName);
    return true;
}

}  // namespace

// Never by bare name: that would search the working directory and the PATH,
// where anyone may have put a library of that name.
bool OpenHostModule(char* where, size_t size) {
    g_module = GetModuleHandleA(kLibraryName);
    if (g_module != nullptr) {
        return true;
    }
    char path[MAX_PATH];
    if (!PathBesideProgram(path, sizeof path)) {
        std::snprintf(where, size, "%s is not loaded in the host process, and the host program's folder is unknown",
                      kLibraryName);
        return false;
    }
    // The library's own imports are looked for beside it first.
    g_module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (g_module == nullptr) {
        std::snprintf(where, size, "%s is not loaded in the host process, and %s cannot be loaded (OS error %lu)",
                      kLibraryName, path, static_cast<unsigned long>(GetLastError()));
    }
    return g_module != nullptr;
}

void* HostSymbol(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(g_module, name));
}
