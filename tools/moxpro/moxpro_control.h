/* Control interface of the host library substitute: what a host simulator or
 * a test uses to set up gates, read what the driver wrote, and read the log. */
#ifndef QELKOPHV_MOXPRO_CONTROL_H
#define QELKOPHV_MOXPRO_CONTROL_H

#include <stdint.h>

#include "host/host_calls.h"

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

/* The host library's calls as the driver calls them: a definition below
 * that differs from these fails to build. */
MOXPRO_API MoxMkClientCall MoxMkClient;
MOXPRO_API MoxGetGateIdByAddressStrCall MoxGetGateIdByAddressStr;
MOXPRO_API MoxPutGateStrCall MoxPutGateStr;
MOXPRO_API MoxGetGateIdCall MoxGetGateId;
MOXPRO_API MoxGetGateFormatCall MoxGetGateFormat;
MOXPRO_API MoxGetGateStrCall MoxGetGateStr;
MOXPRO_API MoxGetGateValCall MoxGetGateVal;
MOXPRO_API MoxErrCall err;

enum { MOX_MAX_GATES = 64, MOX_TEXT_SIZE = 512, MOX_MAX_LOG = 256, MOX_LINE_SIZE = 512, MOX_MAX_CALLS = 512 };

/* Every call below is safe from several threads at once: a host serves its
 * driver instances from threads of their own. A text handed back (MoxText,
 * MoxLogLine, MoxCall) stays the library's own: read it while the driver is
 * idle. */

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
/* While on, each registration gets a handle of its own, as a host gives
 * each driver instance: the next one from MoxSetNextClientId's upward
 * (0 skipped, 255 followed by 1). Off, every registration gets the same
 * handle. MoxReset switches it off. */
MOXPRO_API void MOXPRO_CDECL MoxDistinctClients(int on);

/* The log kept from err() calls, oldest first: the newest MOX_MAX_LOG
 * lines; MoxLogDropped says how many older ones were let go. A log
 * listener hears every line. */
MOXPRO_API int MOXPRO_CDECL MoxLogCount(void);
MOXPRO_API const char* MOXPRO_CDECL MoxLogLine(int index);
MOXPRO_API int MOXPRO_CDECL MoxLogLevel(int index);
MOXPRO_API int MOXPRO_CDECL MoxLogDropped(void);

/* Every call the driver made into the library, one line each, such as
 * "MoxGetGateId 3 LEVEL". */
MOXPRO_API int MOXPRO_CDECL MoxCallCount(void);
MOXPRO_API const char* MOXPRO_CDECL MoxCall(int index);

/* The calls of each client, counted by kind, and the calls that reached
 * each gate through each client: look-ups by name or address, format and
 * value reads, puts. Counters, so that they stay the same size however long
 * the driver runs; MoxReset clears them. */
enum {
    MOX_CALL_MK_CLIENT,
    MOX_CALL_GATE_ID_BY_ADDRESS,
    MOX_CALL_PUT_GATE_STR,
    MOX_CALL_GATE_ID,
    MOX_CALL_GATE_FORMAT,
    MOX_CALL_GATE_STR,
    MOX_CALL_GATE_VAL,
    MOX_CALL_KINDS
};
/* Calls of the kind the client made; MOX_CALL_MK_CLIENT counts the
 * registrations that were handed this client. */
MOXPRO_API int MOXPRO_CDECL MoxClientCallCount(uint8_t client, int kind);
/* Calls that reached the gate (by name or, when no gate has that name, by
 * address) through the client. */
MOXPRO_API int MOXPRO_CDECL MoxGateCallCount(const char* gate, uint8_t client);

/* Listeners for a host simulator: every log line, every text put into a
 * gate, each called with the user pointer given with it. Pass NULL to
 * remove. MoxReset keeps them. */
typedef void(MOXPRO_CDECL* MoxLogListener)(void* user, int32_t level, const char* line);
typedef void(MOXPRO_CDECL* MoxPutListener)(void* user, const char* address, const char* text);
MOXPRO_API void MOXPRO_CDECL MoxListenToLog(MoxLogListener listener, void* user);
MOXPRO_API void MOXPRO_CDECL MoxListenToPuts(MoxPutListener listener, void* user);
/* As MoxListenToPuts, with the client the put came through; called on the
 * thread that made the put, after the put listener. */
typedef void(MOXPRO_CDECL* MoxClientPutListener)(void* user, uint32_t client, const char* address, const char* text);
MOXPRO_API void MOXPRO_CDECL MoxListenToClientPuts(MoxClientPutListener listener, void* user);

#ifdef __cplusplus
}
#endif

#endif
