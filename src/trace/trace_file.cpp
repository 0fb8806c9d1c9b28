// The trace file itself: switching it on, appending a line, rolling it over
// at its limit, and turning it off when the system refuses it.
#include <cstdio>
#include <cstring>

#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"

namespace {

constexpr uint32_t kTraceOffMarker = 0;
constexpr int32_t kLogLevel = 32;
constexpr char kOlderSuffix[] = ".1";

uint32_t g_fileLimit = kTraceFileLimit;

// The one log line of a trace that stops; the name is the one the file was
// opened by, or as much of the variable as fits.
void LogCannotWrite(TraceLogFunction log, const char* name) {
    if (log == nullptr) {
        return;
    }
    char text[kTracePathSize + 40];
    std::snprintf(text, sizeof text, "QELPA : Cannot write trace %s", name);
    log(kLogLevel, text);
}

void TurnOff(TraceFile* trace) {
    if (trace->handle != kNoTraceHandle) {
        TraceFileClose(trace->handle);
    }
    trace->handle = kNoTraceHandle;
    trace->state = kTraceOffMarker;
    LogCannotWrite(trace->log, trace->path);
}

// Starts a new file when this line would take the current one past the
// limit. Another instance writing the same file may have rolled it already:
// the file under the name is then small again and is simply taken on. (A
// line of the other instance that still fits may land at the end of FILE.1
// first; it is kept, only out of place.)
bool RollOverIfFull(TraceFile* trace, uint32_t length) {
    const int64_t size = TraceFileSize(trace->handle);
    if (size < 0) {
        return false;
    }
    if (size == 0 || size + length <= g_fileLimit) {
        return true;
    }
    TraceFileClose(trace->handle);
    trace->handle = TraceFileOpen(trace->path);
    if (trace->handle == kNoTraceHandle) {
        return false;
    }
    const int64_t current = TraceFileSize(trace->handle);
    if (current >= 0 && (current == 0 || current + length <= g_fileLimit)) {
        return true;
    }
    TraceFileClose(trace->handle);
    trace->handle = kNoTraceHandle;

    char older[kTracePathSize + sizeof kOlderSuffix];
    std::snprintf(older, sizeof older, "%s%s", trace->path, kOlderSuffix);
    if (!TraceFileRename(trace->path, older)) {
        return false;
    }
    trace->handle = TraceFileOpen(trace->path);
    return trace->handle != kNoTraceHandle;
}

}  // namespace

bool TraceOpen(TraceFile* trace, int32_t instance, TraceLogFunction log) {
    if (TraceIsOn(trace)) {
        TraceFileClose(trace->handle);
    }
    std::memset(trace, 0, sizeof *trace);
    trace->state = kTraceOffMarker;
    trace->handle = kNoTraceHandle;
    trace->instance = instance;
    trace->log = log;

    const uint32_t savedError = TraceSaveSystemError();
    char name[kTracePathSize];
    const int32_t length = TraceEnvironment(kTraceVariable, name, sizeof name);
    if (length == 0) {
        return false;
    }
    // The name is made absolute once, so that FILE.1 and the new file stay
    // beside the first even if the host changes its working directory.
    if (length < 0 || !TraceAbsolutePath(name, trace->path, sizeof trace->path - (sizeof kOlderSuffix - 1))) {
        LogCannotWrite(log, length < 0 ? kTraceVariable : name);
        TraceRestoreSystemError(savedError);
        return false;
    }
    trace->handle = TraceFileOpen(trace->path);
    if (trace->handle == kNoTraceHandle) {
        TurnOff(trace);
        TraceRestoreSystemError(savedError);
        return false;
    }
    // The first local time reads the system's time zone; doing it here keeps
    // that out of the requests.
    TraceClock clock{};
    TraceLocalTime(&clock);
    trace->state = kTraceOnMarker;
    TraceRestoreSystemError(savedError);
    return true;
}

void TraceClose(TraceFile* trace) {
    if (!TraceIsOn(trace)) {
        return;
    }
    TraceFileClose(trace->handle);
    trace->handle = kNoTraceHandle;
    trace->state = kTraceOffMarker;
}

void TraceWriteLine(TraceFile* trace, const char* text, uint32_t length) {
    const uint32_t savedError = TraceSaveSystemError();
    if (!RollOverIfFull(trace, length) || !TraceFileWrite(trace->handle, text, length)) {
        TurnOff(trace);
    }
    TraceRestoreSystemError(savedError);
}

void SetTraceFileLimitForTest(uint32_t bytes) {
    g_fileLimit = bytes == 0 ? kTraceFileLimit : bytes;
}
