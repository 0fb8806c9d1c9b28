#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "driver_loader.h"

namespace qelhost {

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

std::string DefaultDriverPath() {
    char self[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./qelhost");
    return folder.substr(0, folder.rfind('/') + 1) + "libqelkophv.so";
}

}  // namespace qelhost
