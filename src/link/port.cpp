// The serial port as the driver holds it: opened from a PortSettings record,
// kept in the context, closed by the close and stop requests, and reopened
// by the driver itself when its line went away.
#include "link/port.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "context/text.h"
#include "host/host_library.h"
#include "link/line_watch.h"
#include "os/clock_lock.h"

namespace {

// A test hook, read by every instance's requests on their own threads.
std::atomic<uint32_t> g_reopenIntervalMs{kReopenIntervalMs};

// The clock's low 32 bits: differences stay right across a wrap.
uint32_t NowMs() {
    return static_cast<uint32_t>(MonotonicMs());
}

// Logs "QELPA : EVENT NAME" with the port's name as the host gave it.
void LogPortEvent(const DriverContext* context, const char* event) {
    char name[sizeof context->portSettings.portName + 1];
    CopyText(name, context->portSettings.portName, sizeof context->portSettings.portName);
    HostLog(kLogLevel, "QELPA : %s %s", event, name);
}

// A refused open in words an integrator acts on. The system's error follows
// the words where it tells more than they do.
struct CauseWords {
    SerialOpenCause cause;
    const char* words;
    bool withOsError;
};
constexpr CauseWords kCauseWords[] = {
    {SerialOpenCause::kNameEmpty, "port name empty", false},
    {SerialOpenCause::kNameUnended, "port name has no end within its 12 bytes (at most 11 characters)", false},
    {SerialOpenCause::kNameTooLong, "the name is too long for this system", true},
    {SerialOpenCause::kNoSuchPort, "no such port on this computer", true},
    {SerialOpenCause::kHeld, "held by another program or instance", true},
    {SerialOpenCause::kNoPermission, "this user may not open it", true},
    {SerialOpenCause::kRegularFile, "not a serial port (a regular file)", false},
    {SerialOpenCause::kFolder, "not a serial port (a folder)", false},
    {SerialOpenCause::kFifo, "not a serial port (a pipe)", false},
    {SerialOpenCause::kOtherDevice, "not a serial port (a device of another kind)", true},
    {SerialOpenCause::kTimeoutsRefused, "the port refuses its read time-outs", true},
    {SerialOpenCause::kSettingsRefused, "the port refuses the line settings", true},
    {SerialOpenCause::kTooManyPorts, "too many ports open in this process", false},
    {SerialOpenCause::kOther, "the system refused the open", true},
};

const CauseWords& WordsOf(SerialOpenCause cause) {
    for (const CauseWords& entry : kCauseWords) {
        if (entry.cause == cause) {
            return entry;
        }
    }
    return kCauseWords[sizeof kCauseWords / sizeof kCauseWords[0] - 1];
}

// Appends printf-style to `out` behind its first `at` characters, never past
// its end; returns the new length.
template <size_t N, typename... Args>
size_t Append(char (&out)[N], size_t at, const char* format, Args... args) {
    if (at + 1 >= N) {
        return at;
    }
    const int added = std::snprintf(out + at, N - at, format, args...);
    return added < 0 ? at : (at + static_cast<size_t>(added) < N ? at + static_cast<size_t>(added) : N - 1);
}

// The cause of a refused open into `out`: its words, the line settings
// where they were refused, and (unless `brief`) the system's number and text.
template <size_t N>
void DescribeCause(char (&out)[N], const SerialError& error, const LineSettings& line, bool brief = false) {
    const CauseWords& words = WordsOf(error.cause);
    out[0] = '\0';
    size_t at = Append(out, 0, "%s", words.words);
    if (error.cause == SerialOpenCause::kSettingsRefused) {
        at = Append(out, at, " %u baud, %u data bits, stop bits code %u, parity code %u",
                    static_cast<unsigned>(line.baudRate), static_cast<unsigned>(line.dataBits),
                    static_cast<unsigned>(line.stopBits), static_cast<unsigned>(line.parity));
    } else if (error.cause == SerialOpenCause::kTooManyPorts) {
        at = Append(out, at, " (%u)", static_cast<unsigned>(kMaxOpenPorts));
    }
    if (words.withOsError && error.osError != 0 && !brief) {
        char text[160];
        Append(out, at, " (OS error %d: %s)", static_cast<int>(error.osError),
               SerialErrorText(error.osError, text, sizeof text));
    }
}

constexpr size_t kCauseTextSize = 320;

// How each absence ends the reason of a request that found no port: what
// left it without one, and how the host gets it back.
struct DownWords {
    PortDown down;
    const char* what;
    const char* remedy;
};
constexpr const char* kStartAgain = "the host opens it again with a start";
// The first row is the disabled start's.
constexpr DownWords kDownWords[] = {
    {PortDown::kDisabled, "the start had the port disabled", "a start with the port enabled opens it"},
    {PortDown::kStartFailed, "the start failed", kStartAgain},
    {PortDown::kOpenFailed, "the open failed", "the host opens it again with an open or a start"},
    {PortDown::kReconfigureFailed, "the reconfiguration failed", "the host opens it again with an open or a start"},
    {PortDown::kClosed, "the host closed it", "the host opens it again with an open or a start"},
};

}  // namespace

