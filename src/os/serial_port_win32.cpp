// The serial port layer over the Windows serial communications calls.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "os/serial_platform.h"
#include "os/serial_port.h"
#include "os/sleep.h"

namespace {

constexpr uint32_t kQueueSize = 1200;
constexpr uint8_t kErrorReplacement = 0xFC;

// The open port's HANDLE; null, which every call refuses, for a handle that
// is not open.
HANDLE HandleOf(PortHandle handle) {
    const PortSlot* slot = SlotOf(handle);
    return slot != nullptr ? reinterpret_cast<HANDLE>(slot->system) : nullptr;
}

static_assert(ERROR_FILE_NOT_FOUND == 2 && ERROR_ACCESS_DENIED == 5 && ERROR_INVALID_HANDLE == 6 &&
                  ERROR_NOT_READY == 21 && ERROR_BAD_COMMAND == 22 && ERROR_GEN_FAILURE == 31 &&
                  ERROR_OPERATION_ABORTED == 995 && ERROR_DEVICE_REMOVED == 1617,
              "IsDeviceGoneError names the codes by value");

// Keeps GetLastError() for the port (a handle that is not open keeps it
// only in the calling thread's own); returns `result` for the caller.
template <typename Result>
Result Failed(PortHandle handle, Result result) {
    const DWORD code = GetLastError();
    PortSlot* slot = SlotOf(handle);
    if (slot != nullptr) {
        slot->lastError = static_cast<int32_t>(code);
    }
    SetLastError(code);
    return result;
}

// As Failed, for the calls that move bytes or ask the line's state: their
// errors also tell a device that is gone.
template <typename Result>
Result LineFailed(PortHandle handle, Result result) {
    const DWORD code = GetLastError();
    PortSlot* slot = SlotOf(handle);
    if (slot != nullptr) {
        slot->lastError = static_cast<int32_t>(code);
        slot->lost = slot->lost || (!slot->nullDevice && IsDeviceGoneError(code));
    }
    SetLastError(code);
    return result;
}

// The cause of a failed CreateFileA by its error; `device` is the name it
// was given.
SerialOpenCause CauseOfOpenError(DWORD code, const char* device) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
            return SerialOpenCause::kNoSuchPort;
        case ERROR_ACCESS_DENIED: {
            // A folder cannot be opened as a file; a port held by another
            // program answers the same.
            const DWORD attributes = GetFileAttributesA(device);
            return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                       ? SerialOpenCause::kFolder
                       : SerialOpenCause::kHeld;
        }
        case ERROR_SHARING_VIOLATION:
            return SerialOpenCause::kHeld;
        case ERROR_FILENAME_EXCED_RANGE:
            return SerialOpenCause::kNameTooLong;
        default:
            return SerialOpenCause::kOther;
    }
}

// What an open handle with no serial state refers to.
SerialOpenCause CauseOfNoCommState(HANDLE port) {
    switch (GetFileType(port)) {
        case FILE_TYPE_DISK:
            return SerialOpenCause::kRegularFile;
        case FILE_TYPE_PIPE:
            return SerialOpenCause::kFifo;
        default:
            return SerialOpenCause::kOtherDevice;
    }
}

// Closes a port whose open failed, keeping the error that failed it.
int32_t AbandonOpen(HANDLE port, int32_t result, SerialOpenCause cause, SerialError* error) {
    const DWORD code = GetLastError();
    if (cause == SerialOpenCause::kNone) {
        cause = CauseOfNoCommState(port);
    }
    CloseHandle(port);
    return OpenFailed(result, static_cast<int32_t>(code), cause, error);
}

DWORD DtrControl(uint16_t lineControl) {
    if ((lineControl & kDtrEnable) != 0) {
        return DTR_CONTROL_ENABLE;
    }
    return (lineControl & kDtrHandshake) != 0 ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
}

DWORD RtsControl(uint16_t lineControl) {
    if ((lineControl & kRtsEnable) != 0) {
        return RTS_CONTROL_ENABLE;
    }
    if ((lineControl & kRtsHandshake) != 0) {
        return RTS_CONTROL_HANDSHAKE;
    }
    return (lineControl & kRtsToggle) != 0 ? RTS_CONTROL_TOGGLE : RTS_CONTROL_DISABLE;
}

// With every read time-out 0 Windows waits for the whole count for ever; a
// total of 0 ms is meant as "no wait", which an interval of MAXDWORD gives:
// the read returns at once with what has arrived.
DWORD IntervalFor(DWORD totalMs) {
    return totalMs == 0 ? MAXDWORD : 0;
}

}  // namespace

const RefusalErrors kRefusalErrors{ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE, ERROR_TOO_MANY_OPEN_FILES,
                                   ERROR_INVALID_HANDLE};

int32_t ThreadError() {
    return static_cast<int32_t>(GetLastError());
}

void SetThreadError(int32_t code) {
    SetLastError(static_cast<DWORD>(code));
}

