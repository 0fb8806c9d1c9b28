#include "scripted_switcher.h"

#include <cstdio>
#include <cstring>

#include "link/port.h"
#include "os/serial_port.h"
#include "os/sleep.h"

namespace {

// Every message the driver encodes, and its preamble, ends in its own CR and
// the link's: that pair closes a transmission even when the next follows at
// once. Texts sent as they stand end in one CR and are closed by a quiet line.
const std::string kMessageEnd = "\r\r";

#if defined(_WIN32)
// Under Wine a relay sits between the two ends.
constexpr int kQuietMs = 40;
#else
constexpr int kQuietMs = 20;
#endif
constexpr int kPollMs = 20;

std::vector<std::string> g_trace;
std::vector<uint32_t> g_waits;

void RecordWait(uint32_t milliseconds) {
    g_waits.push_back(milliseconds);
    g_trace.push_back(std::to_string(milliseconds));
}

void MOXPRO_CDECL RecordEcho(void*, const char* address, const char*) {
    if (std::strcmp(address, "OUTGOING") == 0) {
        g_trace.push_back("send");
    } else if (std::strcmp(address, "INCOMING") == 0) {
        g_trace.push_back("read");
    }
}

}  // namespace

ScriptedSwitcher::ScriptedSwitcher(SerialPeer& peer, std::vector<std::string> replies, bool echo)
    : peer_(peer), replies_(std::move(replies)), echo_(echo), thread_([this] { Run(); }) {}

ScriptedSwitcher::~ScriptedSwitcher() {
    Stop();
}

void ScriptedSwitcher::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        thread_.join();
    }
}

std::vector<std::string> ScriptedSwitcher::Transmissions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transmissions_;
}

void ScriptedSwitcher::Record(const std::string& transmission) {
    std::lock_guard<std::mutex> lock(mutex_);
    transmissions_.push_back(transmission);
}

void ScriptedSwitcher::Answer(const std::string& transmission) {
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        transmissions_.push_back(transmission);
        index = transmissions_.size() - 1;
    }
    std::string answer = echo_ ? transmission : std::string();
    if (index < replies_.size()) {
        answer += replies_[index];
    }
    if (!answer.empty()) {
        peer_.Send(answer);
    }
}

void ScriptedSwitcher::SplitAndRecord(std::string pending) {
    for (size_t end = pending.find(kMessageEnd); end != std::string::npos; end = pending.find(kMessageEnd)) {
        Record(pending.substr(0, end + kMessageEnd.size()));
        pending.erase(0, end + kMessageEnd.size());
    }
    if (!pending.empty()) {
        Record(pending);
    }
}

void ScriptedSwitcher::Run() {
    std::string pending;
    while (!stopping_) {
        const size_t end = pending.find(kMessageEnd);
        if (end != std::string::npos) {
            Answer(pending.substr(0, end + kMessageEnd.size()));
            pending.erase(0, end + kMessageEnd.size());
            continue;
        }
        std::string more = peer_.Receive(1, pending.empty() ? kPollMs : kQuietMs);
        if (!more.empty()) {
            pending += more + peer_.Receive(4096, 1);
            continue;
        }
        if (!pending.empty()) {
            Answer(pending);
            pending.clear();
        }
    }
    // What the driver sent last may not have been read yet.
    pending += peer_.ReceiveUntilQuiet(kQuietMs, 1000);
    SplitAndRecord(pending);
}

void SwitcherTest::SetUp() {
    HostTest::SetUp();
    g_trace.clear();
    g_waits.clear();
    if (!peer.Open()) {
        FAIL() << "no serial line here (under Wine: source scripts/wine-serial)";
    }
    PortSettings settings{};
    std::snprintf(settings.portName, sizeof settings.portName, "%s", peer.DriverPortName());
    settings.line = LineSettings{9600, 8, 0, 0};
    settings.lineControl = kLineControlDtrRts;
    HoldPort(context, OpenPort(settings));
    ASSERT_NE(context->port, kNoPort) << peer.DriverPortName();
    SetReadTimeout(context->port, kTestReadTimeoutUnits);
    context->clientId = 3;
    g_readyLevel = kReadyLevel;
    MoxAddGate("OUTGOING", "OUT", GATE_FORMAT_STRING);
    MoxAddGate("INCOMING", "IN", GATE_FORMAT_STRING);
    MoxListenToPuts(RecordEcho, nullptr);
    SetSleepFunction(RecordWait);
}

void SwitcherTest::TearDown() {
    if (switcher) {
        switcher->Stop();
    }
    SetSleepFunction(nullptr);
    MoxListenToPuts(nullptr, nullptr);
    if (context->port != kNoPort) {
        CloseSerialPort(context->port);
        context->port = kNoPort;
    }
}

void SwitcherTest::Answer(std::vector<std::string> replies, bool echo) {
    switcher = std::make_unique<ScriptedSwitcher>(peer, std::move(replies), echo);
}

std::vector<std::string> SwitcherTest::Wire() {
    if (!switcher) {
        // Nothing answered: whatever reached the line is still there.
        Answer({});
    }
    switcher->Stop();
    std::vector<std::string> shown;
    for (const std::string& transmission : switcher->Transmissions()) {
        shown.push_back(Visible(transmission));
    }
    return shown;
}

std::string SwitcherTest::Trace() const {
    std::string joined;
    for (const std::string& event : g_trace) {
        joined += (joined.empty() ? "" : " ") + event;
    }
    return joined;
}

const std::vector<uint32_t>& SwitcherTest::Waits() const {
    return g_waits;
}
