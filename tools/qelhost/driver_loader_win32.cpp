#include <stdlib.h>
#include <windows.h>

#include "driver_loader.h"
#include "one_shot.h"

namespace qelhost {

namespace {

std::string OwnFolder() {
    char self[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path = length > 0 && length < sizeof self ? std::string(self, length) : std::string(".\\qelhost.exe");
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

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

std::vector<std::string> DriverCandidates() {
    const std::string folder = OwnFolder();
    return {folder + "QELKOPHV.dll", folder + "..\\driver\\QELKOPHV.dll"};
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string TemporaryTraceFile(std::string* error) {
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || GetTempFileNameA(folder, "qel", 0, file) == 0) {
        *error = "no temporary file (error " + std::to_string(GetLastError()) + ")";
        return std::string();
    }
    return file;
}

// By its full path beside qelhost.exe: the system's search would take the
// working directory and the PATH, where a host's own library may stand.
void* OpenHostLibrary(std::string* problem) {
    const std::string place = OwnFolder() + "MOXPRO.dll";
    if (!FileExists(place)) {
        *problem = "no MOXPRO.dll (the host library stand-in) found; looked for it at " + place;
        return nullptr;
    }
    HMODULE library = LoadLibraryExA(place.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
        *problem =
            "cannot load the host library stand-in " + place + " (OS error " + std::to_string(GetLastError()) + ")";
    }
    return reinterpret_cast<void*>(library);
}

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool StandardInputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

std::vector<bool> QuotedArguments(size_t count) {
    return QuotedArgumentsOf(GetCommandLineA(), count);
}

}  // namespace qelhost