// The name as opened; the context keeps the name as given.
bool DeviceName(const char* name, char* device, size_t size) {
    return WindowsDeviceName(name, device, size);
}

int32_t OpenDevice(const char* name, const char* device, const LineSettings& line, uint16_t lineControl,
                   intptr_t* system, SerialError* error) {
    HANDLE port =
        CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return OpenFailed(kSerialOpenFailed, static_cast<int32_t>(code), CauseOfOpenError(code, device), error);
    }
    if (std::strcmp(name, kNullPortName) == 0) {
        *system = reinterpret_cast<intptr_t>(port);
        return kSerialOk;
    }
    DCB state{};
    state.DCBlength = sizeof state;
    if (!GetCommState(port, &state)) {
        return AbandonOpen(port, kSerialGetStateFailed, SerialOpenCause::kNone, error);
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadTotalTimeoutConstant = kDefaultReadTimeoutMs;
    if (!SetCommTimeouts(port, &timeouts)) {
        return AbandonOpen(port, kSerialOpenFailed, SerialOpenCause::kTimeoutsRefused, error);
    }
    state.BaudRate = line.baudRate;
    state.fBinary = 1;
    state.fParity = 1;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DtrControl(lineControl);
    state.fDsrSensitivity = 0;
    state.fOutX = 0;
    state.fInX = 0;
    state.fErrorChar = 0;
    state.fNull = 0;
    state.fRtsControl = RtsControl(lineControl);
    state.fAbortOnError = 0;
    state.ByteSize = static_cast<BYTE>(line.dataBits);
    state.Parity = static_cast<BYTE>(line.parity);
    state.StopBits = static_cast<BYTE>(line.stopBits);
    state.ErrorChar = static_cast<char>(kErrorReplacement);
    if (!SetCommState(port, &state)) {
        return AbandonOpen(port, kSerialSetStateFailed, SerialOpenCause::kSettingsRefused, error);
    }
    SetupComm(port, kQueueSize, kQueueSize);
    *system = reinterpret_cast<intptr_t>(port);
    return kSerialOk;
}

bool CloseDevice(const PortSlot& slot, int32_t* code) {
    if (!CloseHandle(reinterpret_cast<HANDLE>(slot.system))) {
        *code = static_cast<int32_t>(GetLastError());
        return false;
    }
    return true;
}

int32_t SetReadTimeout(PortHandle handle, int32_t units) {
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(HandleOf(handle), &timeouts)) {
        return Failed(handle, 0);
    }
    const DWORD previous = timeouts.ReadTotalTimeoutConstant;
    const DWORD wanted = ReadTimeoutMs(units);
    if (wanted != previous) {
        timeouts.ReadTotalTimeoutConstant = wanted;
        timeouts.ReadIntervalTimeout = IntervalFor(wanted);
        if (!SetCommTimeouts(HandleOf(handle), &timeouts)) {
            return Failed(handle, 0);
        }
    }
    return static_cast<int32_t>(previous / 10u);
}

int64_t PendingInput(PortHandle handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(HandleOf(handle), &errors, &status)) {
        return LineFailed(handle, int64_t{-1});
    }
    return status.cbInQue;
}

bool ReadWithinTimeout(PortHandle handle, void* buffer, uint32_t count, uint32_t* got) {
    DWORD done = 0;
    const bool read = ReadFile(HandleOf(handle), buffer, count, &done, nullptr);
    *got = done;
    return read || LineFailed(handle, false);
}

int32_t WriteBytes(PortHandle handle, const void* data, uint32_t count, uint32_t* written) {
    DWORD done = 0;
    if (!WriteFile(HandleOf(handle), data, count, &done, nullptr)) {
        return LineFailed(handle, kSerialCallFailed);
    }
    if (written != nullptr) {
        *written = done;
    }
    return done < count ? kSerialWriteShort : kSerialOk;
}

int32_t ReadBytes(PortHandle handle, void* buffer, uint32_t count, int32_t* received) {
    if (received != nullptr) {
        *received = 0;
    }
    uint32_t got = 0;
    if (!ReadWithinTimeout(handle, buffer, count, &got) || got == 0) {
        return kSerialCallFailed;
    }
    if (received != nullptr) {
        *received = static_cast<int32_t>(got);
    }
    return kSerialOk;
}

int32_t SendBreak(uint32_t milliseconds, PortHandle handle) {
    SetCommBreak(HandleOf(handle));
    SleepMilliseconds(milliseconds);
    ClearCommBreak(HandleOf(handle));
    return kSerialOk;
}

const char* SerialErrorText(int32_t code, char* text, size_t size) {
    if (size == 0) {
        return text;
    }
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0, text, static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::snprintf(text, size, "error %ld", static_cast<long>(code));
        return text;
    }
    // System messages end in a full stop and CR LF: the line end goes.
    size_t end = length < size ? length : size - 1;
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ')) {
        --end;
    }
    text[end] = '\0';
    return text;
}
