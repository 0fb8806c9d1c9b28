#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "serial_peer.h"

namespace {

// Every byte as it is, no flow control: the peer sees the wire.
bool MakeRaw(HANDLE port) {
    DCB state{};
    state.DCBlength = sizeof state;
    if (!GetCommState(port, &state)) {
        return false;
    }
    state.BaudRate = 9600;
    state.ByteSize = 8;
    state.StopBits = ONESTOPBIT;
    state.Parity = NOPARITY;
    state.fBinary = 1;
    state.fParity = 0;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    state.fOutX = 0;
    state.fInX = 0;
    state.fNull = 0;
    state.fErrorChar = 0;
    state.fAbortOnError = 0;
    return SetCommState(port, &state) != 0;
}

// Reads that return at once with what has come, or after waitMs with
// nothing; writes that give up after 2 s.
void SetWaits(HANDLE port, DWORD waitMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = std::max<DWORD>(waitMs, 1);
    timeouts.WriteTotalTimeoutConstant = 2000;
    SetCommTimeouts(port, &timeouts);
}

// The lines' environment variables: the driver's port and the peer's.
constexpr const char* kLineVariables[][2] = {
    {"QEL_TEST_PORT", "QEL_TEST_PEER_PORT"},
    {"QEL_TEST_PORT2", "QEL_TEST_PEER_PORT2"},
    {"QEL_TEST_PORT3", "QEL_TEST_PEER_PORT3"},
};

// Ports above COM9 open only through the device namespace.
HANDLE OpenComPort(const std::string& name) {
    const std::string path = name.rfind("\\\\", 0) == 0 ? name : "\\\\.\\" + name;
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

SerialPeer::~SerialPeer() {
    if (handle_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(handle_));
    }
}

bool SerialPeer::Open(int line) {
    if (line < 0 || line > 2) {
        return false;
    }
    const char* driverPort = std::getenv(kLineVariables[line][0]);
    const char* peerPort = std::getenv(kLineVariables[line][1]);
    if (handle_ != nullptr || driverPort == nullptr || peerPort == nullptr) {
        return false;
    }
    HANDLE port = OpenComPort(peerPort);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!MakeRaw(port)) {
        CloseHandle(port);
        return false;
    }
    handle_ = port;
    driverPortName_ = driverPort;
    // The line outlives each test: start both ends empty.
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    HANDLE driverEnd = OpenComPort(driverPort);
    if (driverEnd != INVALID_HANDLE_VALUE) {
        PurgeComm(driverEnd, PURGE_RXCLEAR | PURGE_TXCLEAR);
        CloseHandle(driverEnd);
    }
    return true;
}

void SerialPeer::Send(const std::string& bytes) {
    if (handle_ == nullptr) {
        return;
    }
    SetWaits(static_cast<HANDLE>(handle_), 1);
    DWORD written = 0;
    WriteFile(static_cast<HANDLE>(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::string SerialPeer::Receive(size_t count, int timeoutMs) {
    std::string received;
    const Deadline deadline = DeadlineIn(timeoutMs);
    char buffer[512];
    while (handle_ != nullptr && received.size() < count) {
        const DWORD wait = static_cast<DWORD>(RemainingMs(deadline));
        if (wait == 0) {
            break;
        }
        SetWaits(static_cast<HANDLE>(handle_), wait);
        DWORD got = 0;
        const DWORD asked = static_cast<DWORD>(std::min(sizeof buffer, count - received.size()));
        if (!ReadFile(static_cast<HANDLE>(handle_), buffer, asked, &got, nullptr)) {
            break;
        }
        received.append(buffer, got);
    }
    return received;
}

// Wine's serial ports are pseudo-terminals that socat holds; the test cannot
// take them away.
bool SerialPeer::CanHangUp() const {
    return false;
}

void SerialPeer::HangUp() {}

bool SerialPeer::ReadDriverLine(PeerLineView* view) const {
    HANDLE port = OpenComPort(driverPortName_);
    if (port == INVALID_HANDLE_VALUE) {
        return false;
    }
    DCB state{};
    state.DCBlength = sizeof state;
    const bool read = GetCommState(port, &state) != 0;
    CloseHandle(port);
    if (!read) {
        return false;
    }
    view->baudRate = state.BaudRate;
    view->dataBits = state.ByteSize;
    view->stopBits = state.StopBits;
    view->parity = state.Parity;
    return true;
}
