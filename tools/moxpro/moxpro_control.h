/* Control interface of the host library substitute: what a host simulator or
 * a test uses to set up gates, read what the driver wrote, and read the log. */
#ifndef QELKOPHV_MOXPRO_CONTROL_H
#define QELKOPHV_MOXPRO_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(MOXPRO_BUILDING)
#define MOXPRO_API __declspec(dllexport)
#else
#define MOXPRO_API __declspec(dllimport)
#endif
#define MOXPRO_CDECL __cdecl
#else
#define MOXPRO_API __attribute__((visibility("default")))
#define MOXPRO_CDECL
#endif

enum { MOX_MAX_GATES = 64, MOX_TEXT_SIZE = 512, MOX_MAX_LOG = 256, MOX_LINE_SIZE = 512, MOX_MAX_CALLS = 512 };

/* Forgets every gate, log line, recorded call and setting. */
MOXPRO_API void MOXPRO_CDECL MoxReset(void);

/* Adds a gate; format 7 is a string gate, anything else numeric. Returns its
 * gate id (from 1), or 0 when the table is full. */
MOXPRO_API uint32_t MOXPRO_CDECL MoxAddGate(const char* address, const char* name, uint32_t format);

/* Values by gate name or, when no gate has that name, by address. Each
 * returns 0 on success, 1 when no such gate exists. */
MOXPRO_API int MOXPRO_CDECL MoxSetNumber(const char* gate, double value);
MOXPRO_API int MOXPRO_CDECL MoxSetText(const char* gate, const char* text);
MOXPRO_API double MOXPRO_CDECL MoxNumber(const char* gate);
/* The gate's text, or an empty text for an unknown gate. */
MOXPRO_API const char* MOXPRO_CDECL MoxText(const char* gate);
/* How many times the driver put a text into the gate. */
MOXPRO_API int MOXPRO_CDECL MoxPutCount(const char* gate);

/* Makes MoxMkClient answer a non-zero status while refuse is non-zero. */
MOXPRO_API void MOXPRO_CDECL MoxRefuseClients(int refuse);
/* The client handle the next MoxMkClient hands out. */
MOXPRO_API void MOXPRO_CDECL MoxSetNextClientId(uint8_t clientId);

/* The log kept from every err() call, oldest first. */
MOXPRO_API int MOXPRO_CDECL MoxLogCount(void);
MOXPRO_API const char* MOXPRO_CDECL MoxLogLine(int index);
MOXPRO_API int MOXPRO_CDECL MoxLogLevel(int index);

/* Every call the driver made into the library, one line each, such as
 * "MoxGetGateId 3 LEVEL". */
MOXPRO_API int MOXPRO_CDECL MoxCallCount(void);
MOXPRO_API const char* MOXPRO_CDECL MoxCall(int index);

/* Listeners for a host simulator: every log line, every text put into a
 * gate, each called with the user pointer given with it. Pass NULL to
 * remove. MoxReset keeps them. */
typedef void(MOXPRO_CDECL* MoxLogListener)(void* user, int32_t level, const char* line);
typedef void(MOXPRO_CDECL* MoxPutListener)(void* user, const char* address, const char* text);
MOXPRO_API void MOXPRO_CDECL MoxListenToLog(MoxLogListener listener, void* user);
MOXPRO_API void MOXPRO_CDECL MoxListenToPuts(MoxPutListener listener, void* user);

#ifdef __cplusplus
}
#endif

#endif
