// The real wait on Windows.
#include <windows.h>

#include "os/sleep.h"

void PlatformSleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}
