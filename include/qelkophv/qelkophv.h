/* QELKOPHV: the binary interface between a SCADA host and the driver.
 *
 * The host calls QelMain with a DriverRequest; the request code selects the
 * handler and the data word points to the record that belongs to it. On
 * 32-bit Windows these records have exactly the host's 32-bit word layout. */
#ifndef QELKOPHV_QELKOPHV_H
#define QELKOPHV_QELKOPHV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QEL_CDECL __cdecl
#if defined(QELKOPHV_BUILDING)
#define QELKOPHV_API __declspec(dllexport)
#else
#define QELKOPHV_API
#endif
#else
#define QEL_CDECL
#define QELKOPHV_API __attribute__((visibility("default")))
#endif

enum {
    REQ_LOAD = 1,
    REQ_WARM_START = 2,
    REQ_REGISTER_GATE = 3,
    REQ_NOP = 4,
    REQ_UPDATE_GATE = 5,
    REQ_READ_GATE = 6,
    REQ_WRITE_GATE = 7,
    REQ_BLOCK_WRITE = 10,
    REQ_STOP = 11,
    REQ_CLOSE_PORT = 12,
    REQ_OPEN_PORT = 13,
    REQ_GET_INFO = 14,
    REQ_RECONFIGURE_PORT = 15
};

/* Gate value formats as the host codes them. */
enum { GATE_FORMAT_NUMERIC = 0, GATE_FORMAT_STRING = 7 };

typedef struct DriverContext DriverContext; /* size: REQ_GET_INFO */

typedef struct LineSettings {
    uint16_t baudRate, dataBits, stopBits, parity;
} LineSettings;

typedef struct DriverRequest {
    DriverContext* context;
    int32_t code;
    uint32_t hostWord2;
    uint32_t hostWord3;
    void* data;
} DriverRequest;

typedef struct PortConfig {
    char portName[12];
    uint32_t enabled;
    uint32_t timeout; /* units of 10 ms */
    LineSettings line;
} PortConfig;

typedef struct PortChange {
    char portName[12];
    uint32_t timeout; /* units of 10 ms, 0 = keep */
    LineSettings line;
} PortChange;

typedef struct DriverInfo {
    uint32_t infoWord0;
    const char* deviceName;
    const char* banner;
    uint32_t contextSize;
    uint32_t infoWord4;
    LineSettings lineDefaults;
    uint32_t infoWord7;
} DriverInfo;

/* REQ_UPDATE_GATE, REQ_WRITE_GATE, REQ_READ_GATE.
 * value: the gate's value area; a numeric gate's number is the little-endian
 * uint16_t at bytes 2-3, a string gate's text starts at byte 0. */
typedef struct GateAccess {
    char* address;
    uint32_t hostWords1to6[6];
    uint32_t format;
    uint32_t hostWords8to9[2];
    void* value;
} GateAccess;

/* REQ_REGISTER_GATE */
typedef struct GateRegistration {
    char* address;
    uint32_t word1;
    uint32_t format;
    uint32_t word3;
    uint32_t word4;
    uint32_t word5;
    uint32_t word6;
    uint32_t word7;
    uint32_t word8;
} GateRegistration;

QELKOPHV_API int32_t QEL_CDECL QelMain(DriverRequest* request);

typedef int32_t(QEL_CDECL* QelMainFn)(DriverRequest* request);

#ifdef __cplusplus
}
#endif

#endif
