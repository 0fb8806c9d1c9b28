// The line's health as the host sees it: the gate "LINE_STATE" changes only
// when the state does, a silence and its end are logged once each, and the
// trace counts what happened. Each step is a request against a switcher on
// a real line that answers as the step says.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "link/line_watch.h"
#include "os/sleep.h"
#include "scripted_switcher.h"
#include "serial_peer.h"
#include "trace_variable.h"

namespace {

enum class Do {
    kLoad,
    kLoadDisabled,
    kAnswered,   // "#" 0102 = 5, accepted at once
    kSilent,     // "#" 0102 = 5, three tries that get nothing
    kRefused,    // "!" bits, refused
    kRegister,   // the gate itself: a named gate
    kWriteGate,  // the gate itself: answers, sends nothing
    kClose,
    kOpen,
    kReconfigure,
    kHangUp,
    kStop,
};

struct Step {
    Do action;
    int32_t result;
    const char* state;  // the gate's new text; "" when it must not change
    const char* log;    // the request's log line, "" for none
};

const std::string kAccepted = "*3F\r\n";
const std::string kRefusal = "?3F\r\n";
const std::string kNothing;

// What the switcher answers to each transmission of a step.
std::vector<std::string> RepliesOf(Do action) {
    switch (action) {
        case Do::kAnswered:
            return {kAccepted};
        case Do::kSilent:
            return {kNothing, kNothing, kNothing};
        case Do::kRefused:
            return {kRefusal};
        default:
            return {};
    }
}

const char* const kNoAnswer = "QELPA : No answer on $PORT";
const char* const kAnswering = "QELPA : Answering again on $PORT";
const char* const kLoaded = "QELPHV: loaded successfully";

const Step kSteps[] = {
    {Do::kLoad, 0, "OPEN", kLoaded},
    {Do::kAnswered, 0, "OK", ""},
    {Do::kAnswered, 0, "", ""},
    {Do::kRegister, 0, "", ""},
    {Do::kWriteGate, 0, "", ""},
    {Do::kSilent, 0, "NO ANSWER", kNoAnswer},
    {Do::kSilent, 0, "", ""},
    {Do::kRefused, 1, "OK", kAnswering},
    {Do::kAnswered, 0, "", ""},
    {Do::kClose, 0, "CLOSED", ""},
    {Do::kOpen, 0, "OPEN", ""},
    {Do::kSilent, 0, "NO ANSWER", kNoAnswer},
    {Do::kReconfigure, 0, "OPEN", ""},
    {Do::kAnswered, 0, "OK", kAnswering},
    {Do::kStop, 0, "CLOSED", ""},
    {Do::kLoadDisabled, 0, "", ""},
    {Do::kLoad, 0, "OPEN", kLoaded},
    {Do::kHangUp, 0, "", ""},
    {Do::kAnswered, 1, "LOST", "QELPA : Lost $PORT"},
    {Do::kAnswered, 1, "", ""},
    {Do::kClose, 0, "CLOSED", ""},
};

void NoWait(uint32_t) {}

class LineStateTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetSleepFunction(NoWait);
        MoxAddGate(kLineStateGate, "LINK", GATE_FORMAT_STRING);
        ASSERT_TRUE(peer_.Open()) << "no serial line here";
        std::vector<std::string> replies;
        for (const Step& step : kSteps) {
            for (std::string& reply : RepliesOf(step.action)) {
                replies.push_back(reply);
            }
        }
        switcher_ = std::make_unique<ScriptedSwitcher>(peer_, replies);
    }
    void TearDown() override {
        Call(REQ_STOP);
        switcher_->Stop();
        SetSleepFunction(nullptr);
    }

    int32_t Call(int32_t code, void* data = nullptr) {
        DriverRequest request = MakeRequest(context, code, data);
        return QelMain(&request);
    }

    int32_t Run(Do action) {
        PortConfig config = MakePortConfig(peer_.DriverPortName(), action == Do::kLoadDisabled ? 0 : 1, 10);
        GateValueArea number(5);
        GateAccessRecord hash("0102", GATE_FORMAT_NUMERIC, number.bytes);
        GateValueArea bits("1010");
        GateAccessRecord relays("S0304", GATE_FORMAT_STRING, bits.bytes);
        GateValueArea state("OK");
        GateAccessRecord stateGate(kLineStateGate, GATE_FORMAT_STRING, state.bytes);
        GateRegistration registration{};
        registration.address = stateGate.address;
        registration.format = GATE_FORMAT_STRING;
        PortChange change{};
        SetPortName(change.portName, peer_.DriverPortName());
        change.line = kDefaultLine;
        switch (action) {
            case Do::kLoad:
            case Do::kLoadDisabled:
                return Call(REQ_LOAD, &config);
            case Do::kAnswered:
            case Do::kSilent:
                return Call(REQ_WRITE_GATE, &hash.access);
            case Do::kRefused:
                return Call(REQ_WRITE_GATE, &relays.access);
            case Do::kRegister:
                return Call(REQ_REGISTER_GATE, &registration);
            case Do::kWriteGate:
                return Call(REQ_WRITE_GATE, &stateGate.access);
            case Do::kClose:
                return Call(REQ_CLOSE_PORT);
            case Do::kOpen:
                return Call(REQ_OPEN_PORT);
            case Do::kReconfigure:
                return Call(REQ_RECONFIGURE_PORT, &change);
            case Do::kHangUp:
                switcher_->Stop();
                peer_.HangUp();
                return 0;
            case Do::kStop:
                return Call(REQ_STOP);
        }
        return -1;
    }

    std::string NewLogLines() {
        std::string joined;
        for (; logSeen_ < MoxLogCount(); ++logSeen_) {
            std::string line = MoxLogLine(logSeen_);
            if (const size_t at = line.find(peer_.DriverPortName()); at != std::string::npos) {
                line.replace(at, std::string(peer_.DriverPortName()).size(), "$PORT");
            }
            joined += (joined.empty() ? "" : "|") + line;
        }
        return joined;
    }

    SerialPeer peer_;
    std::unique_ptr<ScriptedSwitcher> switcher_;
    int logSeen_ = 0;
};

