#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver_loader.h"

namespace qelhost {

namespace {

std::string OwnFolder() {
    char self[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./qelhost");
    return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

QelMainFn LoadDriver(const std::string& path, std::string* error) {
    // A bare file name would make dlopen search the library path; a host
    // names the file it means.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        *error = dlerror();
        return nullptr;
    }
    void* entry = dlsym(module, "QelMain");
    if (entry == nullptr) {
        *error = path + " has no QelMain";
        return nullptr;
    }
    return reinterpret_cast<QelMainFn>(entry);
}

void SetDriverVariable(const std::string& name, const std::string& value) {
    setenv(name.c_str(), value.c_str(), 1);
}

std::vector<std::string> DriverCandidates() {
    const std::string folder = OwnFolder();
    return {folder + "libqelkophv.so", folder + "../lib/libqelkophv.so"};
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void* OpenHostLibrary(std::string* problem) {
    const std::string folder = OwnFolder();
    const std::string places[] = {folder + "libmoxpro.so", folder + "../lib/libmoxpro.so"};
    for (const std::string& place : places) {
        if (FileExists(place)) {
            void* library = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (library == nullptr) {
                *problem = "cannot load the host library stand-in " + place + ": " + dlerror();
            }
            return library;
        }
    }
    *problem = "no libmoxpro.so (the host library stand-in) found; looked for it at " + places[0] + " and " + places[1];
    return nullptr;
}

void* LibrarySymbol(void* library, const char* name) {
    return dlsym(library, name);
}

bool StandardInputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

std::string TemporaryTraceFile(std::string* error) {
    const char* folder = getenv("TMPDIR");
    std::string pattern = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/qelhost-trace.XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) {
        *error = pattern + ": " + std::strerror(errno);
        return std::string();
    }
    close(fd);
    return pattern;
}

std::vector<bool> QuotedArguments(size_t count) {
    return std::vector<bool>(count, false);
}

}  // namespace qelhost
