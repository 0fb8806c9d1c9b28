// Line settings of an open POSIX serial device. Private to the serial layer.
#pragma once

#include <cstdint>

#include "os/serial_port.h"

// Raw bytes with the rate, framing and handshake asked for, and DTR and RTS
// set. kSerialOk, or the step that failed with errno telling why: settings
// termios cannot express, and settings the device dropped, give EINVAL.
int32_t ConfigureLine(int fd, const LineSettings& line, uint16_t lineControl);
