// The per-instance working record, the driver-wide values and the names
// every room of the driver shares.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "context/line_state.h"
#include "context/text.h"
#include "os/serial_port.h"
#include "qelkophv/qelkophv.h"
#include "trace/trace.h"

// Request and protocol results.
constexpr int32_t kOk = 0;
constexpr int32_t kFailed = 1;
constexpr int32_t kPortFailed = 2;

constexpr int32_t kLogLevel = 32;

// DriverContext.portMark of a record whose port the driver keeps: "QELK".
constexpr uint32_t kPortMark = 0x4B4C4551;
// DriverContext.portLost of a marked record whose line went away: "LOST".
constexpr uint32_t kPortLostMark = 0x54534F4C;
// PortAbsence.mark once a request wrote it: "DOWN".
constexpr uint32_t kPortAbsenceMark = 0x4E574F44;
// DriverContext.settingsMark once a start or reconfiguration stored the
// settings an open uses: "SETS".
constexpr uint32_t kSettingsMark = 0x53544553;

// Why an instance holds no port, for the reason of every request that then
// finds none.
enum class PortDown : uint8_t { kDisabled, kStartFailed, kOpenFailed, kReconfigureFailed, kClosed };

// The last start, open, reconfiguration or close that left the instance
// without a port: the name it was given, whole, and why.
struct PortAbsence {
    uint32_t mark;  // kPortAbsenceMark: the host need not clear the record
    PortDown down;
    SerialError error;
    LineSettings line;
    char portName[sizeof PortSettings::portName + 1];
};

struct DriverContext {
    int32_t hostTimeout;
    PortHandle port;
    // kPortMark from the first port the driver opened in this record on: the
    // host need not clear the record, and `port` means nothing without it.
    uint32_t portMark;
    uint32_t portEnabled;
    PortSettings portSettings;
    char gateAddress[32];
    uint8_t clientId;
    char replyBuffer[1000];
    char commandBuffer[1000];
    uint8_t commandLength;
    uint8_t replyLength;
    char addrA[20];
    char addrB[20];
    uint32_t commandKind;
    uint32_t bank;
    int32_t letterDigitFlag;
    char letterDigit;
    char prefaceCommand[256];
    int32_t prefaceLength;
    char trailerCommand[256];
    int32_t trailerLength;
    char addrC[256];
    char addrD[256];
    // The instance's trace file; off unless QELKOPHV_TRACE named one at the
    // last REQ_LOAD. Last, so that the fields before keep their places.
    TraceFile trace;
    // A line that went away (meaningful in a marked record only): the dead
    // handle is closed, `port` is kNoPort, and the requests that use the
    // line reopen it from portSettings with the read time-out below, at most
    // once every 2 s counted from the loss.
    uint32_t portLost;
    uint32_t lastReopenMs;     // the low bits of the monotonic clock
    int32_t readTimeoutUnits;  // the read time-out in force, in 10 ms
    // The length of the instance's last transmission, its CR included: what
    // "INCOMING" skips of a line that echoes it. 0 from the start on.
    int32_t lastSendLength;
    // The line's health, for the gate "LINE_STATE", the log and the trace.
    LineRecord line;
    PortAbsence absence;
    // kSettingsMark when portSettings hold the last settings a start or
    // reconfiguration accepted; an open has nothing to open without it.
    uint32_t settingsMark;
};

// Shared by every context of the loaded library; any thread may set it.
extern std::atomic<int32_t> g_readyLevel;

constexpr int32_t kReadyLevel = 500;

// A request handler: one slot of the dispatch table.
using RequestHandler = int32_t (*)(DriverRequest* request);

inline DriverContext* ContextOf(DriverRequest* request) {
    return request->context;
}

// The port the instance holds: kNoPort unless the driver opened it in this
// record, whatever the record's port bytes say.
inline PortHandle HeldPort(const DriverContext* context) {
    return context->portMark == kPortMark ? context->port : kNoPort;
}

// Whether the instance's port went away and waits to be reopened.
inline bool PortIsLost(const DriverContext* context) {
    return context->portMark == kPortMark && context->portLost == kPortLostMark;
}

template <typename Record>
inline Record* DataOf(DriverRequest* request) {
    return static_cast<Record*>(request->data);
}
