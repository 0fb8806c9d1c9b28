// qelswitch.exe: the switcher emulator on a Windows COM port (a null-modem
// cable, a USB pair or a virtual COM pair). The line is the driver's own
// serial layer (os/serial_port.h); commands come from the console on a
// thread of their own; the control loop and everything the switcher decides
// are the portable session's (session.h), as on Linux.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "options.h"
#include "os/deadline.h"
#include "os/serial_port.h"
#include "qel_version.h"
#include "say.h"
#include "session.h"

namespace {

using namespace qelswitch;

// One read of the line waits at most this long (units of 10 ms), so that
// due answers and console commands are never held up longer.
constexpr int32_t kReadSliceUnits = 1;
constexpr uint32_t kReadChunk = 4096;

std::atomic<bool> g_interrupted{false};

// Reads away what waited on the line before it was opened (a read slice at
// a time, at most 256 reads, so a line that never falls quiet cannot hold
// the start) and says how many bytes went: none of them is carried out.
size_t DiscardWaiting(PortHandle port) {
    constexpr int kMostReads = 256;
    SetReadTimeout(port, kReadSliceUnits);
    size_t discarded = 0;
    char buffer[kReadChunk];
    int32_t received = 0;
    for (int read = 0; read < kMostReads; ++read) {
        if (ReadBytes(port, buffer, sizeof buffer, &received) != kSerialOk || received <= 0) break;
        discarded += static_cast<size_t>(received);
    }
    return discarded;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
    g_interrupted = true;
    return TRUE;
}

// The console's lines, read on their own thread: a blocking read of the
// console would otherwise stop the line. As on Linux, the end of a console
// or a pipe ends the emulator; a file is a list of commands, after which it
// goes on; NUL is not read at all.
struct Console {
    std::mutex mutex;
    std::deque<std::string> lines;
    bool ended = false;
    bool endIsExit = true;

    void Start() {
        HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        const DWORD type = GetFileType(input);
        if (input == nullptr || input == INVALID_HANDLE_VALUE ||
            (type == FILE_TYPE_CHAR && !GetConsoleMode(input, &mode))) {
            return;
        }
        endIsExit = type != FILE_TYPE_DISK;
        std::thread([this] {
            std::string line;
            while (std::getline(std::cin, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                std::lock_guard<std::mutex> lock(mutex);
                lines.push_back(line.substr(0, kMaxControlLine + 1));
            }
            std::lock_guard<std::mutex> lock(mutex);
            ended = true;
        }).detach();
    }

    // The next line, or false; *ended once the input has ended and every
    // line is taken.
    bool Take(std::string* line, bool* endedNow) {
        std::lock_guard<std::mutex> lock(mutex);
        *endedNow = ended && endIsExit && lines.empty();
        if (lines.empty()) return false;
        *line = std::move(lines.front());
        lines.pop_front();
        return true;
    }
};

LineSettings LineOf(const Options& options) {
    const char parities[] = "NOEMS";  // in the Windows coding's order
    uint16_t parity = 0;
    for (uint16_t code = 0; code < 5; ++code) {
        if (parities[code] == options.parity) parity = code;
    }
    return LineSettings{static_cast<uint16_t>(options.baud), static_cast<uint16_t>(options.dataBits),
                        static_cast<uint16_t>(options.stopBits == 2 ? kTwoStopBits : kOneStopBit), parity};
}

bool RefusePosixOnly(const Options& options, std::string* error) {
    if (options.device.empty()) {
        *error = "--device COMn: qelswitch.exe answers on a COM port and has no pseudo-terminal";
    } else if (!options.link.empty() || !options.controlFifo.empty() || !options.ptyFile.empty()) {
        *error = "--link, --control and --pty-file are for pseudo-terminals, which Windows has not";
    } else if (options.replugAfter >= 0) {
        *error = "--replug-after: a COM port cannot pull the far end's cable";
    } else {
        return false;
    }
    return true;
}

class ComPortFrontEnd : public FrontEnd {
  public:
    ComPortFrontEnd(const Options& options, PortHandle port) : options_(options), port_(port) {}

    Console console;

    // Writes return once the port has taken the bytes.
    int64_t Write(std::string_view bytes) override {
        uint32_t written = 0;
        WriteBytes(port_, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
        return written;
    }

    void Drain(int) override {}

    // One read slice (kReadSliceUnits) at a time: due answers and console
    // lines are looked at after each.
    void Wait(Session& session, int64_t) override {
        if (g_interrupted) return End(session, "signal");
        char buffer[kReadChunk];
        int32_t received = 0;
        if (ReadBytes(port_, buffer, sizeof buffer, &received) == kSerialOk && received > 0) {
            Receive(session, std::string_view(buffer, static_cast<size_t>(received)));
        }
        if (SerialPortLost(port_)) {
            std::fprintf(stderr, "qelswitch: %s: the line went away\n", options_.device.c_str());
            return End(session, "line lost", 1);
        }
        std::string line;
        bool ended = false;
        while (!session.ended && console.Take(&line, &ended)) RunControlLine(session, line);
        if (ended) End(session, "end of input");
    }

    void Unplug(Session&, uint64_t) override {
        std::fprintf(stderr, "qelswitch: replug: a COM port cannot pull the far end's cable\n");
    }

  private:
    const Options& options_;
    PortHandle port_;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int doneStatus = 0;
    if (!TakeCommandLine(argc, argv, QELKOPHV_VERSION, &options, &doneStatus, RefusePosixOnly)) return doneStatus;
    SetTimeStamps(options.timeStamps);
    PortHandle port = kNoPort;
    SerialError error{};
    if (OpenSerialPort(options.device.c_str(), LineOf(options), kLineControlDtrRts, &port, &error) != kSerialOk) {
        char text[160];
        std::fprintf(stderr, "qelswitch: cannot open %s: %s\n", options.device.c_str(),
                     SerialErrorText(error.osError, text, sizeof text));
        return 1;
    }
    const size_t discarded = DiscardWaiting(port);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    Say("%s\n", options.device.c_str());
    SayDiscarded(discarded);

    ComPortFrontEnd frontEnd(options, port);
    if (options.control) frontEnd.console.Start();
    // On a console the state is what is left to see: always shown.
    options.printState = true;
    Session session;
    StartSession(session, options, frontEnd);
    const int status = RunSession(session);
    CloseSerialPort(port);
    // The console thread may still wait for a line: end without it.
    ExitProcess(static_cast<UINT>(status));
}
