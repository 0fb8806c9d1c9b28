// The host reads these records by 32-bit word position; a layout slip here
// would corrupt host memory without any other sign.
#include <cstddef>

#include "context/context.h"

#if defined(_WIN32) && !defined(_WIN64)
#define QEL_WORD(n) ((n)*4)
static_assert(offsetof(DriverRequest, context) == QEL_WORD(0));
static_assert(offsetof(DriverRequest, code) == QEL_WORD(1));
static_assert(offsetof(DriverRequest, hostWord2) == QEL_WORD(2));
static_assert(offsetof(DriverRequest, hostWord3) == QEL_WORD(3));
static_assert(offsetof(DriverRequest, data) == QEL_WORD(4));

static_assert(offsetof(GateAccess, address) == QEL_WORD(0));
static_assert(offsetof(GateAccess, format) == QEL_WORD(7));
static_assert(offsetof(GateAccess, value) == QEL_WORD(10));

static_assert(offsetof(GateRegistration, address) == QEL_WORD(0));
static_assert(offsetof(GateRegistration, format) == QEL_WORD(2));
static_assert(offsetof(GateRegistration, word4) == QEL_WORD(4));
static_assert(offsetof(GateRegistration, word5) == QEL_WORD(5));
static_assert(offsetof(GateRegistration, word7) == QEL_WORD(7));
static_assert(offsetof(GateRegistration, word8) == QEL_WORD(8));

static_assert(offsetof(DriverInfo, infoWord0) == QEL_WORD(0));
static_assert(offsetof(DriverInfo, deviceName) == QEL_WORD(1));
static_assert(offsetof(DriverInfo, banner) == QEL_WORD(2));
static_assert(offsetof(DriverInfo, contextSize) == QEL_WORD(3));
static_assert(offsetof(DriverInfo, infoWord4) == QEL_WORD(4));
static_assert(offsetof(DriverInfo, lineDefaults) == QEL_WORD(5));
static_assert(offsetof(DriverInfo, infoWord7) == QEL_WORD(7));
static_assert(sizeof(DriverInfo) == QEL_WORD(8));

static_assert(offsetof(PortConfig, portName) == 0);
static_assert(offsetof(PortConfig, enabled) == 12);
static_assert(offsetof(PortConfig, timeout) == 16);
static_assert(offsetof(PortConfig, line) == 20);
static_assert(offsetof(PortChange, portName) == 0);
static_assert(offsetof(PortChange, timeout) == 12);
static_assert(offsetof(PortChange, line) == 16);
static_assert(offsetof(LineSettings, stopBits) == 4);
static_assert(offsetof(LineSettings, parity) == 6);

// The host allocates what REQ_GET_INFO reports; the port's mark sits right
// behind the handle, and the trace file behind the record's own fields.
static_assert(offsetof(DriverContext, port) == QEL_WORD(1));
static_assert(offsetof(DriverContext, portMark) == QEL_WORD(2));
static_assert(offsetof(DriverContext, trace) == 3164);
#endif

static_assert(sizeof(LineSettings) == 8);
// The trace came after the record's own fields; REQ_GET_INFO reports the
// size with it.
static_assert(offsetof(DriverContext, trace) >= offsetof(DriverContext, addrD) + sizeof(DriverContext::addrD));
static_assert(sizeof(PortSettings::portName) == 12);
