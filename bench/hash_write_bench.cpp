// One '#' write in bank 1 as the host makes it, through QelMain, against a
// switcher that answers at once on a pseudo-terminal: the protocol's 80 ms
// wait and what the driver adds to it, with the trace off (argument 0) and
// on (1), so that one run shows what the trace costs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "context/context.h"
#include "instant_answer.h"
#include "link/port.h"
#include "moxpro_control.h"
#include "os/serial_port.h"
#include "os/sleep.h"
#include "trace/trace.h"

namespace {

const std::string kAccepted = "*01\r\n";

void HashWriteBankOne(benchmark::State& state) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const char* slave = ptsname(master);
    PortSettings settings{};
    std::snprintf(settings.portName, sizeof settings.portName, "%s", slave + std::strlen("/dev/"));
    settings.line = LineSettings{9600, 8, 0, 0};
    settings.lineControl = kLineControlDtrRts;

    static DriverContext context;
    std::memset(&context, 0, sizeof context);
    HoldPort(&context, OpenPort(settings));
    if (context.port == kNoPort) {
        state.SkipWithError("cannot open the pseudo-terminal's slave");
        close(master);
        return;
    }
    MoxReset();
    MoxAddGate("OUTGOING", "OUT", 7);
    MoxAddGate("INCOMING", "IN", 7);
    SetSleepFunction(nullptr);
    g_readyLevel = kReadyLevel;

    // The trace as a load opens it, into a file of its own.
    char tracePath[] = "/tmp/qel_bench_trace_XXXXXX";
    const bool traced = state.range(0) != 0;
    if (traced) {
        const int file = mkstemp(tracePath);
        if (file >= 0) {
            close(file);
        }
        setenv(kTraceVariable, tracePath, 1);
        if (!TraceOpen(&context.trace, 1, nullptr)) {
            state.SkipWithError("the trace did not open");
        }
    }

    std::atomic<bool> stopping{false};
    std::thread switcher(AnswerAtOnce, master, std::cref(stopping), std::cref(kAccepted));

    char address[] = "0102";
    alignas(4) unsigned char value[8] = {};
    GateAccess access{};
    access.address = address;
    access.format = 0;
    access.value = value;
    DriverRequest request{&context, REQ_WRITE_GATE, 0, 0, &access};
    for (auto _ : state) {
        value[2] = 5;
        if (QelMain(&request) != 0) {
            state.SkipWithError("write refused");
            break;
        }
    }

    stopping = true;
    switcher.join();
    CloseSerialPort(context.port);
    close(master);
    if (traced) {
        TraceClose(&context.trace);
        unsetenv(kTraceVariable);
        unlink(tracePath);
    }
}

}  // namespace

BENCHMARK(HashWriteBankOne)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Iterations(20)
    ->Repetitions(5);
