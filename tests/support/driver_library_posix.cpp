#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver_library.h"

QelMainFn LoadedQelMain() {
    static QelMainFn entry = [] {
        char self[PATH_MAX] = {};
        ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string path = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./x");
        path = path.substr(0, path.rfind('/') + 1) + QEL_DRIVER_FILE;
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
            std::abort();
        }
        return reinterpret_cast<QelMainFn>(dlsym(module, "QelMain"));
    }();
    return entry;
}
