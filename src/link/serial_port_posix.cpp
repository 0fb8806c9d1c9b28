// Placeholder until the serial port layer lands.
#include "link/serial_port.h"

int32_t ClosePort(DriverRequest*) {
    return 0;
}