bool PortNameEnds(const char (&name)[sizeof PortSettings::portName]) {
    return std::memchr(name, '\0', sizeof name) != nullptr;
}

bool PortNameUsable(const char (&name)[sizeof PortSettings::portName]) {
    return name[0] != '\0' && PortNameEnds(name);
}

PortHandle OpenPort(const PortSettings& settings, TraceFile* trace, SerialError* error) {
    SerialError failure{0, SerialOpenCause::kNone};
    // The name comes from a record the host filled in: one with no NUL in
    // its field opens nothing, rather than the device its first 11
    // characters name.
    char name[sizeof settings.portName + 1];
    CopyText(name, settings.portName, sizeof settings.portName);
    PortHandle handle = kNoPort;
    int32_t result = kSerialOpenFailed;
    if (!PortNameEnds(settings.portName)) {
        failure.cause = SerialOpenCause::kNameUnended;
    } else if (name[0] == '\0') {
        failure.cause = SerialOpenCause::kNameEmpty;
    } else {
        result = OpenSerialPort(name, settings.line, settings.lineControl, &handle, &failure);
    }
    if (error != nullptr) {
        *error = failure;
    }
    if (result != kSerialOk) {
        char cause[kCauseTextSize];
        DescribeCause(cause, failure, settings.line);
        // A name the driver refused names no port: its reason says why,
        // and no port event is traced.
        if (failure.cause == SerialOpenCause::kNameUnended || failure.cause == SerialOpenCause::kNameEmpty) {
            TraceReason(trace, "%s", cause);
        } else {
            TracePort(trace, TracePortEvent::kOpenFailed, name, static_cast<uint32_t>(failure.osError));
            TraceReason(trace, "port %s not opened: %s", name, cause);
        }
        return kNoPort;
    }
    TracePort(trace, TracePortEvent::kOpened, name, 0);
    return handle;
}

void NotePortDown(DriverContext* context, PortDown down, const PortSettings& settings, const SerialError& error) {
    PortAbsence& absence = context->absence;
    absence.mark = kPortAbsenceMark;
    absence.down = down;
    absence.error = error;
    absence.line = settings.line;
    CopyText(absence.portName, settings.portName, sizeof settings.portName);
}

void AcceptSettings(DriverContext* context, const PortSettings& settings) {
    context->portSettings = settings;
    context->settingsMark = kSettingsMark;
}

void TraceNothingToOpen(DriverContext* context) {
    const PortAbsence& absence = context->absence;
    const DownWords& disabled = kDownWords[0];
    if (absence.mark == kPortAbsenceMark && absence.down == disabled.down) {
        TraceReason(&context->trace, "%s: nothing to open; %s", disabled.what, disabled.remedy);
        return;
    }
    TraceReason(&context->trace, "no start has succeeded yet: nothing to open; the host starts the instance again");
}

void TraceOpenAfterFailedStart(DriverContext* context, bool opened) {
    const PortAbsence& absence = context->absence;
    char name[sizeof context->portSettings.portName + 1];
    CopyText(name, context->portSettings.portName, sizeof context->portSettings.portName);
    if (absence.mark != kPortAbsenceMark || absence.down != PortDown::kStartFailed ||
        std::strcmp(name, absence.portName) == 0) {
        return;
    }
    char failed[sizeof absence.portName];
    CopyText(failed, absence.portName[0] == '\0' ? "(no name)" : absence.portName);
    if (opened) {
        TraceNoteText(&context->trace, "the open took port %s, the last one accepted: the start with %s failed", name,
                      failed);
    } else {
        TraceReason(&context->trace, "the open tried port %s, the last one accepted: the start with %s failed", name,
                    failed);
    }
}

