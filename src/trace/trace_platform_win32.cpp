// The trace's system calls on Windows: CreateFileA for appending, WriteFile,
// MoveFileExA.
#include <windows.h>

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

intptr_t TraceFileOpen(const char* path) {
    // Appending only, so that every write lands at the end even when another
    // instance writes the same file; sharing delete lets either of them roll
    // it over while the other holds it.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kNoTraceHandle : reinterpret_cast<intptr_t>(file);
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

bool TraceFileRename(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}

void TraceLocalTime(TraceClock* clock) {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    clock->year = local.wYear;
    clock->month = local.wMonth;
    clock->day = local.wDay;
    clock->hour = local.wHour;
    clock->minute = local.wMinute;
    clock->second = local.wSecond;
    clock->millisecond = local.wMilliseconds;
}

uint32_t TraceSteadyMilliseconds() {
    return GetTickCount();
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