std::string TempTrace(const char* name) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / (name + std::to_string(getpid()) + ".txt");
    std::filesystem::remove(path);
    return path.string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(LineStateTest, TheGateAndTheLogFollowTheLine) {
    const std::string trace = TempTrace("qel_line_steps_");
    SetTraceVariable(trace.c_str());
    int puts = 0;
    for (size_t i = 0; i < sizeof kSteps / sizeof kSteps[0]; ++i) {
        const Step& step = kSteps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        if (step.action == Do::kHangUp && !peer_.CanHangUp()) {
            break;
        }
        EXPECT_EQ(Run(step.action), step.result);
        EXPECT_EQ(NewLogLines(), step.log);
        if (*step.state != '\0') {
            ++puts;
            EXPECT_STREQ(MoxText(kLineStateGate), step.state);
        }
        EXPECT_EQ(MoxPutCount(kLineStateGate), puts);
    }
    SetTraceVariable(nullptr);
    // While the line is away, a request says when the driver tries it again.
    if (peer_.CanHangUp()) {
        const std::string text = ReadAll(trace);
        EXPECT_NE(text.find("REASON port " + std::string(peer_.DriverPortName()) + " lost, next reopen try in "),
                  std::string::npos)
            << text;
    }
    std::filesystem::remove(trace);
}

TEST_F(LineStateTest, AHostWithoutTheGateWorksAsBefore) {
    MoxReset();
    PortConfig config = MakePortConfig(peer_.DriverPortName(), 1, 10);
    EXPECT_EQ(Call(REQ_LOAD, &config), 0);
    EXPECT_EQ(Run(Do::kAnswered), 0);
    EXPECT_EQ(Run(Do::kAnswered), 0);
    EXPECT_EQ(Run(Do::kSilent), 0);
    EXPECT_EQ(NewLogLines(), std::string(kLoaded) + "|" + kNoAnswer);
    EXPECT_EQ(MoxPutCount(kLineStateGate), 0);
}

// The first steps of the table, with the trace on. A line that keeps
// answering costs the host no call beyond today's: the
// gate is looked up only when the state changes. The trace tells each
// change with the counters, and a 0 that nothing confirmed.
TEST_F(LineStateTest, ASteadyLineAddsNothingAndTheTraceCounts) {
    const std::string trace = TempTrace("qel_line_state_");
    SetTraceVariable(trace.c_str());
    EXPECT_EQ(Run(Do::kLoad), 0);
    EXPECT_EQ(Run(Do::kAnswered), 0);
    const int before = MoxCallCount();
    EXPECT_EQ(Run(Do::kAnswered), 0);
    for (int i = before; i < MoxCallCount(); ++i) {
        EXPECT_EQ(std::string(MoxCall(i)).find(kLineStateGate), std::string::npos) << MoxCall(i);
    }
    EXPECT_EQ(Run(Do::kSilent), 0);
    EXPECT_EQ(Run(Do::kStop), 0);
    SetTraceVariable(nullptr);

    const std::string text = ReadAll(trace);
    std::filesystem::remove(trace);
    const char* const expected[] = {
        "STATS line OPEN since the start: 0 transmissions",
        "STATS line OK since the start: 1 transmissions, 1 reads answered (0 refusals), 0 reads with nothing",
        "NOTE result 0 not confirmed by the switcher",
        "STATS line NO ANSWER since the start: 5 transmissions, 2 reads answered (0 refusals), 3 reads with "
        "nothing, 2 tries beyond the first, lost 0 times, reopened 0 times",
        "STATS line CLOSED",
    };
    size_t at = 0;
    for (const char* line : expected) {
        at = text.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << text;
    }
    EXPECT_EQ(text.find("NOTE"), text.rfind("NOTE")) << "only the silent write is unconfirmed";
}

}  // namespace
