#include <stdlib.h>
#include <windows.h>

#include "driver_loader.h"

namespace qelhost {

namespace {

std::string OwnFolder() {
    char self[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path = length > 0 && length < sizeof self ? std::string(self, length) : std::string(".\\qelhost.exe");
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
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

// The command line split as the C runtime splits it (blanks outside quotes
// end an argument; 2N backslashes before a quote are N and the quote
// counts, 2N+1 are N and a literal quote), noting which arguments held a
// quote that counted.
std::vector<bool> QuotedArguments(size_t count) {
    const char* line = GetCommandLineA();
    std::vector<bool> quoted;
    bool inQuotes = false;
    // The program's name: quotes only group, backslashes are plain.
    while (*line != '\0' && (inQuotes || !IsBlank(*line))) {
        inQuotes = *line == '"' ? !inQuotes : inQuotes;
        ++line;
    }
    while (true) {
        while (IsBlank(*line)) {
            ++line;
        }
        if (*line == '\0') {
            break;
        }
        bool held = false;
        inQuotes = false;
        while (*line != '\0' && (inQuotes || !IsBlank(*line))) {
            size_t backslashes = 0;
            while (*line == '\\') {
                ++backslashes;
                ++line;
            }
            if (*line == '\0' || (!inQuotes && IsBlank(*line))) {
                break;
            }
            if (*line == '"' && backslashes % 2 == 0) {
                inQuotes = !inQuotes;
                held = true;
            }
            ++line;
        }
        quoted.push_back(held);
    }
    quoted.resize(count, false);
    return quoted;
}

}  // namespace qelhost
