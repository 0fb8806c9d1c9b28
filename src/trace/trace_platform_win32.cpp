// The trace's system calls on Windows: CreateFileA for appending, WriteFile,
// MoveFileExA.
#include <windows.h>

#include <cctype>
#include <cstring>

#include "trace/trace_platform.h"

const char kTraceLineEnd[] = "\r\n";

int32_t TraceEnvironment(const char* name, char* out, size_t size) {
    // The process's own environment block, so that a host that set the
    // variable with SetEnvironmentVariable is seen as well.
    const DWORD length = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    if (length == 0) {
        return 0;
    }
    return length >= size ? -1 : static_cast<int32_t>(length);
}

bool TraceWorkingDirectory(char* out, size_t size) {
    const DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), out);
    return length > 0 && length < size;
}

bool TraceAbsolutePath(const char* name, char* out, size_t size) {
    const DWORD length = GetFullPathNameA(name, static_cast<DWORD>(size), out, nullptr);
    return length > 0 && length < size;
}

namespace {

// The devices Windows finds under these names in any folder, with any
// extension.
constexpr const char* kReservedNames[] = {
    "NUL",  "CON",  "PRN",  "AUX",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
    "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$",
};

// The last part of the name up to its first dot or colon, trailing spaces
// dropped, compared in any letter case.
bool IsReservedName(const char* name) {
    const char* last = name;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c == '\\' || *c == '/') {
            last = c + 1;
        }
    }
    size_t length = std::strcspn(last, ".:");
    while (length > 0 && last[length - 1] == ' ') {
        --length;
    }
    for (const char* reserved : kReservedNames) {
        if (std::strlen(reserved) != length) {
            continue;
        }
        size_t i = 0;
        while (i < length && std::toupper(static_cast<unsigned char>(last[i])) == reserved[i]) {
            ++i;
        }
        if (i == length) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool TraceNameIsDevice(const char* name) {
    const bool devicePath = (name[0] == '\\' || name[0] == '/') && (name[1] == '\\' || name[1] == '/') &&
                            (name[2] == '.' || name[2] == '?') && (name[3] == '\\' || name[3] == '/');
    return devicePath || IsReservedName(name);
}

intptr_t TraceFileOpen(const char* path, bool followLink, TraceOpenFault* fault) {
    TraceOpenFault ignored = TraceOpenFault::kNone;
    TraceOpenFault& why = fault != nullptr ? *fault : ignored;
    why = TraceOpenFault::kNone;
    if (TraceNameIsDevice(path)) {
        why = TraceOpenFault::kNotRegular;
        SetLastError(ERROR_INVALID_NAME);
        return kNoTraceHandle;
    }
    // Appending only, so that every write lands at the end even when another
    // instance writes the same file; sharing delete lets either of them roll
    // it over while the other holds it. A link not to be followed is opened
    // itself, and refused below.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = TraceOpenFault::kSystem;
        return kNoTraceHandle;
    }
    // A name the checks above let through may still be a device or a pipe.
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        why = TraceOpenFault::kNotRegular;
    } else if (!followLink && (!GetFileInformationByHandle(file, &information) ||
                               (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        why = TraceOpenFault::kLink;
    }
    if (why != TraceOpenFault::kNone) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_NAME);
        return kNoTraceHandle;
    }
    return reinterpret_cast<intptr_t>(file);
}

int64_t TraceFileSizeLimit() {
    return INT64_MAX;
}

bool TraceHandleId(intptr_t handle, TraceFileId* id) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &information)) {
        return false;
    }
    *id = TraceFileId{information.dwVolumeSerialNumber,
                      (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    return true;
}

bool TracePathId(const char* path, TraceFileId* id) {
    // No access asked: only the file's information is read.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = TraceHandleId(reinterpret_cast<intptr_t>(file), id);
    CloseHandle(file);
    return known;
}

int64_t TraceFileSize(intptr_t handle) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &size)) {
        return -1;
    }
    return static_cast<int64_t>(size.QuadPart);
}

bool TraceFileWrite(intptr_t handle, const char* bytes, uint32_t count) {
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(handle), bytes, count, &written, nullptr) && written == count;
}

void TraceFileClose(intptr_t handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

TraceRename TraceFileRename(const char* from, const char* to) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) {
        return TraceRename::kDone;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND ? TraceRename::kNameGone : TraceRename::kFailed;
}

namespace {

int64_t FileTimeOf(const SYSTEMTIME& time) {
    FILETIME file{};
    SystemTimeToFileTime(&time, &file);
    return static_cast<int64_t>((static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime);
}

// File time counts 100 ns from 1601-01-01.
constexpr int64_t kFileTimeUnitsPerSecond = 10000000;
constexpr int64_t kFileTimeOf1970 = 116444736000000000;

}  // namespace

TraceInstant TraceUtcNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t units =
        static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kFileTimeOf1970;
    return TraceInstant{units / kFileTimeUnitsPerSecond,
                        static_cast<uint16_t>(units % kFileTimeUnitsPerSecond / (kFileTimeUnitsPerSecond / 1000))};
}

// The second made local, so that the offset is that of the same moment,
// daylight saving included.
void TraceLocalTimeAt(int64_t seconds, TraceClock* clock) {
    const uint64_t units = static_cast<uint64_t>(seconds * kFileTimeUnitsPerSecond + kFileTimeOf1970);
    FILETIME file{static_cast<DWORD>(units & 0xFFFFFFFFu), static_cast<DWORD>(units >> 32)};
    SYSTEMTIME utc{};
    FileTimeToSystemTime(&file, &utc);
    SYSTEMTIME local = utc;
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    constexpr int64_t kFileTimeUnitsPerMinute = 600000000;
    const int64_t offset = FileTimeOf(local) - FileTimeOf(utc);
    clock->utcOffsetMinutes = static_cast<int16_t>(
        (offset + (offset < 0 ? -kFileTimeUnitsPerMinute / 2 : kFileTimeUnitsPerMinute / 2)) / kFileTimeUnitsPerMinute);
    clock->year = local.wYear;
    clock->month = local.wMonth;
    clock->day = local.wDay;
    clock->hour = local.wHour;
    clock->minute = local.wMinute;
    clock->second = local.wSecond;
}

void TraceErrorText(uint32_t code, char* out, size_t size) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, out,
                                  static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::strncpy(out, "unknown error", size - 1);
        out[size - 1] = '\0';
        return;
    }
    // The system's text ends in a full stop and CR LF; the trace line goes on.
    while (length > 0 &&
           (out[length - 1] == '\r' || out[length - 1] == '\n' || out[length - 1] == ' ' || out[length - 1] == '.')) {
        --length;
    }
    out[length] = '\0';
}

uint32_t TraceSaveSystemError() {
    return GetLastError();
}

void TraceRestoreSystemError(uint32_t saved) {
    SetLastError(saved);
}
