#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "driver_library.h"

QelMainFn LoadedQelMain() {
    static QelMainFn entry = [] {
        HMODULE module = LoadLibraryA(QEL_DRIVER_FILE);
        if (module == nullptr) {
            std::fprintf(stderr, "cannot load %s: error %lu\n", QEL_DRIVER_FILE, GetLastError());
            std::abort();
        }
        return reinterpret_cast<QelMainFn>(reinterpret_cast<void*>(GetProcAddress(module, "QelMain")));
    }();
    return entry;
}
