#include <windows.h>

#include "link/sleep.h"

void PlatformSleep(uint32_t milliseconds) {
    Sleep(milliseconds);
}
