// The trace file itself: switching it on, appending a line, rolling it over
// at its limit, and turning it off when the system refuses it.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "os/clock_lock.h"
#include "trace/trace.h"
#include "trace/trace_internal.h"
#include "trace/trace_platform.h"

namespace {

constexpr uint32_t kTraceOffMarker = 0;
constexpr int32_t kLogLevel = 32;
constexpr char kOlderSuffix[] = ".1";

std::atomic<uint32_t> g_fileLimit{kTraceFileLimit};

// Every instance of the process writes, opens and rolls its file under this
// lock, so that two instances sharing a file never roll it twice and no line
// goes into a file that was rolled away. Trace files only: no line, wait or
// host call is ever made under it.
ProcessLock g_traceLock = QEL_PROCESS_LOCK_INIT;
// How often a file was rolled over in this process (under g_traceLock).
uint32_t g_rollCount = 0;
// The record that wrote the process's last trace line (under g_traceLock):
// while it writes again, its file grew by its own lines only. Null after
// any open, so that the size is asked of the system again.
const TraceFile* g_lastWriter = nullptr;

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

// Under the lock: the file under the record's name, opened afresh.
bool Reopen(TraceFile* trace) {
    if (trace->handle != kNoTraceHandle) {
        TraceFileClose(trace->handle);
    }
    trace->handle = TraceFileOpen(trace->path);
    trace->rollSeen = g_rollCount;
    g_lastWriter = nullptr;
    return trace->handle != kNoTraceHandle;
}

bool Fits(int64_t size, uint32_t length) {
    return size == 0 || size + length <= g_fileLimit.load(std::memory_order_relaxed);
}

// Under the lock: whether the file this record writes is still the one
// under its name (another process, or a person, may have moved it).
bool StillUnderName(const TraceFile* trace) {
    TraceFileId held{};
    TraceFileId named{};
    return TraceHandleId(trace->handle, &held) && TracePathId(trace->path, &named) && held.volume == named.volume &&
           held.index == named.index;
}

// Under the lock: starts a new file when this line would take the current
// one past the limit. The file is renamed only while it is still the one
// under the name; a name that is gone or another file was rolled by someone
// else, and is simply opened afresh.
// On true, *before is the file's size before the line.
bool RollOverIfFull(TraceFile* trace, uint32_t length, int64_t* before) {
    const int64_t size = g_lastWriter == trace ? int64_t{trace->sizeWritten} : TraceFileSize(trace->handle);
    if (size < 0) {
        return false;
    }
    *before = size;
    if (Fits(size, length)) {
        return true;
    }
    if (!StillUnderName(trace)) {
        if (!Reopen(trace)) {
            return false;
        }
        *before = TraceFileSize(trace->handle);
        if (*before >= 0 && Fits(*before, length)) {
            return true;
        }
    }
    TraceFileClose(trace->handle);
    trace->handle = kNoTraceHandle;
    char older[kTracePathSize + sizeof kOlderSuffix];
    std::snprintf(older, sizeof older, "%s%s", trace->path, kOlderSuffix);
    const TraceRename renamed = TraceFileRename(trace->path, older);
    if (renamed == TraceRename::kFailed) {
        return false;
    }
    if (renamed == TraceRename::kDone) {
        ++g_rollCount;
    }
    if (!Reopen(trace)) {
        return false;
    }
    // Another process may have begun the new file already.
    *before = TraceFileSize(trace->handle);
    return *before >= 0;
}

constexpr uint32_t kNameCheckMs = 1000;

// Under the lock: a line about the file itself from `instance` (null
// `note`: its format), with the stamp of the line `text` that follows it.
// Returns its length, 0 when it was not written.
uint32_t WriteFileLine(TraceFile* trace, const char* text, uint32_t length, int32_t instance, const char* note) {
    char line[kTraceLineSize];
    const uint32_t lineLength = TraceFileLine(text, length, instance, note, line, sizeof line);
    return lineLength > 0 && TraceFileWrite(trace->handle, line, lineLength) ? lineLength : 0;
}

// Under the lock: a file this process begins (empty at its first line, on
// open or after a roll-over) opens with the format it is written in, once
// for every instance that shares it. `*size` grows by that line.
bool NameFormatIfEmpty(TraceFile* trace, const char* text, uint32_t length, int64_t* size) {
    if (*size != 0) {
        return true;
    }
    *size = WriteFileLine(trace, text, length, kTraceFileInstance, nullptr);
    return *size != 0;
}

// Under the lock, at most once a second: when the name no longer refers to
// the file held (deleted, or renamed away by hand or by a log rotation), the
// name is opened afresh and the new file's first line says so, with the
// stamp of the line that found it out.
bool FollowName(TraceFile* trace, const char* text, uint32_t length) {
    const uint32_t now = TraceSteadyMs();
    if (now - trace->nameCheckedMs < kNameCheckMs) {
        return true;
    }
    trace->nameCheckedMs = now;
    // Another process may write the file too: its size is asked again.
    g_lastWriter = nullptr;
    if (StillUnderName(trace)) {
        return true;
    }
    if (!Reopen(trace)) {
        return false;
    }
    int64_t size = TraceFileSize(trace->handle);
    return size >= 0 && NameFormatIfEmpty(trace, text, length, &size) &&
           WriteFileLine(trace, text, length, trace->instance,
                         kTraceFileNoteWords[static_cast<size_t>(TraceFileNote::kWentAway)]) != 0;
}

// Under the lock: the line goes into the file under the name, reopened
// first when another instance rolled it away or the name went elsewhere.
bool WriteLocked(TraceFile* trace, const char* text, uint32_t length) {
    if (trace->rollSeen != g_rollCount && !Reopen(trace)) {
        return false;
    }
    if (!FollowName(trace, text, length)) {
        if (trace->handle != kNoTraceHandle) {
            TraceFileClose(trace->handle);
        }
        trace->handle = kNoTraceHandle;
        return false;
    }
    int64_t before = 0;
    if (!RollOverIfFull(trace, length, &before) || !NameFormatIfEmpty(trace, text, length, &before) ||
        !TraceFileWrite(trace->handle, text, length)) {
        if (trace->handle != kNoTraceHandle) {
            TraceFileClose(trace->handle);
        }
        trace->handle = kNoTraceHandle;
        g_lastWriter = nullptr;
        return false;
    }
    // A size past what the record keeps is asked of the system each time.
    const int64_t after = before + length;
    trace->sizeWritten = static_cast<uint32_t>(after);
    g_lastWriter = after <= int64_t{UINT32_MAX} ? trace : nullptr;
    return true;
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
    // beside the first even if the host changes its working directory. A
    // device name is refused before the system makes a path of it.
    if (length < 0 || TraceNameIsDevice(name) ||
        !TraceAbsolutePath(name, trace->path, sizeof trace->path - (sizeof kOlderSuffix - 1))) {
        LogCannotWrite(log, length < 0 ? kTraceVariable : name);
        TraceRestoreSystemError(savedError);
        return false;
    }
    LockProcess(&g_traceLock);
    const bool opened = Reopen(trace);
    UnlockProcess(&g_traceLock);
    if (!opened) {
        LogCannotWrite(log, trace->path);
        TraceRestoreSystemError(savedError);
        return false;
    }
    // The first local time reads the system's time zone; doing it here keeps
    // that out of the requests.
    TraceClock clock{};
    TraceLocalTimeAt(TraceUtcNow().seconds, &clock);
    trace->nameCheckedMs = TraceSteadyMs();
    trace->state = kTraceOnMarker;
    TraceRestoreSystemError(savedError);
    return true;
}

void TraceClose(TraceFile* trace) {
    if (!TraceIsOn(trace)) {
        return;
    }
    LockProcess(&g_traceLock);
    if (g_lastWriter == trace) {
        g_lastWriter = nullptr;
    }
    UnlockProcess(&g_traceLock);
    TraceFileClose(trace->handle);
    trace->handle = kNoTraceHandle;
    trace->state = kTraceOffMarker;
}

void TraceWriteLine(TraceFile* trace, const char* text, uint32_t length) {
    const uint32_t savedError = TraceSaveSystemError();
    LockProcess(&g_traceLock);
    const bool written = WriteLocked(trace, text, length);
    UnlockProcess(&g_traceLock);
    // The host's log is called with no lock held.
    if (!written) {
        trace->state = kTraceOffMarker;
        LogCannotWrite(trace->log, trace->path);
    }
    TraceRestoreSystemError(savedError);
}

void SetTraceFileLimitForTest(uint32_t bytes) {
    g_fileLimit.store(bytes == 0 ? kTraceFileLimit : bytes, std::memory_order_relaxed);
}

uint32_t TraceRollCountForTest() {
    LockProcess(&g_traceLock);
    const uint32_t count = g_rollCount;
    UnlockProcess(&g_traceLock);
    return count;
}
