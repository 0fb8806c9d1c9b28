// A line that goes away under the driver and comes back: the loss seen and
// logged once, the requests that find the line gone answering at once, the
// reopen on whatever line is behind the port's name, and the host's own
// requests ending the recovery. The port's name is a symbolic link that the
// test moves from one pseudo-terminal to the next; the far end hangs up as
// an unplugged device would. Under Wine the far end cannot hang up: the
// unplug scenario shows what Wine does.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "link/port.h"
#include "os/sleep.h"
#include "scripted_switcher.h"
#include "serial_peer.h"

#if !defined(_WIN32)
#include <unistd.h>

#include <cstdio>

namespace {

enum class Do {
    kWrite,  // "#" 0102 = 5
    kWarmStart,
    kClose,
    kStop,
    kLoad,
    kOpenPort,
    kReconfigure,
    kHangUp,       // the far end closes its side
    kReplug,       // a new line behind the port's name
    kTryNow,       // the reopen interval is over
    kTryLater,     // the next reopen interval has begun
    kReadTimeout,  // the held port's read time-out is `result` units
};

struct Step {
    Do action;
    int32_t result = 0;
    // The log lines the step adds, joined by '|'; $PORT is the port's name.
    std::string log;
};

struct RecoveryCase {
    const char* name;
    std::vector<Step> steps;
    size_t reachedLastLine;  // transmissions the last line plugged in received
};

void PrintTo(const RecoveryCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kLost = "QELPA : Lost $PORT";
const std::string kReopened = "QELPA : Reopened $PORT";
const std::string kWarm = "QELEX: Warm Start.";
const std::string kLoaded = "QELPHV: loaded successfully";

const RecoveryCase kCases[] = {
    {"TheLineComesBackBehindItsName",
     {{Do::kWrite, 0},
      {Do::kHangUp},
      {Do::kWrite, 1, kLost},
      {Do::kWrite, 1},
      {Do::kWarmStart, 0, kWarm},
      {Do::kReplug},
      {Do::kWrite, 1},  // back, but within the interval since the loss
      {Do::kTryNow},
      {Do::kWrite, 0, kReopened},
      {Do::kReadTimeout, 500},
      {Do::kWrite, 0}},
     2},
    {"AFailedTryWaitsForTheNextInterval",
     {{Do::kHangUp},
      {Do::kWrite, 1, kLost},
      {Do::kTryNow},
      {Do::kWrite, 1},  // tried: nothing behind the name
      {Do::kTryLater},
      {Do::kReplug},
      {Do::kWrite, 1},
      {Do::kTryNow},
      {Do::kWrite, 0, kReopened}},
     1},
    {"AWarmStartReopens",
     {{Do::kHangUp},
      {Do::kWrite, 1, kLost},
      {Do::kReplug},
      {Do::kTryNow},
      {Do::kWarmStart, 0, kReopened + "|" + kWarm}},
     0},
    {"CloseEndsTheRecovery",
     {{Do::kHangUp},
      {Do::kWrite, 1, kLost},
      {Do::kClose, 0},
      {Do::kReplug},
      {Do::kTryNow},
      {Do::kWrite, 1},
      {Do::kWarmStart, 0, kWarm}},
     0},
    {"StopEndsTheRecovery",
     {{Do::kHangUp}, {Do::kWrite, 1, kLost}, {Do::kStop, 0}, {Do::kReplug}, {Do::kTryNow}, {Do::kWrite, 1}},
     0},
    {"LoadOpensAsBefore",
     {{Do::kHangUp},
      {Do::kWrite, 1, kLost},
      {Do::kReplug},
      {Do::kLoad, 0, kLoaded},
      {Do::kTryNow},
      {Do::kWrite, 0},
      {Do::kReadTimeout, 500}},
     1},
    {"OpenPortOpensAsBefore",
     {{Do::kHangUp},
      {Do::kWrite, 1, kLost},
      {Do::kReplug},
      {Do::kOpenPort, 0},
      {Do::kTryNow},
      {Do::kWrite, 0},
      {Do::kReadTimeout, 100}},
     1},
    {"ReconfigureOpensAsBefore",
     {{Do::kHangUp}, {Do::kWrite, 1, kLost}, {Do::kReplug}, {Do::kReconfigure, 0}, {Do::kTryNow}, {Do::kWrite, 0}},
     1},
};

// 5 s: a request that waited for a read would show.
constexpr int32_t kTimeoutUnits = 500;
// Generous: only a request that waited for a read takes this long.
constexpr int64_t kPromptMs = 2500;
constexpr uint32_t kNeverMs = 600000;
const std::string kAccepted = "*3F\r\n";

void NoWait(uint32_t) {}

class LineRecoveryTest : public HostTest, public ::testing::WithParamInterface<RecoveryCase> {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetSleepFunction(NoWait);
        SetReopenIntervalMs(kNeverMs);
        // At most 11 characters: the port's name field holds 12 bytes.
        std::snprintf(link_, sizeof link_, "/tmp/ql%04u", static_cast<unsigned>(getpid()) % 10000u);
        ASSERT_TRUE(Plug());
        config_ = MakePortConfig(link_, 1, kTimeoutUnits);
        ASSERT_EQ(Call(REQ_LOAD, &config_), 0);
        logSeen_ = MoxLogCount();
    }
    void TearDown() override {
        Call(REQ_STOP);
        for (auto& switcher : switchers_) {
            switcher->Stop();
        }
        SetReopenIntervalMs(kReopenIntervalMs);
        SetSleepFunction(nullptr);
        unlink(link_);
    }

    int32_t Call(int32_t code, void* data = nullptr) {
        DriverRequest request = MakeRequest(context, code, data);
        return QelMain(&request);
    }

    // A fresh line behind the port's name, with a switcher that takes every
    // message.
    bool Plug() {
        peers_.push_back(std::make_unique<SerialPeer>());
        SerialPeer& peer = *peers_.back();
        if (!peer.Open()) {
            return false;
        }
        const std::string target = std::string("/dev/") + peer.DriverPortName();
        const std::string fresh = std::string(link_) + "+";
        unlink(fresh.c_str());
        if (symlink(target.c_str(), fresh.c_str()) != 0 || std::rename(fresh.c_str(), link_) != 0) {
            return false;
        }
        switchers_.push_back(std::make_unique<ScriptedSwitcher>(peer, std::vector<std::string>(20, kAccepted)));
        return true;
    }

    int32_t Write() {
        GateValueArea value(5);
        GateAccessRecord gate("0102", GATE_FORMAT_NUMERIC, value.bytes);
        return Call(REQ_WRITE_GATE, &gate.access);
    }

    // The result of the step's request (the read time-out for kReadTimeout).
    int32_t Run(Do action) {
        switch (action) {
            case Do::kWrite:
                return Write();
            case Do::kWarmStart:
                return Call(REQ_WARM_START);
            case Do::kClose:
                return Call(REQ_CLOSE_PORT);
            case Do::kStop:
                return Call(REQ_STOP);
            case Do::kLoad:
                return Call(REQ_LOAD, &config_);
            case Do::kOpenPort:
                return Call(REQ_OPEN_PORT);
            case Do::kReconfigure: {
                PortChange change{};
                SetPortName(change.portName, link_);
                change.line = kDefaultLine;
                return Call(REQ_RECONFIGURE_PORT, &change);
            }
            case Do::kHangUp:
                switchers_.back()->Stop();
                peers_.back()->HangUp();
                return 0;
            case Do::kReplug:
                return Plug() ? 0 : -1;
            case Do::kTryNow:
                SetReopenIntervalMs(0);
                return 0;
            case Do::kTryLater:
                SetReopenIntervalMs(kNeverMs);
                return 0;
            case Do::kReadTimeout: {
                const int32_t units = SetReadTimeout(context->port, kTimeoutUnits);
                SetReadTimeout(context->port, units);
                return units;
            }
        }
        return -1;
    }

    // The log lines since the last call, joined by '|', the port's name as $PORT.
    std::string NewLogLines() {
        std::string joined;
        for (; logSeen_ < MoxLogCount(); ++logSeen_) {
            std::string line = MoxLogLine(logSeen_);
            if (const size_t at = line.find(link_); at != std::string::npos) {
                line.replace(at, std::string(link_).size(), "$PORT");
            }
            joined += (joined.empty() ? "" : "|") + line;
        }
        return joined;
    }

    char link_[12] = {};
    PortConfig config_{};
    int logSeen_ = 0;
    // Switchers before the peers they answer on go.
    std::vector<std::unique_ptr<SerialPeer>> peers_;
    std::vector<std::unique_ptr<ScriptedSwitcher>> switchers_;
};

TEST_P(LineRecoveryTest, StepByStep) {
    const RecoveryCase& c = GetParam();
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Run(step.action), step.result);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), kPromptMs);
        EXPECT_EQ(NewLogLines(), step.log);
    }
    switchers_.back()->Stop();
    EXPECT_EQ(switchers_.back()->Transmissions().size(), c.reachedLastLine);
}

INSTANTIATE_TEST_SUITE_P(LostLines, LineRecoveryTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RecoveryCase>& row) { return row.param.name; });

}  // namespace
#endif
