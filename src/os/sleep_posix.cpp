// The real wait on POSIX systems.
#include <time.h>

#include <cerrno>

#include "os/sleep.h"

void PlatformSleep(uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
