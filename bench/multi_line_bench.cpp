// Several lines in one host, with real waits: N instances of the driver
// library, each on a thread of its own, write "#" in bank 1 as fast as the
// protocol lets them, each answered at once by a far end of its own. One
// instance alone runs before and after all of them together, so one run
// shows both rates side by side: the instances stay independent while the
// rate of all together is at least 95% of N times the rate of one (a lock
// held across a line's I/O or wait shows here as a rate near one
// instance's). Usage: multi_line_bench [--instances N] [--seconds S]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "context/context.h"
#include "driver_library.h"
#include "instant_answer.h"
#include "moxpro_control.h"

namespace {

const std::string kAccepted = "*3F\r\n";

// A line: the pseudo-terminal whose slave the driver opens, and the far
// end on its master, answering each message, closed by its two CRs, as
// soon as it has come in.
struct Line {
    int master = -1;
    int slave = -1;
    char name[64] = {};
    std::atomic<bool> stopping{false};
    std::thread answering;

    bool Open() {
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            return false;
        }
        termios raw{};
        tcgetattr(master, &raw);
        cfmakeraw(&raw);
        tcsetattr(master, TCSANOW, &raw);
        answering = std::thread([this] { AnswerAtOnce(master, stopping, kAccepted); });
        return true;
    }
    ~Line() {
        stopping = true;
        if (answering.joinable()) {
            answering.join();
        }
        close(master);
        close(slave);
    }
};

struct Instance {
    Line line;
    DriverContext context{};
    int failures = 0;
};

int32_t Request(DriverContext* context, int32_t code, void* data) {
    DriverRequest request{};
    request.context = context;
    request.code = code;
    request.data = data;
    return LoadedQelMain()(&request);
}

// Writes "#" until `seconds` have passed; the number of writes.
long WriteFor(Instance& instance, double seconds) {
    char address[] = "0102";
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long writes = 0;
    while (std::chrono::steady_clock::now() < end) {
        alignas(4) unsigned char value[256] = {};
        value[2] = static_cast<unsigned char>(writes % 10);
        GateAccess access{};
        access.address = address;
        access.format = 0;
        access.value = value;
        if (Request(&instance.context, REQ_WRITE_GATE, &access) != 0) {
            ++instance.failures;
        }
        ++writes;
    }
    return writes;
}

double Rate(long writes, std::chrono::steady_clock::duration took) {
    return static_cast<double>(writes) / std::chrono::duration<double>(took).count();
}

double AloneRate(Instance& instance, double seconds) {
    const auto start = std::chrono::steady_clock::now();
    const long writes = WriteFor(instance, seconds);
    return Rate(writes, std::chrono::steady_clock::now() - start);
}

double TogetherRate(std::vector<std::unique_ptr<Instance>>& instances, double seconds) {
    std::vector<long> writes(instances.size());
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < instances.size(); ++i) {
        threads.emplace_back([&, i] { writes[i] = WriteFor(*instances[i], seconds); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    long total = 0;
    for (long count : writes) {
        total += count;
    }
    return Rate(total, took);
}

}  // namespace

int main(int argc, char** argv) {
    int count = 16;
    double seconds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--instances") == 0) {
            count = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[i + 1]);
        }
    }
    if (count < 1 || seconds <= 0) {
        std::fprintf(stderr, "usage: multi_line_bench [--instances N] [--seconds S]\n");
        return 2;
    }
    MoxReset();
    MoxDistinctClients(1);
    MoxAddGate("OUTGOING", "OUT", 7);
    MoxAddGate("INCOMING", "IN", 7);

    std::vector<std::unique_ptr<Instance>> instances;
    for (int i = 0; i < count; ++i) {
        auto instance = std::make_unique<Instance>();
        if (!instance->line.Open()) {
            std::fprintf(stderr, "no pseudo-terminal for instance %d\n", i + 1);
            return 2;
        }
        PortConfig config{};
        std::snprintf(config.portName, sizeof config.portName, "%s", instance->line.name + 5);
        config.enabled = 1;
        config.timeout = 10;
        config.line = LineSettings{9600, 8, 0, 0};
        if (const int32_t result = Request(&instance->context, REQ_LOAD, &config); result != 0) {
            std::fprintf(stderr, "instance %d: start answered %d\n", i + 1, result);
            return 2;
        }
        instances.push_back(std::move(instance));
    }

    const double before = AloneRate(*instances[0], seconds);
    const double together = TogetherRate(instances, seconds);
    const double after = AloneRate(*instances[0], seconds);
    const double one = (before + after) / 2;
    const double share = together / (count * one);
    int failures = 0;
    for (auto& instance : instances) {
        failures += instance->failures;
        Request(&instance->context, REQ_STOP, nullptr);
    }
    std::printf("one instance alone:   %8.2f writes/s (%.2f before, %.2f after)\n", one, before, after);
    std::printf("%2d x one instance:    %8.2f writes/s\n", count, count * one);
    std::printf("%2d instances at once: %8.2f writes/s, %.1f%% of %d x one: %s\n", count, together, 100 * share, count,
                share >= 0.95 ? "at least 95%, independent" : "BELOW 95%");
    if (failures != 0) {
        std::printf("%d writes answered other than 0\n", failures);
    }
    return share >= 0.95 && failures == 0 ? 0 : 1;
}
