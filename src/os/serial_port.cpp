// What both serial layers share: the pause.
#include "os/serial_port.h"

#include "os/sleep.h"

int32_t Pause(uint32_t milliseconds) {
    SleepMilliseconds(milliseconds);
    return kSerialOk;
}
