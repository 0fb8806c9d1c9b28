/* The host process library's calls: the signatures the driver calls and the
 * host library (and its stand-in) defines. Both sides compile against this
 * one header, so a signature that differs fails to build instead of failing
 * at run time; the driver finds each call by the name beside it. Plain C, so
 * that a host written in C can check itself against it too. */
#ifndef QELKOPHV_HOST_CALLS_H
#define QELKOPHV_HOST_CALLS_H

#include <stdint.h>

#if defined(_WIN32)
#define MOX_CDECL __cdecl
#else
#define MOX_CDECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Function types: declare a call as `MoxMkClientCall MoxMkClient;`, hold one
 * as `MoxMkClientCall*`. */
typedef uint16_t MOX_CDECL MoxMkClientCall(const char* name, int32_t one, int32_t zero, uint8_t* clientId);
typedef uint16_t MOX_CDECL MoxGetGateIdByAddressStrCall(uint32_t client, int32_t one, const char* address,
                                                        uint32_t* gateId);
typedef uint16_t MOX_CDECL MoxPutGateStrCall(uint32_t client, uint32_t gateId, int32_t two, const char* text,
                                             int32_t zero1, int32_t zero2);
typedef uint16_t MOX_CDECL MoxGetGateIdCall(uint32_t client, const char* name, uint32_t* gateId);
typedef uint16_t MOX_CDECL MoxGetGateFormatCall(uint32_t client, uint32_t gateId, uint32_t* format);
typedef uint16_t MOX_CDECL MoxGetGateStrCall(uint32_t client, int32_t thirteen, uint32_t gateId, char* text100,
                                             uint32_t* out32, uint16_t* out16);
typedef uint16_t MOX_CDECL MoxGetGateValCall(uint32_t client, int32_t eleven, uint32_t gateId, double* value,
                                             uint32_t* out32, uint16_t* out16);
typedef void MOX_CDECL MoxErrCall(int32_t level, const char* format, ...);

#ifdef __cplusplus
}
#endif

#endif