void TraceNoPortReason(DriverContext* context) {
    TraceFile* trace = &context->trace;
    const PortAbsence& absence = context->absence;
    if (absence.mark != kPortAbsenceMark) {
        TraceReason(trace, "no port open: the instance was not started; a start opens its port");
        return;
    }
    const DownWords* words = &kDownWords[0];
    for (const DownWords& entry : kDownWords) {
        if (entry.down == absence.down) {
            words = &entry;
        }
    }
    char name[sizeof absence.portName];
    CopyText(name, absence.portName[0] == '\0' ? "(no name)" : absence.portName);
    // An open has nothing to open before a start or reconfiguration was accepted.
    const char* remedy = context->settingsMark == kSettingsMark ? words->remedy : kStartAgain;
    if (absence.error.cause == SerialOpenCause::kNone) {
        TraceReason(trace, "port %s not open: %s; %s", name, words->what, remedy);
        return;
    }
    char cause[kCauseTextSize];
    // The start's own reason carried the system's error.
    DescribeCause(cause, absence.error, absence.line, true);
    TraceReason(trace, "port %s not open: %s (%s); %s", name, words->what, cause, remedy);
}

void HoldPort(DriverContext* context, PortHandle handle) {
    context->port = handle;
    context->portMark = kPortMark;
    context->portLost = 0;
    context->readTimeoutUnits = static_cast<int32_t>(kDefaultReadTimeoutMs / 10u);
    WatchOpened(context);
}

void SetHeldReadTimeout(DriverContext* context, int32_t units) {
    SetReadTimeout(HeldPort(context), units);
    context->readTimeoutUnits = units;
}

uint32_t ReopenDueInMs(const DriverContext* context) {
    const uint32_t since = NowMs() - context->lastReopenMs;
    const uint32_t interval = g_reopenIntervalMs.load();
    return since >= interval ? 0 : interval - since;
}

void NoteLostPort(DriverContext* context) {
    const PortHandle port = context != nullptr ? HeldPort(context) : kNoPort;
    if (port == kNoPort || !SerialPortLost(port)) {
        return;
    }
    // The error that told the loss, before the close forgets it.
    TracePort(&context->trace, TracePortEvent::kLost, context->portSettings.portName,
              static_cast<uint32_t>(SerialLastError(port)));
    // A handle that cannot be closed stays held, as it did before the driver
    // knew of lost lines: the requests then fail on it.
    if (CloseSerialPort(port) != kSerialOk) {
        return;
    }
    context->port = kNoPort;
    context->portLost = kPortLostMark;
    context->lastReopenMs = NowMs();
    WatchLost(context);
    LogPortEvent(context, "Lost");
}

void ReviveLostPort(DriverContext* context) {
    if (context == nullptr || !PortIsLost(context)) {
        return;
    }
    if (ReopenDueInMs(context) > 0) {
        return;
    }
    context->lastReopenMs = NowMs();
    SerialError error{};
    const PortHandle handle = OpenPort(context->portSettings, nullptr, &error);
    if (handle == kNoPort) {
        TracePort(&context->trace, TracePortEvent::kReopenFailed, context->portSettings.portName,
                  static_cast<uint32_t>(error.osError));
        return;
    }
    const int32_t readTimeout = context->readTimeoutUnits;
    WatchReopened(context);
    HoldPort(context, handle);
    SetHeldReadTimeout(context, readTimeout);
    TracePort(&context->trace, TracePortEvent::kReopened, context->portSettings.portName, 0);
    LogPortEvent(context, "Reopened");
}

void SetReopenIntervalMs(uint32_t milliseconds) {
    g_reopenIntervalMs = milliseconds;
}

int32_t ClosePort(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (context == nullptr) {
        return kFailed;
    }
    // The host's close ends the recovery of a lost port, and so do the load,
    // open and reconfigure requests that come through here.
    const bool wasLost = PortIsLost(context);
    context->portLost = 0;
    if (HeldPort(context) == kNoPort) {
        if (wasLost) {
            NotePortDown(context, PortDown::kClosed, context->portSettings, SerialError{0, SerialOpenCause::kNone});
        }
        return kOk;
    }
    SerialError error{};
    if (CloseSerialPort(context->port, &error) != kSerialOk) {
        TracePort(&context->trace, TracePortEvent::kCloseFailed, context->portSettings.portName,
                  static_cast<uint32_t>(error.osError));
        char name[sizeof context->portSettings.portName + 1];
        CopyText(name, context->portSettings.portName, sizeof context->portSettings.portName);
        char text[160];
        TraceReason(&context->trace,
                    "port %s not closed: the system refused the close (OS error %d: %s); it stays held", name,
                    static_cast<int>(error.osError), SerialErrorText(error.osError, text, sizeof text));
        return kPortFailed;
    }
    TracePort(&context->trace, TracePortEvent::kClosed, context->portSettings.portName, 0);
    context->port = kNoPort;
    NotePortDown(context, PortDown::kClosed, context->portSettings, SerialError{0, SerialOpenCause::kNone});
    return kOk;
}
