// The trace's contact with the system: one declaration, two implementations
// (trace_platform_posix.cpp, trace_platform_win32.cpp); the build picks one.
// None of them takes heap memory.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr intptr_t kNoTraceHandle = -1;

// The line end of the platform's text files.
extern const char kTraceLineEnd[];

// The local time to the second and how far it is ahead of UTC, in minutes.
struct TraceClock {
    uint16_t year, month, day, hour, minute, second;
    int16_t utcOffsetMinutes;
};

// The time now: whole seconds since 1970-01-01 UTC and the milliseconds of
// the second.
struct TraceInstant {
    int64_t seconds;
    uint16_t millisecond;
};

// Which file a name or a handle refers to: device and inode, or volume
// serial number and file index.
struct TraceFileId {
    uint64_t volume;
    uint64_t index;
};

enum class TraceRename : uint8_t { kDone, kNameGone, kFailed };

// The variable's value into `out`: its length, 0 when unset or empty, -1 when
// it does not fit.
int32_t TraceEnvironment(const char* name, char* out, size_t size);
// The name made absolute against the working directory; false when it does
// not fit.
bool TraceAbsolutePath(const char* name, char* out, size_t size);

// The working directory's name; false when it does not fit.
bool TraceWorkingDirectory(char* out, size_t size);

// Why TraceFileOpen gave no handle: a link at the name it was not to
// follow, something other than a regular file, or the system's refusal.
enum class TraceOpenFault : uint8_t { kNone, kLink, kNotRegular, kSystem };

// Opens (creating) the file for appending, shared with other writers and
// renamers; kNoTraceHandle on failure, with *fault (when given) saying why.
// Only a regular file is taken: a device, a pipe, a socket, a directory (and
// on Windows a reserved device name) is refused without waiting on it.
// Without `followLink` a symbolic link (a reparse point on Windows) at the
// name is refused, never followed.
intptr_t TraceFileOpen(const char* path, bool followLink = true, TraceOpenFault* fault = nullptr);
// The largest size this process may give a file (POSIX RLIMIT_FSIZE), or
// INT64_MAX when there is none.
int64_t TraceFileSizeLimit();
// Whether the name refers to a device by its form alone (Windows' reserved
// names, \\.\ and \\?\ paths): refused before the system ever sees it.
bool TraceNameIsDevice(const char* name);
// The identity of the open file, or of the file under `path` now; false
// when it cannot be told (no file under the name).
bool TraceHandleId(intptr_t handle, TraceFileId* id);
bool TracePathId(const char* path, TraceFileId* id);
// The size of the file the handle refers to; -1 on failure.
int64_t TraceFileSize(intptr_t handle);
// Appends all of the bytes in one call; false unless every byte was written
// (where the system allows, a part written is then taken back).
bool TraceFileWrite(intptr_t handle, const char* bytes, uint32_t count);
void TraceFileClose(intptr_t handle);
// Renames `from` to `to`, replacing `to`; kNameGone when there is no `from`.
TraceRename TraceFileRename(const char* from, const char* to);

TraceInstant TraceUtcNow();
// The local date and time of a second since 1970 and the offset from UTC
// then, daylight saving included: the costly part of a stamp.
void TraceLocalTimeAt(int64_t seconds, TraceClock* clock);

// The system's words for an error number, without a closing full stop.
void TraceErrorText(uint32_t code, char* out, size_t size);

// The calling thread's last system error (errno, GetLastError), so that a
// trace write leaves it as the driver's own call left it.
uint32_t TraceSaveSystemError();
void TraceRestoreSystemError(uint32_t saved);
