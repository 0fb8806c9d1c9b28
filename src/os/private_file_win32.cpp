// A file the driver reads, its handle not inheritable. The msvcrt of old
// Windows knows no mode letter for that, so the flag goes right after the open.
#include <io.h>
#include <windows.h>

#include "os/private_file.h"

FILE* OpenPrivateFile(const char* name) {
    FILE* file = std::fopen(name, "rb");
    if (file != nullptr) {
        SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), HANDLE_FLAG_INHERIT, 0);
    }
    return file;
}
