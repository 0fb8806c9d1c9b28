// Link I/O: one message out with its closing CR, one timed read in, and the
// traffic echoed into the host gates "OUTGOING" and "INCOMING".
#include "link/link_io.h"

#include <cstring>

#include "context/text.h"
#include "host/host_library.h"
#include "link/line_watch.h"
#include "link/port.h"
#include "os/serial_port.h"

namespace {

constexpr const char* kOutgoingGate = "OUTGOING";
constexpr const char* kIncomingGate = "INCOMING";

constexpr size_t kEchoTextSize = 256;
constexpr int32_t kEchoCopyLimit = 200;

// A fixed-length read first fills the buffer with these, so that a short or
// empty reply never leaves an earlier reply's bytes where they would be judged.
constexpr int32_t kFillCount = 20;
constexpr char kFillDigit = '0';

// A marked line end is the CR and LF as the trace shows them: "<CR><LF>".
constexpr size_t kLineEndMarkerLength = 2 * (kVisibleByteSize - 1);

static_assert(kEchoCopyLimit + kLineEndMarkerLength + 1 <= kEchoTextSize, "a marked echo must fit its text");

int32_t Smaller(int32_t a, int32_t b) {
    return a < b ? a : b;
}

// Why a transmission did not go, for the trace.
void ExplainFailedWrite(DriverContext* context, uint32_t written, int32_t total) {
    TraceFile* trace = &context->trace;
    if (!TraceIsOn(trace)) {
        return;
    }
    char port[sizeof context->portSettings.portName + 1];
    CopyText(port, context->portSettings.portName, sizeof context->portSettings.portName);
    if (PortIsLost(context)) {
        const uint32_t due = ReopenDueInMs(context);
        TraceReason(trace, "port %s lost, next reopen try in %u.%u s", port, static_cast<unsigned>(due / 1000u),
                    static_cast<unsigned>(due % 1000u / 100u));
        return;
    }
    if (HeldPort(context) == kNoPort) {
        TraceNoPortReason(context);
        return;
    }
    // The port's own error: only this instance's calls use its handle.
    const int32_t error = SerialLastError(context->port);
    if (error == 0) {
        TraceReason(trace, "line write on %s fell short: %u of %d bytes went", port, static_cast<unsigned>(written),
                    static_cast<int>(total));
        return;
    }
    char text[160];
    TraceReason(trace, "line write failed on %s after %u of %d bytes (OS error %d: %s)", port,
                static_cast<unsigned>(written), static_cast<int>(total), static_cast<int>(error),
                SerialErrorText(error, text, sizeof text));
}

}  // namespace

int32_t LinkSend(DriverContext* context, const char* bytes, int32_t length) {
    // The transmission is formed here, never in the caller's buffer, which
    // may be the host's own value area.
    if (length < 0 || length > kLinkMessageLimit) {
        return kFailed;
    }
    char transmission[kLinkMessageLimit + 1];
    if (length > 0) {
        std::memcpy(transmission, bytes, static_cast<size_t>(length));
    }
    transmission[length] = kCarriageReturn;
    const int32_t total = length + 1;

    PurgeInput(HeldPort(context));
    context->lastSendLength = total;
    uint32_t written = 0;
    if (WriteBytes(HeldPort(context), transmission, static_cast<uint32_t>(total), &written) != kSerialOk ||
        written != static_cast<uint32_t>(total)) {
        ExplainFailedWrite(context, written, total);
        return kFailed;
    }
    TraceTransmission(&context->trace, transmission, total);
    WatchTransmission(context);
    char text[kEchoTextSize];
    CopyText(text, transmission, static_cast<size_t>(Smaller(total, kEchoCopyLimit)));
    HostPutGateText(context->clientId, kOutgoingGate, text);
    return kOk;
}

int32_t LinkReceive(DriverContext* context, char* buffer, int32_t max) {
    int32_t received = 0;
    if (max <= 0 || ReadBytes(HeldPort(context), buffer, static_cast<uint32_t>(max), &received) != kSerialOk ||
        received <= 0) {
        return kFailed;
    }
    context->replyLength = static_cast<uint8_t>(received);
    char text[kEchoTextSize];
    CopyText(text, buffer, static_cast<size_t>(Smaller(received, kEchoCopyLimit)));
    MarkLineEnd(text);
    HostPutGateText(context->clientId, kIncomingGate, text);
    return kOk;
}

int32_t LinkReceiveFixed(DriverContext* context, char* buffer, int32_t n) {
    std::memset(buffer, kFillDigit, kFillCount);
    int32_t received = 0;
    if (n <= 0 || ReadBytes(HeldPort(context), buffer, static_cast<uint32_t>(n), &received) != kSerialOk) {
        received = 0;
    }
    context->replyLength = static_cast<uint8_t>(received);

    // What a line that echoes the transmission sends back first is skipped:
    // the transmission and one byte more.
    const int64_t skip = context->lastSendLength < 0 ? 0 : static_cast<int64_t>(context->lastSendLength) + 1;
    char text[kEchoTextSize] = {};
    if (received > skip) {
        const char* shown = buffer + skip;
        const int32_t count = received - static_cast<int32_t>(skip);
        CopyText(text, shown, static_cast<size_t>(count));
        if (char* end = std::strchr(text, kCarriageReturn)) {
            *end = '\0';
        }
    }
    HostPutGateText(context->clientId, kIncomingGate, text);
    return kOk;
}

void MarkLineEnd(char* text) {
    char* end = std::strchr(text, kCarriageReturn);
    if (end == nullptr) {
        return;
    }
    const bool lineFeed = end[1] == kLineFeed;
    char marker[kVisibleByteSize];
    size_t length = VisibleByte(kCarriageReturn, marker);
    std::memcpy(end, marker, length);
    end += length;
    if (lineFeed) {
        length = VisibleByte(kLineFeed, marker);
        std::memcpy(end, marker, length);
        end += length;
    }
    *end = '\0';
}
