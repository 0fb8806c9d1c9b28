// The host side of a session, against a stand-in driver that logs, echoes
// and writes into the host's records the way the real one does.
#include "runner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

#include "moxpro_control.h"

namespace qelhost {
namespace {

constexpr uint32_t kFakeContextSize = 128;

struct FakeSeen {
    bool infoWithoutContext = false;
    bool contextZeroed = false;
    PortConfig load{};
    PortChange change{};
    double numberInHost = -1;
} g_seen;

void Echo(const char* gate, const char* text) {
    uint32_t id = 0;
    if (MoxGetGateIdByAddressStr(3, 1, gate, &id) == 0) {
        MoxPutGateStr(3, id, 2, text, 0, 0);
    }
}

int32_t QEL_CDECL FakeQelMain(DriverRequest* request) {
    switch (request->code) {
        case REQ_GET_INFO: {
            auto* info = static_cast<DriverInfo*>(request->data);
            g_seen.infoWithoutContext = request->context == nullptr;
            *info = DriverInfo{70, "Fake switcher", "\nbox\n", kFakeContextSize, 4, {4800, 7, 0, 2}, 3};
            return 0;
        }
        case REQ_LOAD: {
            const auto* bytes = reinterpret_cast<const unsigned char*>(request->context);
            g_seen.contextZeroed = bytes != nullptr;
            for (uint32_t i = 0; bytes != nullptr && i < kFakeContextSize; ++i) {
                g_seen.contextZeroed = g_seen.contextZeroed && bytes[i] == 0;
            }
            g_seen.load = *static_cast<PortConfig*>(request->data);
            err(32, "QELPHV: loaded %s", "successfully");
            return 0;
        }
        case REQ_RECONFIGURE_PORT:
            g_seen.change = *static_cast<PortChange*>(request->data);
            return 0;
        case REQ_REGISTER_GATE: {
            auto* registration = static_cast<GateRegistration*>(request->data);
            registration->word4 = registration->word5 = 0;
            registration->word7 = 255;
            registration->word8 = 16;
            return std::strcmp(registration->address, "ACK") == 0 ? 0 : 1;
        }
        case REQ_WRITE_GATE: {
            auto* access = static_cast<GateAccess*>(request->data);
            auto* area = static_cast<unsigned char*>(access->value);
            if (access->format == GATE_FORMAT_STRING) {
                std::string sent = std::string(reinterpret_cast<char*>(area)) + "\r";
                Echo("OUTGOING", sent.c_str());
                return 0;
            }
            MoxNumber("CAM2");  // keeps the lookup honest: the host library answers by name
            g_seen.numberInHost = MoxNumber(access->address);
            area[2] = static_cast<unsigned char>(area[2] + 1);  // a driver that changes the host's number
            return 1;
        }
        case REQ_UPDATE_GATE: {
            auto* access = static_cast<GateAccess*>(request->data);
            if (std::strcmp(access->address, "FULL") == 0) {
                std::memset(access->value, 'x', 256);  // a driver that forgets the NUL
                return 0;
            }
            std::strcpy(static_cast<char*>(access->value), "ABC");
            Echo("INCOMING", "*01<CR><LF>");
            return 0;
        }
        case REQ_NOP:
            for (int i = 0; i < 1100; ++i) {
                err(32, "line %d", i);
            }
            return 0;
        default:
            return 1;
    }
}

struct Outcome {
    int status = -1;
    std::string output;
    bool Shows(const std::string& line) const { return output.find(line + "\n") != std::string::npos; }
};

Outcome RunText(const std::string& text, RunOptions options = {}) {
    g_seen = FakeSeen{};
    Scenario scenario;
    ParseError error;
    Outcome run;
    if (!ParseScenario(text, {}, &scenario, &error)) {
        ADD_FAILURE() << "line " << error.line << ": " << error.message;
        return run;
    }
    std::ostringstream out;
    run.status = RunScenario(scenario, &FakeQelMain, options, out);
    run.output = out.str();
    return run;
}

const char kSession[] =
    "gate 0102 numeric 4 name=CAM1\n"
    "gate R05 string name=STATUS\n"
    "gate SEND_STR string\n"
    "gate OUTGOING string\n"
    "gate INCOMING string\n"
    "gate ACK numeric\n";

TEST(ScenarioRun, AsksForInfoFirstAndAllocatesTheReportedContext) {
    Outcome run = RunText("load expect 0\ncheck log \"QELPHV: loaded successfully\"\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(g_seen.infoWithoutContext);
    EXPECT_TRUE(g_seen.contextZeroed);
    EXPECT_TRUE(run.Shows("      no REQ_GET_INFO yet: asking first"));
    EXPECT_TRUE(run.Shows("      words 70 4 3, context size 128, line defaults 4800,7,0,2"));
    EXPECT_TRUE(run.Shows("      device \"Fake switcher\""));
    EXPECT_TRUE(run.Shows("      banner \"<LF>box<LF>\""));
    EXPECT_TRUE(run.Shows("      log 32 \"QELPHV: loaded successfully\""));
    EXPECT_TRUE(run.Shows("qelhost: 2 requests, 2 checks, 0 failed"));
}

// A long run: the host library keeps the newest lines and says how many it
// let go; qelhost hears every one.
TEST(ScenarioRun, KeepsEveryLogLineOfALongRun) {
    Outcome run = RunText("load\nnop\ncheck log \"line 1099\"\ncheck log \"line 300\"\n");
    EXPECT_EQ(run.status, 0) << run.output.substr(run.output.size() - 300);
    ASSERT_EQ(MoxLogCount(), MOX_MAX_LOG);
    EXPECT_EQ(MoxLogDropped(), 1101 - MOX_MAX_LOG);
    EXPECT_STREQ(MoxLogLine(MOX_MAX_LOG - 1), "line 1099");
}

TEST(ScenarioRun, FillsPortRecordsWithTheHostsDefaults) {
    RunOptions options;
    options.defaultPort = "COM5";
    Outcome run = RunText("info\nload\nreconfigure timeout=7\n", options);
    EXPECT_STREQ(g_seen.load.portName, "COM5");
    EXPECT_EQ(g_seen.load.enabled, 1u);
    EXPECT_EQ(g_seen.load.timeout, 100u);
    EXPECT_EQ(g_seen.load.line.baudRate, 4800);  // the driver's defaults
    EXPECT_EQ(g_seen.load.line.parity, 2);
    EXPECT_STREQ(g_seen.change.portName, "COM5");
    EXPECT_EQ(g_seen.change.timeout, 7u);
    EXPECT_EQ(g_seen.change.line.dataBits, 7);
    EXPECT_TRUE(run.Shows("      PortConfig port \"COM5\" enabled 1 timeout 100 line 4800,7,0,2"));

    RunText("load port=pts/9 enabled=0 timeout=3 line=9600,8,0,0\nreconfigure\n");
    EXPECT_STREQ(g_seen.load.portName, "pts/9");
    EXPECT_EQ(g_seen.load.enabled, 0u);
    EXPECT_EQ(g_seen.load.timeout, 3u);
    EXPECT_STREQ(g_seen.change.portName, "pts/9");
    EXPECT_EQ(g_seen.change.timeout, 0u);
    EXPECT_EQ(g_seen.change.line.baudRate, 9600);
}

TEST(ScenarioRun, ShowsAndChecksWhatTheDriverWroteAndEchoed) {
    Outcome run = RunText(std::string(kSession) +
                          "write SEND_STR \"P<CR>\" expect 0\n"
                          "check echo OUTGOING \"P<CR><CR>\"\n"
                          "check text OUTGOING \"P<CR><CR>\"\n"
                          "check noecho INCOMING\n"
                          "update STATUS expect 0\n"
                          "check text STATUS \"ABC\"\n"
                          "check echo INCOMING \"*01\\<CR>\\<LF>\"\n"
                          "check echo INCOMING contains *01\n"
                          "check nolog\n"
                          "register ACK expect 0\n"
                          "check registration ACK 0 0 255 16\n"
                          "check info size=128 device=\"Fake switcher\" line=4800,7,0,2 words=70,4,3\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(run.Shows("      OUTGOING \"P<CR><CR>\""));
    EXPECT_TRUE(run.Shows("      INCOMING \"*01\\<CR>\\<LF>\""));
    EXPECT_TRUE(run.Shows("      STATUS text now \"ABC\""));
    EXPECT_TRUE(run.Shows("      words 4,5,7,8: 0 0 255 16"));
    EXPECT_NE(run.output.find("      REQ_UPDATE_GATE -> 0 ("), std::string::npos);
    // The host library holds what the driver wrote into the host's area.
    EXPECT_STREQ(MoxText("STATUS"), "ABC");
}

TEST(ScenarioRun, KeepsTheHostLibraryInStepWithTheScenarioAndTheDriver) {
    Outcome run = RunText(std::string(kSession) +
                          "gate 0304 numeric name=CAM2\n"
                          "gate 0506 numeric -3.7 name=CAM3\n"
                          "set CAM2 9\n"
                          "write CAM1 20 expect 1\n"
                          "check number CAM1 21\n");
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(g_seen.numberInHost, 20);  // set before the request
    EXPECT_EQ(MoxNumber("CAM2"), 9);
    EXPECT_EQ(MoxNumber("CAM3"), -3.7);  // not the area's 0: the driver did not change it
    EXPECT_EQ(MoxNumber("CAM1"), 21);    // the driver's change, back in the host library
    EXPECT_TRUE(run.Shows("      CAM1 number now 21"));
}

TEST(ScenarioRun, ReportsEveryFailedCheckAndGoesOn) {
    Outcome run = RunText(std::string(kSession) +
                          "write CAM1 1 expect 0\n"
                          "check result 0\n"
                          "check number CAM1 1\n"
                          "update STATUS\n"
                          "check text STATUS \"ABD\"\n"
                          "check text STATUS contains Z\n"
                          "check log \"QELPHV: loaded successfully\"\n"
                          "check noecho INCOMING\n"
                          "check echo OUTGOING x\n"
                          "register CAM1\n"
                          "check registration STATUS 0 0 255 16\n"
                          "check address CAM1 0103\n"
                          "note still running\n");
    EXPECT_EQ(run.status, 1);
    const char* failures[] = {
        "      FAIL expected result 0, got 1",
        "      FAIL result is 1, expected 0",
        "      FAIL number is 2, expected 1",
        "      FAIL text is \"ABC\", expected \"ABD\"",
        "      FAIL text is \"ABC\", expected to contain \"Z\"",
        "      FAIL no log line of the last request is \"QELPHV: loaded successfully\" (it logged nothing)",
        "      FAIL the last request put 1 texts into INCOMING",
        "      FAIL echo is \"\", expected \"x\"",
        "      FAIL gate STATUS was not registered",
        "      FAIL address is \"0102\", expected \"0103\"",
    };
    for (const char* failure : failures) {
        EXPECT_TRUE(run.Shows(failure)) << failure << "\n" << run.output;
    }
    EXPECT_TRUE(run.Shows("  19| note still running"));
    EXPECT_TRUE(run.Shows("qelhost: 4 requests, 10 checks, 10 failed")) << run.output;
}

TEST(ScenarioRun, ChecksTheLastRequestsElapsedTimeWithinBothBounds) {
    Outcome run = RunText("check elapsed 0 10\nnop\ncheck elapsed 0 60000\ncheck elapsed 60000 70000\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.Shows("      FAIL no request ran before this check")) << run.output;
    EXPECT_TRUE(run.Shows("      ok")) << run.output;
    EXPECT_NE(run.output.find(" ms, expected 60000 to 70000 ms\n"), std::string::npos) << run.output;
    EXPECT_TRUE(run.Shows("qelhost: 2 requests, 3 checks, 2 failed")) << run.output;
}

TEST(ScenarioRun, ShowsControlBytesOfNamesAndLinesInsteadOfSendingThem) {
    Outcome run = RunText("gate ACK numeric name=\"<ESC>[2J\"\ncheck registration \"\x1b[2J\" 0 0 0 0\n");
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
    EXPECT_TRUE(run.Shows("      FAIL gate <1B>[2J was not registered")) << run.output;
}

TEST(ScenarioRun, FailsWhenTheDriverLeavesATextWithoutItsNul) {
    Outcome run = RunText("gate FULL string\nupdate FULL\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.Shows("      FAIL the driver left no NUL in the 256-byte value area of FULL"));
}

TEST(ScenarioRun, TracesEchoesAsTimeStampedHex) {
    RunOptions options;
    options.trace = true;
    Outcome run = RunText(std::string(kSession) + "write SEND_STR A\n", options);
    size_t at = run.output.find("      trace ");
    ASSERT_NE(at, std::string::npos) << run.output;
    std::string line = run.output.substr(at, run.output.find('\n', at) - at);
    EXPECT_NE(line.find(" OUTGOING 2 bytes: 41 0D"), std::string::npos) << line;
}

TEST(ScenarioRun, NamesRequestCodes) {
    EXPECT_EQ(RequestName(REQ_RECONFIGURE_PORT), "REQ_RECONFIGURE_PORT");
    EXPECT_EQ(RequestName(8), "code 8");
}

}  // namespace
}  // namespace qelhost
