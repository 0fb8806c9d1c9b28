// The trace's system calls on POSIX: open(O_APPEND), write, fstat, rename,
// and the process's file-size limit.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "trace/trace_platform.h"

const char kTraceLineEnd[] = "\n";

namespace {

// strerror_r comes in two forms (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) {
    return result;
}

void CopyBounded(char* out, size_t size, const char* text) {
    const size_t length = strnlen(text, size - 1);
    std::memcpy(out, text, length);
    out[length] = '\0';
}

}  // namespace

int32_t TraceEnvironment(const char* name, char* out, size_t size) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') {
        return 0;
    }
    const size_t length = std::strlen(value);
    if (length + 1 > size) {
        return -1;
    }
    std::memcpy(out, value, length + 1);
    return static_cast<int32_t>(length);
}

bool TraceWorkingDirectory(char* out, size_t size) {
    return getcwd(out, size) != nullptr;
}

bool TraceAbsolutePath(const char* name, char* out, size_t size) {
    const size_t nameLength = std::strlen(name);
    if (name[0] == '/') {
        if (nameLength + 1 > size) {
            return false;
        }
        std::memcpy(out, name, nameLength + 1);
        return true;
    }
    if (!TraceWorkingDirectory(out, size)) {
        return false;
    }
    const size_t directoryLength = std::strlen(out);
    if (directoryLength + 1 + nameLength + 1 > size) {
        return false;
    }
    out[directoryLength] = '/';
    std::memcpy(out + directoryLength + 1, name, nameLength + 1);
    return true;
}

// The type is looked at before the open, so that a FIFO or a terminal is
// never opened at all, and again after it, for a name that changed between.
// O_NONBLOCK keeps even that open from waiting for a FIFO's reader.
intptr_t TraceFileOpen(const char* path, bool followLink, TraceOpenFault* fault) {
    TraceOpenFault ignored = TraceOpenFault::kNone;
    TraceOpenFault& why = fault != nullptr ? *fault : ignored;
    why = TraceOpenFault::kNone;
    struct stat status {};
    if ((followLink ? stat(path, &status) : lstat(path, &status)) == 0 && !S_ISREG(status.st_mode)) {
        why = S_ISLNK(status.st_mode) ? TraceOpenFault::kLink : TraceOpenFault::kNotRegular;
        errno = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
        return kNoTraceHandle;
    }
    const int fd = open(
        path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | (followLink ? 0 : O_NOFOLLOW), 0644);
    if (fd < 0) {
        // A link planted between the look and the open.
        why = !followLink && errno == ELOOP ? TraceOpenFault::kLink : TraceOpenFault::kSystem;
        return kNoTraceHandle;
    }
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        why = TraceOpenFault::kNotRegular;
        errno = EINVAL;
        return kNoTraceHandle;
    }
    return fd;
}

int64_t TraceFileSizeLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
        limit.rlim_cur > static_cast<rlim_t>(INT64_MAX)) {
        return INT64_MAX;
    }
    return static_cast<int64_t>(limit.rlim_cur);
}

bool TraceNameIsDevice(const char*) {
    return false;
}

namespace {
TraceFileId IdOf(const struct stat& status) {
    return TraceFileId{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}
}  // namespace

bool TraceHandleId(intptr_t handle, TraceFileId* id) {
    struct stat status {};
    if (fstat(static_cast<int>(handle), &status) != 0) {
        return false;
    }
    *id = IdOf(status);
    return true;
}

bool TracePathId(const char* path, TraceFileId* id) {
    struct stat status {};
    if (stat(path, &status) != 0) {
        return false;
    }
    *id = IdOf(status);
    return true;
}

int64_t TraceFileSize(intptr_t handle) {
    struct stat status {};
    if (fstat(static_cast<int>(handle), &status) != 0) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size);
}

bool TraceFileWrite(intptr_t handle, const char* bytes, uint32_t count) {
    const int fd = static_cast<int>(handle);
    ssize_t written = 0;
    do {
        written = write(fd, bytes, count);
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(count)) {
        return true;
    }
    // A full disk took part of the line: the part is taken back, so that the
    // file ends in whole lines. The process's writers append under one lock,
    // so the part is at the end.
    struct stat status {};
    if (written > 0 && fstat(fd, &status) == 0 && status.st_size >= written) {
        const int error = errno;
        if (ftruncate(fd, status.st_size - written) != 0) {
            errno = error;
        }
    }
    return false;
}

void TraceFileClose(intptr_t handle) {
    close(static_cast<int>(handle));
}

TraceRename TraceFileRename(const char* from, const char* to) {
    if (std::rename(from, to) == 0) {
        return TraceRename::kDone;
    }
    return errno == ENOENT ? TraceRename::kNameGone : TraceRename::kFailed;
}

TraceInstant TraceUtcNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return TraceInstant{static_cast<int64_t>(now.tv_sec), static_cast<uint16_t>(now.tv_nsec / 1000000)};
}

void TraceLocalTimeAt(int64_t seconds, TraceClock* clock) {
    const time_t at = static_cast<time_t>(seconds);
    tm local{};
    localtime_r(&at, &local);
    clock->year = static_cast<uint16_t>(local.tm_year + 1900);
    clock->month = static_cast<uint16_t>(local.tm_mon + 1);
    clock->day = static_cast<uint16_t>(local.tm_mday);
    clock->hour = static_cast<uint16_t>(local.tm_hour);
    clock->minute = static_cast<uint16_t>(local.tm_min);
    clock->second = static_cast<uint16_t>(local.tm_sec);
    clock->utcOffsetMinutes = static_cast<int16_t>(local.tm_gmtoff / 60);
}

void TraceErrorText(uint32_t code, char* out, size_t size) {
    char buffer[128] = {};
    CopyBounded(out, size, ErrorTextOf(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer));
}

uint32_t TraceSaveSystemError() {
    return static_cast<uint32_t>(errno);
}

void TraceRestoreSystemError(uint32_t saved) {
    errno = static_cast<int>(saved);
}
