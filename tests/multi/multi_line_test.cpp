// Several switcher lines in one host: one driver instance per line, each
// served from a thread of its own, as a multi-line host runs them. Each
// line has its own far end that knows the bytes its instance is to send, so
// a crossed line names the instance, the request and the byte. Durations
// come from the environment (QEL_MULTI_SECONDS, QEL_MULTI_STORM_ROUNDS,
// QEL_MULTI_TRACE_ROUNDS, QEL_MULTI_INSTANCES): a few seconds by default,
// about 20 s under ThreadSanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "checksum.h"
#include "cmdlist/command_list.h"
#include "expecting_peer.h"
#include "host_fixture.h"
#include "os/serial_port.h"
#include "scripted_switcher.h"
#include "trace/trace.h"
#include "trace_variable.h"

namespace fs = std::filesystem;

namespace {

int Setting(const char* name, int fallback) {
    const char* text = std::getenv(name);
    const int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

const std::string kAccepted = "*3F\r\n";
constexpr const char* kPreamble = "P\r\r";
// The long reads take this many bytes: a reply of this length ends them at
// once, so the read time-out only matters on a busy machine, where a short
// one would turn a late answer into a retry the far end never asked for.
constexpr size_t kLongReply = 100;
constexpr uint32_t kReadTimeoutUnits = 200;
constexpr uint8_t kFirstClient = 10;

// Threads that meet before each step of a round.
class Meeting {
  public:
    explicit Meeting(int count) : count_(count) {}
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        const int round = round_;
        if (++arrived_ == count_) {
            arrived_ = 0;
            ++round_;
            met_.notify_all();
            return;
        }
        met_.wait(lock, [&] { return round_ != round; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable met_;
    const int count_;
    int arrived_ = 0;
    int round_ = 0;
};

// Faults of one instance's driving thread; only the first are kept whole.
struct FaultList {
    std::vector<std::string> kept;
    int count = 0;
    void Add(const std::string& text) {
        if (kept.size() < 12) {
            kept.push_back(text);
        }
        ++count;
    }
};

struct Instance {
    int number = 0;
    SerialPeer peer;
    std::unique_ptr<ExpectingPeer> farEnd;
    TestContext holder;
    uint8_t client = 0;
    FaultList faults;
    int requests = 0;
    int lookups = 0;
    std::string request;  // the request under way, for the put listener
    std::string incoming;
    std::string Name() const { return "instance " + std::to_string(number); }
    DriverContext* Context() { return &holder.context; }
};

// The instance whose thread is calling the driver: the host library's
// listener runs on that thread.
thread_local Instance* t_current = nullptr;
std::vector<Instance*>* g_byClient = nullptr;

std::string Owner(uint32_t client) {
    for (Instance* instance : *g_byClient) {
        if (instance->client == client) {
            return instance->Name() + "'s";
        }
    }
    return "no instance's";
}

void MOXPRO_CDECL CheckPut(void*, uint32_t client, const char* address, const char* text) {
    Instance* instance = t_current;
    if (instance == nullptr) {
        return;
    }
    if (client != instance->client) {
        instance->faults.Add(instance->Name() + " " + instance->request + ": put into " + address + " through client " +
                             std::to_string(client) + " (" + Owner(client) + "), its own is " +
                             std::to_string(instance->client));
    }
    if (std::strcmp(address, "INCOMING") == 0) {
        instance->incoming = text;
    }
}

std::string Hex2(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

std::string Padded(std::string reply) {
    reply.resize(std::max(reply.size(), kLongReply), '.');
    return reply;
}

// The bytes a message leaves the driver with: the command character, the
// fields, the checksum the switcher emulator computes over the fields, and
// two CRs (the message's own and the link's). Written from the switcher's
// layouts, apart from the driver's encoder.
std::string Wire(char command, const std::string& fields) {
    return command + fields + qelswitch::ChecksumChar(fields) + "\r\r";
}

// A "#" value: bank 1 for 0 to 9, bank 2 (16 to 25) with its preface, the
// same address with "D" for the digit.
struct Built {
    std::string message;
    std::string preface;
};

Built HashWire(const std::string& address, uint16_t number) {
    const bool bankTwo = number >= 16;
    const std::string digit(1, static_cast<char>('0' + (bankTwo ? number - 16 : number)));
    return Built{Wire('#', address + digit), bankTwo ? Wire('#', address + "D") : ""};
}

// Two decimal digits, as "M" values and "L" lengths go.
std::string TwoDigits(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

enum class Kind { kHashOne, kHashTwo, kBits, kText, kList, kLevel, kLoadText, kRead };

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::kHashOne:
            return "# bank 1";
        case Kind::kHashTwo:
            return "# bank 2";
        case Kind::kBits:
            return "! bits";
        case Kind::kText:
            return "SEND_STR";
        case Kind::kList:
            return "GET_STR_FROM_FILE";
        case Kind::kLevel:
            return "M";
        case Kind::kLoadText:
            return "L";
        default:
            return "R";
    }
}

// The mix: mostly the short exchanges, one of each of the long ones ("M",
// "L", "R" wait a second for their reply).
constexpr Kind kMix[] = {Kind::kHashOne, Kind::kHashTwo, Kind::kBits, Kind::kText, Kind::kList, Kind::kLevel,
                         Kind::kHashOne, Kind::kHashTwo, Kind::kBits, Kind::kText, Kind::kList, Kind::kLoadText,
                         Kind::kHashOne, Kind::kHashTwo, Kind::kText, Kind::kList, Kind::kRead};

std::string GateName(const char* what, int number) {
    return what + Hex2(number);
}

// The command list all instances share: one entry each, naming gates of
// its own, so that each look-up shows which client it went through.
void WriteCommandList(int count) {
    std::ofstream list(kCommandListFile, std::ios::binary);
    list << "StartOfCommandList\n";
    for (int number = 1; number <= count; ++number) {
        list << 100 + number << ", C" << Hex2(number) << "@" << GateName("NAME", number) << "$/@"
             << GateName("VAL", number) << "$\n";
    }
    list << "EndOfCommandList\n";
}

// One request of the mix on the instance's line: the far end is told the
// bytes and answers, the request runs, its result and what it left are
// checked.
void RunOne(QelMainFn qelMain, Instance& instance, int n) {
    const Kind kind = kMix[(n + instance.number) % std::size(kMix)];
    const std::string me = Hex2(instance.number);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%06d", n);
    instance.request = "request " + std::to_string(n) + " (" + KindName(kind) + ")";
    ExpectingPeer& farEnd = *instance.farEnd;
    const std::string what = instance.Name() + " " + instance.request;

    std::string address;
    uint32_t format = GATE_FORMAT_NUMERIC;
    uint16_t number = 0;
    std::string text;
    int32_t code = REQ_WRITE_GATE;
    std::string wantIncoming;
    std::string wantText;
    bool checkIncoming = false;
    switch (kind) {
        case Kind::kHashOne:
        case Kind::kHashTwo: {
            address = me + Hex2(n);
            number = static_cast<uint16_t>((kind == Kind::kHashTwo ? 16 : 0) + n % 10);
            const Built built = HashWire(address, number);
            if (!built.preface.empty()) {
                farEnd.Expect(built.preface, kAccepted, what + " preface");
            }
            farEnd.Expect(built.message, kAccepted, what);
            break;
        }
        case Kind::kBits: {
            address = "X" + me + Hex2(n);
            format = GATE_FORMAT_STRING;
            for (int bit = 3; bit >= 0; --bit) {
                text += ((n + instance.number) >> bit & 1) != 0 ? '1' : '0';
            }
            farEnd.Expect(Wire('!', me + Hex2(n) + "00" + text + "2"), kAccepted, what);
            break;
        }
        case Kind::kLevel:
        case Kind::kLoadText:
        case Kind::kRead: {
            const char letter = kind == Kind::kLevel ? 'M' : kind == Kind::kLoadText ? 'L' : 'R';
            address = letter + (kind == Kind::kLevel ? "00" + me : me);
            format = kind == Kind::kLevel ? GATE_FORMAT_NUMERIC : GATE_FORMAT_STRING;
            number = static_cast<uint16_t>(n % 100);
            text = kind == Kind::kLoadText ? "AB" : "old";
            code = kind == Kind::kRead ? REQ_UPDATE_GATE : REQ_WRITE_GATE;
            farEnd.Expect(kPreamble, kAccepted, what + " preamble");
            // The switcher's text ends in a digit and CR: the gate takes what comes before.
            wantText = "I" + me + "N" + serial;
            const std::string wire = kind == Kind::kLevel      ? Wire('M', "00" + me + "01" + TwoDigits(number))
                                     : kind == Kind::kLoadText ? Wire('L', me + TwoDigits(2) + text)
                                                               : Wire('R', me);
            farEnd.Expect(wire, Padded(kind == Kind::kRead ? wantText + "7\r\n" : kAccepted), what);
            break;
        }
        case Kind::kText: {
            address = "SEND_STR";
            format = GATE_FORMAT_STRING;
            text = "FREE" + me + "-" + serial + "-TEXT";
            // A line that sends back what it took, one byte, then its answer:
            // "INCOMING" shows the answer alone.
            const std::string wire = text + "\r";
            wantIncoming = "ACK" + me + "-" + serial;
            farEnd.Expect(wire, Padded(wire + "\n" + wantIncoming + "\r"), what);
            checkIncoming = true;
            break;
        }
        case Kind::kList: {
            address = "GET_STR_FROM_FILE";
            number = static_cast<uint16_t>(100 + instance.number);
            const std::string name = "S" + me + "-" + std::to_string(n);
            MoxSetText(GateName("NAME", instance.number).c_str(), name.c_str());
            MoxSetNumber(GateName("VAL", instance.number).c_str(), n % 1000);
            const std::string wire = "C" + me + name + "/" + std::to_string(n % 1000) + "\n\r";
            wantIncoming = "LST" + me + "-" + serial;
            farEnd.Expect(wire, Padded(wire + "\n" + wantIncoming + "\r"), what);
            checkIncoming = true;
            ++instance.lookups;
            break;
        }
    }

    GateValueArea value = format == GATE_FORMAT_STRING ? GateValueArea(text.c_str()) : GateValueArea(number);
    GateAccessRecord record(address.c_str(), format, value.bytes);
    DriverRequest request = MakeRequest(instance.Context(), code, &record.access);
    instance.incoming = "(nothing)";
    const int32_t result = qelMain(&request);
    ++instance.requests;
    if (result != 0) {
        instance.faults.Add(what + ": result " + std::to_string(result));
    }
    if (checkIncoming && instance.incoming != wantIncoming) {
        instance.faults.Add(what + ": INCOMING shows \"" + Visible(instance.incoming) + "\", not \"" + wantIncoming +
                            "\"");
    }
    if (kind == Kind::kRead && std::string(value.Text()) != wantText) {
        instance.faults.Add(what + ": the R gate holds \"" + Visible(value.Text()) + "\", not its own \"" + wantText +
                            "\"");
    }
}

std::string Listed(const std::vector<std::string>& faults) {
    std::string text;
    for (size_t i = 0; i < faults.size() && i < 80; ++i) {
        text += "\n  " + faults[i];
    }
    if (faults.size() > 80) {
        text += "\n  ... " + std::to_string(faults.size() - 80) + " more";
    }
    return text;
}

#if defined(_WIN32)
int OpenDescriptors() {
    return -1;  // not counted here
}
#else
int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}
#endif

class MultiLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MoxReset();
        MoxDistinctClients(1);
        MoxSetNextClientId(kFirstClient);
        MoxAddGate("OUTGOING", "OUT", GATE_FORMAT_STRING);
        MoxAddGate("INCOMING", "IN", GATE_FORMAT_STRING);
        const int wanted = Setting("QEL_MULTI_INSTANCES", 16);
        for (int number = 1; number <= wanted; ++number) {
            auto instance = std::make_unique<Instance>();
            instance->number = number;
            // Under Wine there are as many lines as scripts/wine-serial made.
            if (!instance->peer.Open(number - 1)) {
                break;
            }
            MoxAddGate(("ADDR_" + GateName("NAME", number)).c_str(), GateName("NAME", number).c_str(),
                       GATE_FORMAT_STRING);
            MoxAddGate(("ADDR_" + GateName("VAL", number)).c_str(), GateName("VAL", number).c_str(),
                       GATE_FORMAT_NUMERIC);
            MoxAddGate(("R" + Hex2(number)).c_str(), GateName("READ", number).c_str(), GATE_FORMAT_STRING);
            instances_.push_back(std::move(instance));
        }
        for (auto& instance : instances_) {
            byClient_.push_back(instance.get());
        }
        g_byClient = &byClient_;
        MoxListenToClientPuts(CheckPut, nullptr);

        previous_ = fs::current_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0;; ++attempt) {
            directory_ = fs::temp_directory_path() / ("qel_multi_" + std::to_string(stamp + attempt));
            if (fs::create_directory(directory_)) {
                break;
            }
        }
        fs::current_path(directory_);
        WriteCommandList(static_cast<int>(instances_.size()));
        descriptors_ = OpenDescriptors();
    }
    void TearDown() override {
        MoxListenToClientPuts(nullptr, nullptr);
        for (auto& instance : instances_) {
            if (instance->farEnd) {
                instance->farEnd->Stop();
            }
            // A test that failed half-way leaves no port open for the next.
            if (used_ != nullptr && instance->Context()->port != kNoPort) {
                Stop(used_, *instance);
            }
        }
        g_byClient = nullptr;
        SetTraceVariable(nullptr);
        SetTraceFileLimitForTest(0);
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    // Runs `work` for every instance on a thread of its own.
    void OnThreads(const std::function<void(Instance&, size_t)>& work) {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < instances_.size(); ++i) {
            threads.emplace_back([&, i] {
                t_current = instances_[i].get();
                work(*instances_[i], i);
                t_current = nullptr;
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    int32_t Load(QelMainFn qelMain, Instance& instance) {
        PortConfig config = MakePortConfig(instance.peer.DriverPortName(), 1, kReadTimeoutUnits);
        DriverRequest request = MakeRequest(instance.Context(), REQ_LOAD, &config);
        return qelMain(&request);
    }
    int32_t Stop(QelMainFn qelMain, Instance& instance) {
        DriverRequest request = MakeRequest(instance.Context(), REQ_STOP);
        return qelMain(&request);
    }

    // Every far end's faults and every thread's, one list.
    std::vector<std::string> AllFaults() {
        std::vector<std::string> all;
        for (auto& instance : instances_) {
            if (instance->farEnd) {
                for (const std::string& fault : instance->farEnd->Faults()) {
                    all.push_back(fault);
                }
            }
            all.insert(all.end(), instance->faults.kept.begin(), instance->faults.kept.end());
            if (instance->faults.count > static_cast<int>(instance->faults.kept.size())) {
                all.push_back(instance->Name() + ": " +
                              std::to_string(instance->faults.count - instance->faults.kept.size()) + " faults more");
            }
        }
        return all;
    }

    void StartFarEnds() {
        for (auto& instance : instances_) {
            instance->farEnd = std::make_unique<ExpectingPeer>(
                instance->peer, std::string("line ") + instance->peer.DriverPortName() + " (" + instance->Name() + ")");
        }
    }
    // The far ends get 15 s in all for what is still on its way.
    void SettleFarEnds() {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        for (auto& instance : instances_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            instance->farEnd->Settle(static_cast<int>(std::max<int64_t>(left.count(), 0)));
            instance->farEnd->Stop();
        }
    }

    std::vector<std::unique_ptr<Instance>> instances_;
    std::vector<Instance*> byClient_;
    fs::path previous_;
    fs::path directory_;
    int descriptors_ = 0;
    QelMainFn used_ = nullptr;  // the driver the test loaded its instances through
};

// Mixed traffic on every line at once: every byte on its own line, every
// "R" text and "INCOMING" the instance's own, every put and look-up through
// the instance's own client.
TEST_F(MultiLineTest, MixedTrafficStaysOnItsOwnLine) {
    ASSERT_GE(instances_.size(), 2u) << "needs two serial lines at least (under Wine: source scripts/wine-serial)";
    const QelMainFn qelMain = LoadedQelMain();
    used_ = qelMain;
    // The host starts every line at once.
    OnThreads([&](Instance& instance, size_t) {
        if (const int32_t result = Load(qelMain, instance); result != 0) {
            instance.faults.Add(instance.Name() + ": start answered " + std::to_string(result));
        }
        instance.client = instance.Context()->clientId;
    });
    StartFarEnds();
    const auto seconds = std::chrono::seconds(Setting("QEL_MULTI_SECONDS", 3));
    const auto end = std::chrono::steady_clock::now() + seconds;
    OnThreads([&](Instance& instance, size_t) {
        for (int n = 0; std::chrono::steady_clock::now() < end; ++n) {
            RunOne(qelMain, instance, n);
        }
    });
    SettleFarEnds();

    int requests = 0;
    uint64_t transmissions = 0;
    for (auto& instance : instances_) {
        requests += instance->requests;
        transmissions += instance->farEnd->Answered();
        // Look-ups of an instance's own gates through another client.
        for (const char* gate : {"NAME", "VAL", "READ"}) {
            const std::string name = GateName(gate, instance->number);
            int own = 0;
            for (int client = 0; client < 256; ++client) {
                const int calls = MoxGateCallCount(name.c_str(), static_cast<uint8_t>(client));
                if (client == instance->client) {
                    own = calls;
                } else if (calls != 0) {
                    instance->faults.Add(instance->Name() + ": its gate " + name + " was reached " +
                                         std::to_string(calls) + " times through client " + std::to_string(client) +
                                         " (" + Owner(static_cast<uint32_t>(client)) + "), its own is " +
                                         std::to_string(instance->client));
                }
            }
            if (std::string(gate) != "READ" && instance->lookups > 0 && own == 0) {
                instance->faults.Add(instance->Name() + ": " + name + " never looked up through its own client " +
                                     std::to_string(instance->client));
            }
        }
        EXPECT_EQ(Stop(qelMain, *instance), 0) << instance->Name();
    }
    std::printf("%zu instances for %d s: %d requests, %llu transmissions checked\n", instances_.size(),
                static_cast<int>(seconds.count()), requests, static_cast<unsigned long long>(transmissions));
    const std::vector<std::string> faults = AllFaults();
    EXPECT_TRUE(faults.empty()) << faults.size() << " faults:" << Listed(faults);
    if (descriptors_ >= 0) {
        EXPECT_EQ(OpenDescriptors(), descriptors_) << "descriptors open after every stop";
    }
}

// Every instance starts at once, round after round: each start answers 0,
// no two records hold the same port, each stop answers 0, and the
// descriptors (each port slot holds one) are back to their count.
TEST_F(MultiLineTest, StartStormGivesEachInstanceItsOwnPort) {
    ASSERT_GE(instances_.size(), 2u) << "needs two serial lines at least (under Wine: source scripts/wine-serial)";
    const QelMainFn qelMain = LoadedQelMain();
    used_ = qelMain;
    const int rounds = Setting("QEL_MULTI_STORM_ROUNDS", 100);
    const size_t count = instances_.size();
    Meeting meeting(static_cast<int>(count));
    std::vector<PortHandle> handles(count);
    std::vector<std::string> faults;
    std::mutex faultsMutex;
    auto fault = [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(faultsMutex);
        if (faults.size() < 60) {
            faults.push_back(text);
        }
    };
    OnThreads([&](Instance& instance, size_t index) {
        for (int round = 1; round <= rounds; ++round) {
            meeting.Wait();
            const int32_t loaded = Load(qelMain, instance);
            if (loaded != 0) {
                fault("round " + std::to_string(round) + ": " + instance.Name() + " start answered " +
                      std::to_string(loaded));
            }
            handles[index] = instance.Context()->port;
            meeting.Wait();
            if (index == 0) {
                for (size_t a = 0; a < count; ++a) {
                    for (size_t b = a + 1; b < count; ++b) {
                        if (handles[a] != kNoPort && handles[a] == handles[b]) {
                            fault("round " + std::to_string(round) + ": " + instances_[a]->Name() + " and " +
                                  instances_[b]->Name() + " both hold port handle " + std::to_string(handles[a]));
                        }
                    }
                }
            }
            meeting.Wait();
            const int32_t stopped = Stop(qelMain, instance);
            if (stopped != 0) {
                fault("round " + std::to_string(round) + ": " + instance.Name() + " stop answered " +
                      std::to_string(stopped));
            }
        }
    });
    EXPECT_TRUE(faults.empty()) << count << " instances, " << rounds << " rounds:" << Listed(faults);
    if (descriptors_ >= 0) {
        EXPECT_EQ(OpenDescriptors(), descriptors_) << "descriptors open after the last stop";
    }
}

// The start storm with half of the opens failing, for two causes at once: a
// device that does not exist and a port the test holds. Each failed open's
// trace lines carry its own cause: the error never comes from another
// thread's open.
TEST_F(MultiLineTest, FailedStartsInAStormEachTraceTheirOwnCause) {
    ASSERT_GE(instances_.size(), 3u) << "needs three serial lines at least (under Wine: source scripts/wine-serial)";
    const fs::path file = directory_ / "storm_trace.txt";
    SetTraceVariable(file.string().c_str());
    used_ = QelMain;
    enum class Plan { kOpens, kMissing, kHeld };
    const size_t count = instances_.size();
    std::vector<Plan> plans(count);
    std::vector<std::string> names(count);
    std::vector<PortHandle> held;
#if defined(_WIN32)
    // Wine lets this process open a COM port it holds a second time: the
    // second cause there is a folder.
    const std::string secondCause = "not a serial port (a folder)";
#else
    const std::string secondCause = "held by another";
#endif
    for (size_t i = 0; i < count; ++i) {
        constexpr Plan kPlans[] = {Plan::kOpens, Plan::kMissing, Plan::kHeld, Plan::kOpens};
        plans[i] = kPlans[i % std::size(kPlans)];
        names[i] = plans[i] == Plan::kMissing ? "qelnx" + Hex2(static_cast<int>(i))
                                              : std::string(instances_[i]->peer.DriverPortName());
#if defined(_WIN32)
        if (plans[i] == Plan::kHeld) {
            names[i] = "f" + Hex2(static_cast<int>(i));
            fs::create_directory(names[i]);
        }
#else
        if (plans[i] == Plan::kHeld) {
            PortHandle handle = kNoPort;
            ASSERT_EQ(OpenSerialPort(names[i].c_str(), kDefaultLine, kLineControlDtrRts, &handle), kSerialOk);
            held.push_back(handle);
        }
#endif
    }
    const int rounds = std::max(Setting("QEL_MULTI_STORM_ROUNDS", 100) / 5, 2);
    Meeting meeting(static_cast<int>(count));
    std::vector<std::string> wrongResults(count);  // each thread writes its own
    OnThreads([&](Instance& instance, size_t index) {
        PortConfig config = MakePortConfig(names[index].c_str(), 1, kReadTimeoutUnits);
        for (int round = 1; round <= rounds; ++round) {
            meeting.Wait();
            DriverRequest load = MakeRequest(instance.Context(), REQ_LOAD, &config);
            if (const int32_t result = QelMain(&load); result != (plans[index] == Plan::kOpens ? 0 : 2)) {
                wrongResults[index] = names[index] + " answered " + std::to_string(result);
            }
            meeting.Wait();
            Stop(QelMain, instance);
        }
    });
    for (const PortHandle handle : held) {
        CloseSerialPort(handle);
    }
    for (const std::string& wrong : wrongResults) {
        EXPECT_TRUE(wrong.empty()) << wrong;
    }

    // Each line that names a failed port must carry that port's own cause.
    constexpr int32_t kNoSuchFile = 2;  // ENOENT and ERROR_FILE_NOT_FOUND alike
    const std::string noSuchFile = "(OS error " + std::to_string(kNoSuchFile) + ":";
    std::vector<std::string> faults;
    int failedOpens = 0;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const bool portLine = line.find(" open failed") != std::string::npos;
        const bool reasonLine = line.find(" not opened: ") != std::string::npos;
        if (!portLine && !reasonLine) {
            continue;
        }
        size_t i = 0;
        while (i < count && line.find(" " + names[i] + " ") == std::string::npos) {
            ++i;
        }
        failedOpens += portLine ? 1 : 0;
        const bool missing = i < count && plans[i] == Plan::kMissing;
        const bool right = i < count && plans[i] != Plan::kOpens &&
                           (line.find(noSuchFile) != std::string::npos) == missing &&
                           (!reasonLine || line.find(missing ? "no such port" : secondCause) != std::string::npos);
        if (!right && faults.size() < 40) {
            faults.push_back(line);
        }
    }
    const auto failing = std::count_if(plans.begin(), plans.end(), [](Plan plan) { return plan != Plan::kOpens; });
    EXPECT_EQ(failedOpens, rounds * static_cast<int>(failing)) << "failed opens traced";
    EXPECT_TRUE(faults.empty()) << faults.size() << " lines with another's cause:" << Listed(faults);
}

// Lines in one trace file, counted by their request ends.
int CountEnds(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find("] END WRITE_GATE") != std::string::npos) {
            ++count;
        }
    }
    return count;
}

// Every instance on one trace file with a small limit, round after round
// until it rolled over (FILE.1 is then removed for the next round): every request's end line is in the file or
// in FILE.1, FILE.1 is a full file, and no instance stopped tracing. The
// limit is the driver's test setter, so this runs on the driver's core
// linked into the test (as the trace tests do), not the loaded library.
TEST_F(MultiLineTest, SharedTraceRollsOverOnceWithoutLosingLines) {
    ASSERT_GE(instances_.size(), 2u) << "needs two serial lines at least (under Wine: source scripts/wine-serial)";
    constexpr uint32_t kLimit = 16 * 1024;
    const fs::path file = directory_ / "shared_trace.txt";
    const fs::path older = directory_ / "shared_trace.txt.1";
    SetTraceVariable(file.string().c_str());
    SetTraceFileLimitForTest(kLimit);
    used_ = QelMain;
    for (auto& instance : instances_) {
        ASSERT_EQ(Load(QelMain, *instance), 0) << instance->Name();
        instance->client = instance->Context()->clientId;
    }
    StartFarEnds();
    const int rounds = Setting("QEL_MULTI_TRACE_ROUNDS", 5);
    std::vector<std::string> faults;
    for (int round = 1; round <= rounds; ++round) {
        const int before = CountEnds(file);
        std::atomic<bool> rolled{false};
        std::atomic<int> requests{0};
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        OnThreads([&](Instance& instance, size_t) {
            for (int n = 0; !rolled && std::chrono::steady_clock::now() < giveUp; ++n) {
                // "#" only: each request's trace ends in one END line.
                const std::string address = Hex2(instance.number) + Hex2(n);
                const uint16_t number = static_cast<uint16_t>(n % 10);
                instance.request = "round " + std::to_string(round) + " request " + std::to_string(n);
                instance.farEnd->Expect(HashWire(address, number).message, kAccepted,
                                        instance.Name() + " " + instance.request);
                GateValueArea value(number);
                GateAccessRecord record(address.c_str(), GATE_FORMAT_NUMERIC, value.bytes);
                DriverRequest request = MakeRequest(instance.Context(), REQ_WRITE_GATE, &record.access);
                if (QelMain(&request) != 0) {
                    instance.faults.Add(instance.Name() + " " + instance.request + ": result not 0");
                }
                ++requests;
                if (fs::exists(older)) {
                    rolled = true;
                }
            }
        });
        const std::string name = "round " + std::to_string(round) + ": ";
        if (!rolled) {
            faults.push_back(name + "the file never rolled over");
            break;
        }
        const int after = CountEnds(older) + CountEnds(file);
        if (after != before + requests) {
            faults.push_back(name + std::to_string(before + requests - after) + " of " +
                             std::to_string(before + requests) + " request end lines missing from the file and " +
                             older.filename().string());
        }
        const auto olderSize = fs::file_size(older);
        if (olderSize + kTraceLineSize < kLimit) {
            faults.push_back(name + older.filename().string() + " holds " + std::to_string(olderSize) +
                             " bytes: a fresh file took the place of the full one");
        }
        // An instance still writing into the file rolled away loses its
        // lines from here on: the next round counts them missing.
        std::error_code error;
        if (!fs::remove(older, error)) {
            faults.push_back(name + "cannot remove " + older.filename().string() + ": " + error.message());
            break;
        }
    }
    for (int i = 0; i < MoxLogCount(); ++i) {
        if (std::string(MoxLogLine(i)).find("Cannot write trace") != std::string::npos) {
            faults.push_back(std::string("log: ") + MoxLogLine(i));
        }
    }
    SettleFarEnds();
    for (auto& instance : instances_) {
        EXPECT_EQ(Stop(QelMain, *instance), 0) << instance->Name();
        TraceClose(&instance->Context()->trace);
    }
    const std::vector<std::string> others = AllFaults();
    faults.insert(faults.end(), others.begin(), others.end());
    EXPECT_TRUE(faults.empty()) << instances_.size() << " instances on one trace file:" << Listed(faults);
}

}  // namespace
