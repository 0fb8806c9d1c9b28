// A file the driver reads, closed on exec.
#include "os/private_file.h"

FILE* OpenPrivateFile(const char* name) {
    return std::fopen(name, "rbe");
}
