#include <stdlib.h>
#include <windows.h>

#include "driver_loader.h"

namespace qelhost {

QelMainFn LoadDriver(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        *error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
        return nullptr;
    }
    FARPROC entry = GetProcAddress(module, "QelMain");
    if (entry == nullptr) {
        *error = path + " has no QelMain";
        return nullptr;
    }
    return reinterpret_cast<QelMainFn>(reinterpret_cast<void*>(entry));
}

void SetDriverVariable(const std::string& name, const std::string& value) {
    // The process's block for GetEnvironmentVariableA, and the C runtime's
    // copy for getenv: msvcrt reads its own.
    SetEnvironmentVariableA(name.c_str(), value.c_str());
    _putenv((name + "=" + value).c_str());
}

std::string DefaultDriverPath() {
    char self[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string folder = length > 0 && length < sizeof self ? std::string(self, length) : std::string(".\\qelhost.exe");
    size_t slash = folder.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : folder.substr(0, slash + 1)) + "QELKOPHV.dll";
}

}  // namespace qelhost
