// The lifecycle requests as a host makes them: through QelMain, with the host
// library substitute, on the null device or a real line from SerialPeer.
#include "driver/lifecycle.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver_library.h"
#include "host_fixture.h"
#include "link/port.h"
#include "os/serial_port.h"
#include "qel_version.h"
#include "serial_peer.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

PortChange Change(const char* name, uint32_t timeout, LineSettings line = kDefaultLine) {
    PortChange change{};
    SetPortName(change.portName, name);
    change.timeout = timeout;
    change.line = line;
    return change;
}

// True when nobody holds the port: it opens, here, in this process.
bool PortIsFree(const char* name) {
    PortHandle handle = kNoPort;
    if (OpenSerialPort(name, kDefaultLine, kLineControlDtrRts, &handle) != kSerialOk) {
        return false;
    }
    CloseSerialPort(handle);
    return true;
}

class LifecycleTest : public HostTest {
  protected:
    void TearDown() override {
        if (context->port != kNoPort) {
            Call(REQ_CLOSE_PORT);
        }
    }
    int32_t Call(int32_t code, void* data = nullptr) {
        DriverRequest request = MakeRequest(context, code, data);
        return entry(&request);
    }
    // The loaded library keeps its own driver-wide values and, on POSIX
    // systems, its own table of open ports. Tests that read those use the
    // copy of the same code that is linked into this program.
    void UseLinkedDriver() { entry = &QelMain; }
    // A skip only ends the helper, so callers return when this says false.
    bool OpenPeer(SerialPeer& peer, int line = 0) {
        if (!peer.Open(line)) {
            ADD_FAILURE() << "no serial line here (under Wine: source scripts/wine-serial)";
            return false;
        }
        return true;
    }

    QelMainFn entry = LoadedQelMain();
};

void ExpectSameInfo(const DriverInfo& info, const DriverInfo& again) {
    EXPECT_EQ(again.infoWord0, info.infoWord0);
    EXPECT_EQ(again.deviceName, info.deviceName);
    EXPECT_EQ(again.banner, info.banner);
    EXPECT_EQ(again.contextSize, info.contextSize);
    EXPECT_EQ(again.infoWord4, info.infoWord4);
    EXPECT_EQ(std::memcmp(&again.lineDefaults, &info.lineDefaults, sizeof info.lineDefaults), 0);
    EXPECT_EQ(again.infoWord7, info.infoWord7);
}

TEST_F(LifecycleTest, GetInfoAnswersTheSameWordsBeforeAndAfterALoad) {
    DriverInfo info{};
    ASSERT_EQ(Call(REQ_GET_INFO, &info), 0);
    EXPECT_EQ(info.infoWord0, 70u);
    EXPECT_STREQ(info.deviceName, "Velnor matrix switcher");
    ASSERT_NE(info.banner, nullptr);
    EXPECT_EQ(info.contextSize, sizeof(DriverContext));
    EXPECT_EQ(info.infoWord4, 4u);
    EXPECT_EQ(info.lineDefaults.baudRate, 9600);
    EXPECT_EQ(info.lineDefaults.dataBits, 8);
    EXPECT_EQ(info.lineDefaults.stopBits, 0);
    EXPECT_EQ(info.lineDefaults.parity, 0);
    EXPECT_EQ(info.infoWord7, 3u);

    PortConfig config = MakePortConfig("NUL");
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    DriverInfo again{};
    ASSERT_EQ(Call(REQ_GET_INFO, &again), 0);
    ExpectSameInfo(info, again);
}

// "\xDB\xDB\xB2" → "\xDB\xB2": one character per run.
std::string Runs(const std::string& text) {
    std::string runs;
    for (char c : text) {
        if (runs.empty() || runs.back() != c) {
            runs += c;
        }
    }
    return runs;
}

TEST_F(LifecycleTest, BannerIsABoxOfSixtyColumnsInCodePage437) {
    DriverInfo info{};
    ASSERT_EQ(Call(REQ_GET_INFO, &info), 0);
    const std::string banner(info.banner);
    ASSERT_GE(banner.size(), 2u);
    EXPECT_EQ(banner.front(), '\n');
    EXPECT_EQ(banner.back(), '\n');
    std::vector<std::string> lines;
    for (size_t at = 1; at < banner.size();) {
        const size_t end = banner.find('\n', at);
        lines.push_back(banner.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 6u);
    const std::string bars(60, '\xC4');
    EXPECT_EQ(lines[0], "\xDA" + bars + "\xBF");
    EXPECT_EQ(lines[5], "\xC0" + bars + "\xD9");
    for (size_t i = 1; i < 5; ++i) {
        ASSERT_EQ(lines[i].size(), 62u) << i;
        EXPECT_EQ(lines[i].front(), '\xB3');
        EXPECT_EQ(lines[i].back(), '\xB3');
    }
    const std::string title = lines[1].substr(1, 60);
    const size_t spaced = title.find(" Q E L KO VSX ");
    ASSERT_NE(spaced, std::string::npos);
    EXPECT_EQ(Runs(title.substr(0, spaced)), "\xDB\xB2\xB1\xB0");
    EXPECT_EQ(Runs(title.substr(spaced + 14)), "\xB0\xB1\xB2\xDB");
    EXPECT_NE(lines[2].find("Velnor Sirex"), std::string::npos);
    EXPECT_NE(lines[3].find("QELKOPHV driver " QELKOPHV_VERSION), std::string::npos);
    EXPECT_EQ(lines[4].substr(1, 60), std::string(60, ' '));
}

TEST_F(LifecycleTest, LoadOpensThePortAndRegisters) {
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    MoxSetNextClientId(42);
    const LineSettings line = {19200, 8, 2, 1};
    PortConfig config = MakePortConfig(peer.DriverPortName(), 1, 20, line);
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    EXPECT_NE(context->port, kNoPort);
    EXPECT_EQ(context->portEnabled, 1u);
    EXPECT_STREQ(context->portSettings.portName, peer.DriverPortName());
    EXPECT_EQ(std::memcmp(&context->portSettings.line, &line, sizeof line), 0);
    EXPECT_EQ(context->portSettings.lineControl, 0x0303);
    EXPECT_EQ(context->hostTimeout, 100);
    EXPECT_EQ(context->clientId, 42);
    // The registration, then the line's state (OPEN) looked up for its gate.
    ASSERT_EQ(MoxCallCount(), 2);
    EXPECT_STREQ(MoxCall(0), "MoxMkClient Velnor Sirex 1 0");
    EXPECT_STREQ(MoxCall(1), "MoxGetGateIdByAddressStr 42 1 LINE_STATE");
    ASSERT_EQ(MoxLogCount(), 1);
    EXPECT_STREQ(MoxLogLine(0), "QELPHV: loaded successfully");
    EXPECT_EQ(MoxLogLevel(0), 32);
    PeerLineView view{};
    if (peer.ReadDriverLine(&view)) {
        EXPECT_EQ(view.baudRate, 19200u);
        EXPECT_EQ(view.stopBits, 2);
    }
}

// Under Wine the third line is COM11: a name Windows opens only through the
// device namespace. The context keeps the name as the host gave it.
TEST_F(LifecycleTest, LoadOpensAPortNumberedAboveNine) {
    SerialPeer peer;
    if (!OpenPeer(peer, 2)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName());
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    EXPECT_STREQ(context->portSettings.portName, peer.DriverPortName());
    GateValueArea text("eleven");
    GateAccessRecord send("SEND_STR", GATE_FORMAT_STRING, text.bytes);
    EXPECT_EQ(Call(REQ_WRITE_GATE, &send.access), 0);
    EXPECT_EQ(peer.Receive(7, 2000), "eleven\r");
}

TEST_F(LifecycleTest, LoadWithThePortDisabledOpensAndRegistersNothing) {
    UseLinkedDriver();
    PortConfig config = MakePortConfig("NUL", 0);
    context->portEnabled = 7;
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    EXPECT_EQ(g_readyLevel, 500);
    EXPECT_EQ(context->portEnabled, 0u);
    EXPECT_EQ(context->port, kNoPort);
    EXPECT_EQ(MoxCallCount(), 0);
    EXPECT_EQ(MoxLogCount(), 0);
}

TEST_F(LifecycleTest, LoadWithThePortDisabledClosesTheHeldPort) {
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName());
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    PortConfig disabled = MakePortConfig(peer.DriverPortName(), 0);
    EXPECT_EQ(Call(REQ_LOAD, &disabled), 0);
    EXPECT_EQ(context->port, kNoPort);
    EXPECT_EQ(context->portEnabled, 0u);
    EXPECT_TRUE(PortIsFree(peer.DriverPortName()));
    // The first load's registration only, and the gate "LINE_STATE" looked up
    // at each change of the line's state (OPEN, then CLOSED).
    EXPECT_EQ(MoxCallCount(), 3);
}

struct TimeoutCase {
    uint32_t timeout;
    int32_t hostTimeout;
    int32_t readUnits;  // the port's read time-out afterwards
};

TEST_F(LifecycleTest, LoadSetsTheReadTimeOutAndRaisesTheHostTimeOut) {
    UseLinkedDriver();
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    // The read time-out stops at 60 s; read as signed, a value above 2^31 is
    // below 100 for the host and beyond the ceiling for the read.
    const TimeoutCase cases[] = {
        {50, 100, 50},
        {150, 150, 150},
        {0, 100, 0},
        {99, 100, 99},
        {100, 100, 100},
        {6000, 6000, 6000},
        {6001, 6001, 6000},
        {429496730, 429496730, 6000},
        {0x80000000u, 100, 6000},
        {0xFFFFFFFFu, 100, 6000},
    };
    MoxSetNextClientId(9);
    for (const TimeoutCase& c : cases) {
        SCOPED_TRACE(c.timeout);
        PortConfig config = MakePortConfig(peer.DriverPortName(), 1, c.timeout);
        ASSERT_EQ(Call(REQ_LOAD, &config), 0);
        EXPECT_EQ(context->hostTimeout, c.hostTimeout);
        EXPECT_EQ(SetReadTimeout(context->port, c.readUnits), c.readUnits);
        EXPECT_EQ(context->clientId, 9);
        EXPECT_EQ(g_readyLevel, 500);
        ASSERT_EQ(Call(REQ_CLOSE_PORT), 0);
    }
}

TEST_F(LifecycleTest, LoadThatCannotOpenLogsTheNameAndRegistersNothing) {
    struct {
        const char* name;
        const char* logged;
    } const cases[] = {
        {"nonexistent", "QELPA : Fail to open nonexistent"},
        {"com99", "QELPA : Fail to open com99"},                // as given, not as opened
        {"ABCDEFGHIJKL", "QELPA : Fail to open ABCDEFGHIJKL"},  // 12 bytes, no NUL: refused, logged whole
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MoxReset();
        PortConfig config = MakePortConfig(c.name);
        EXPECT_EQ(Call(REQ_LOAD, &config), 2);
        EXPECT_EQ(context->port, kNoPort);
        EXPECT_EQ(MoxCallCount(), 0);
        ASSERT_EQ(MoxLogCount(), 1);
        EXPECT_STREQ(MoxLogLine(0), c.logged);
        EXPECT_EQ(MoxLogLevel(0), 32);
    }
}

// A port name is opened whole or not at all. Names of up to 11 characters
// (the most the 12-byte field holds with its NUL) open the line they name,
// for a start and a reconfiguration; a 12-character one, filling the field
// with no NUL, opens nothing and leaves the port held before as it was, and
// the line its first 11 characters name receives nothing. Every name leads
// to one of two live lines.
TEST_F(LifecycleTest, APortNameIsOpenedWholeOrNotAtAll) {
    SerialPeer first;
    SerialPeer second;
    if (!OpenPeer(first, 0) || !OpenPeer(second, 1)) {
        return;
    }
    struct Row {
        const char* name;
        SerialPeer* receiver;  // null: nothing is opened
    };
#if defined(_WIN32)
    // scripts/wine-serial points COM1 and COM256 at the first line's port
    // and \\.\COM1000 at the second's.
    if (std::getenv("QEL_TEST_NAME_LINKS") == nullptr) {
        GTEST_SKIP() << "needs the named ports of scripts/wine-serial";
    }
    const Row rows[] = {
        {"COM1", &first},
        {"COM256", &first},
        {"\\\\.\\COM1000", &second},
        {"\\\\.\\COM10000", nullptr},
    };
#else
    const std::string firstPath = std::string("/dev/") + first.DriverPortName();
    const std::string secondPath = std::string("/dev/") + second.DriverPortName();
    const struct Link {
        const char* name;
        const std::string& target;
    } links[] = {{"/dev/q", firstPath}, {"./qel_link_", secondPath}, {"./qel_link_Z", firstPath}};
    for (const Link& link : links) {
        std::remove(link.name);
        ASSERT_EQ(symlink(link.target.c_str(), link.name), 0) << link.name;
    }
    const Row rows[] = {{"q", &first}, {"./qel_link_", &second}, {"./qel_link_Z", nullptr}};
#endif
    for (const int32_t code : {REQ_LOAD, REQ_RECONFIGURE_PORT}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (code == REQ_LOAD ? " start" : " reconfiguration"));
            PortConfig null = MakePortConfig(kNullPortName);
            ASSERT_EQ(Call(REQ_LOAD, &null), 0);
            const PortHandle before = context->port;
            PortConfig config = MakePortConfig(row.name);
            PortChange change = Change(row.name, 0);
            EXPECT_EQ(Call(code, code == REQ_LOAD ? static_cast<void*>(&config) : &change),
                      row.receiver != nullptr ? 0 : 2);
            if (row.receiver == nullptr && code == REQ_RECONFIGURE_PORT) {
                EXPECT_EQ(context->port, before);
                EXPECT_STREQ(context->portSettings.portName, kNullPortName);
            } else if (row.receiver == nullptr) {
                EXPECT_EQ(context->port, kNoPort);
            } else {
                EXPECT_EQ(std::string(context->portSettings.portName), row.name);
            }
            GateValueArea text("which");
            GateAccessRecord send("SEND_STR", GATE_FORMAT_STRING, text.bytes);
            Call(REQ_WRITE_GATE, &send.access);
            for (SerialPeer* peer : {&first, &second}) {
                EXPECT_EQ(peer->ReceiveUntilQuiet(100, 1000), peer == row.receiver ? "which\r" : "")
                    << (peer == &first ? "the first line" : "the second line");
            }
            Call(REQ_STOP);
        }
    }
#if !defined(_WIN32)
    for (const Link& link : links) {
        std::remove(link.name);
    }
#endif
}

TEST_F(LifecycleTest, RefusedRegistrationKeepsThePortOpen) {
    MoxRefuseClients(1);
    PortConfig config = MakePortConfig("NUL");
    EXPECT_EQ(Call(REQ_LOAD, &config), 1);
    EXPECT_NE(context->port, kNoPort);
    ASSERT_EQ(MoxCallCount(), 1);
    EXPECT_STREQ(MoxCall(0), "MoxMkClient Velnor Sirex 1 0");
    EXPECT_EQ(MoxLogCount(), 0);
    EXPECT_EQ(Call(REQ_CLOSE_PORT), 0);
    EXPECT_EQ(context->port, kNoPort);
}

TEST_F(LifecycleTest, StopAndCloseReleaseThePortAndMayBeRepeated) {
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName());
    for (int32_t code : {REQ_STOP, REQ_CLOSE_PORT}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(Call(REQ_LOAD, &config), 0);
        EXPECT_EQ(Call(code), 0);
        EXPECT_EQ(context->port, kNoPort);
        EXPECT_EQ(context->portEnabled, 1u);
        EXPECT_TRUE(PortIsFree(peer.DriverPortName()));
        EXPECT_EQ(Call(code), 0);
    }
}

TEST_F(LifecycleTest, RequestsThatOpenReleaseTheHeldPortFirst) {
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName());
    PortChange change = Change(peer.DriverPortName(), 0);
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    // Each would fail on the exclusive open if the held port stayed open.
    EXPECT_EQ(Call(REQ_LOAD, &config), 0);
    EXPECT_EQ(Call(REQ_OPEN_PORT), 0);
    EXPECT_EQ(Call(REQ_RECONFIGURE_PORT, &change), 0);
    ASSERT_EQ(Call(REQ_CLOSE_PORT), 0);
    EXPECT_TRUE(PortIsFree(peer.DriverPortName()));
}

TEST_F(LifecycleTest, AHandleThatCannotBeClosedIsKeptAndNothingElseIsOpened) {
    const PortHandle stuck = static_cast<PortHandle>(0x7FFF0000u);  // no port of this process
    HoldPort(context, stuck);
    PortConfig config = MakePortConfig("NUL");
    PortConfig disabled = MakePortConfig("NUL", 0);
    const LineSettings line = {4800, 7, 0, 2};
    PortChange change = Change("pts/77", 30, line);
    EXPECT_EQ(Call(REQ_CLOSE_PORT), 2);
    EXPECT_EQ(Call(REQ_LOAD, &config), 2);
    EXPECT_EQ(Call(REQ_LOAD, &disabled), 2);
    EXPECT_EQ(Call(REQ_OPEN_PORT), 2);
    EXPECT_EQ(Call(REQ_RECONFIGURE_PORT, &change), 2);
    EXPECT_EQ(context->port, stuck);
    // The reconfigure changes nothing while the held port stays: its
    // settings still name the port held.
    EXPECT_STREQ(context->portSettings.portName, "");
    EXPECT_EQ(context->hostTimeout, 0);
    EXPECT_EQ(MoxCallCount(), 0);
    // Every 2 of a load comes with its line, naming the port asked for.
    ASSERT_EQ(MoxLogCount(), 2);
    EXPECT_STREQ(MoxLogLine(0), "QELPA : Fail to open NUL");
    EXPECT_STREQ(MoxLogLine(1), "QELPA : Fail to open NUL");
    context->port = kNoPort;
}

// A host may hand over a record it did not clear, here one whose bytes all
// name the port another instance holds: no request on it may close or use
// that port.
TEST_F(LifecycleTest, ARecordTheHostDidNotClearLeavesOtherInstancesPortsAlone) {
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName());
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    const PortHandle held = context->port;

    alignas(DriverContext) unsigned char uncleared[sizeof(DriverContext)];
    for (size_t at = 0; at + sizeof held <= sizeof uncleared; at += sizeof held) {
        std::memcpy(uncleared + at, &held, sizeof held);
    }
    DriverContext* other = reinterpret_cast<DriverContext*>(uncleared);
    ASSERT_EQ(other->port, held);
    PortConfig missing = MakePortConfig("nonexistent");
    PortConfig disabled = MakePortConfig("nonexistent", 0);
    PortChange change = Change("nonexistent", 0);
    GateValueArea text("stray");
    GateAccessRecord send("SEND_STR", GATE_FORMAT_STRING, text.bytes);
    const struct {
        int32_t code;
        void* data;
        int32_t result;
    } requests[] = {
        {REQ_WARM_START, nullptr, 0}, {REQ_WRITE_GATE, &send.access, 1},
        {REQ_STOP, nullptr, 0},       {REQ_CLOSE_PORT, nullptr, 0},
        {REQ_LOAD, &missing, 2},      {REQ_LOAD, &disabled, 0},
        {REQ_OPEN_PORT, nullptr, 2},  {REQ_RECONFIGURE_PORT, &change, 2},
    };
    for (const auto& r : requests) {
        SCOPED_TRACE(r.code);
        DriverRequest request = MakeRequest(other, r.code, r.data);
        EXPECT_EQ(entry(&request), r.result);
    }

    GateValueArea hello("hello");
    GateAccessRecord write("SEND_STR", GATE_FORMAT_STRING, hello.bytes);
    EXPECT_EQ(Call(REQ_WRITE_GATE, &write.access), 0);
    EXPECT_EQ(peer.ReceiveUntilQuiet(200, 2000), "hello\r");
    EXPECT_EQ(context->port, held);
    EXPECT_EQ(Call(REQ_CLOSE_PORT), 0);
}

TEST_F(LifecycleTest, WarmStartPurgesPendingInputAndLogs) {
    UseLinkedDriver();
    EXPECT_EQ(Call(REQ_WARM_START), 0);
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName(), 1, 5);
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    peer.Send("stale reply\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(Call(REQ_WARM_START), 0);
    char buffer[32];
    EXPECT_EQ(ReadBytes(context->port, buffer, sizeof buffer, nullptr), kSerialCallFailed);
    EXPECT_EQ(SetReadTimeout(context->port, 5), 5);
    ASSERT_EQ(MoxLogCount(), 3);
    EXPECT_STREQ(MoxLogLine(0), "QELEX: Warm Start.");
    EXPECT_STREQ(MoxLogLine(2), "QELEX: Warm Start.");
    EXPECT_EQ(MoxLogLevel(2), 32);
}

TEST_F(LifecycleTest, OpenPortReopensWithTheStoredSettingsAndDefaultTimeOut) {
    UseLinkedDriver();
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName(), 1, 20);
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    ASSERT_EQ(Call(REQ_CLOSE_PORT), 0);
    context->portEnabled = 0;
    ASSERT_EQ(Call(REQ_OPEN_PORT), 0);
    EXPECT_NE(context->port, kNoPort);
    EXPECT_EQ(context->portEnabled, 1u);
    EXPECT_EQ(SetReadTimeout(context->port, 100), 100);
    // Again while the port is held: the held port is closed first, so the
    // exclusive open succeeds and no second handle is left behind.
    ASSERT_EQ(Call(REQ_OPEN_PORT), 0);
    ASSERT_EQ(Call(REQ_CLOSE_PORT), 0);
    EXPECT_TRUE(PortIsFree(peer.DriverPortName()));
}

TEST_F(LifecycleTest, OpenPortThatFailsLeavesTheContext) {
    for (const char* name : {"nonexistent", "ZZZZZZZZZZZZ"}) {
        SCOPED_TRACE(name);
        SetPortName(context->portSettings.portName, name);
        context->settingsMark = kSettingsMark;
        context->portEnabled = 0;
        EXPECT_EQ(Call(REQ_OPEN_PORT), 2);
        EXPECT_EQ(context->port, kNoPort);
        EXPECT_EQ(context->portEnabled, 0u);
    }
}

TEST_F(LifecycleTest, ReconfigureKeepsOrSetsTheHostTimeOut) {
    PortConfig config = MakePortConfig("NUL", 1, 20);
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    PortChange keep = Change("NUL", 0);
    EXPECT_EQ(Call(REQ_RECONFIGURE_PORT, &keep), 0);
    EXPECT_EQ(context->hostTimeout, 100);
    PortChange shorter = Change("NUL", 30);  // no lower bound here
    EXPECT_EQ(Call(REQ_RECONFIGURE_PORT, &shorter), 0);
    EXPECT_EQ(context->hostTimeout, 30);
}

TEST_F(LifecycleTest, ReconfigureOnTheSamePortAppliesTheNewLine) {
    SerialPeer peer;
    if (!OpenPeer(peer)) {
        return;
    }
    PortConfig config = MakePortConfig(peer.DriverPortName());
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    const LineSettings line = {1200, 8, 2, 2};
    PortChange change = Change(peer.DriverPortName(), 0, line);
    ASSERT_EQ(Call(REQ_RECONFIGURE_PORT, &change), 0);
    EXPECT_NE(context->port, kNoPort);
    EXPECT_EQ(std::memcmp(&context->portSettings.line, &line, sizeof line), 0);
    EXPECT_EQ(context->portSettings.lineControl, 0x0303);
    PeerLineView view{};
    if (!peer.ReadDriverLine(&view)) {
        GTEST_SKIP() << "the driver end's settings cannot be read back here";
    }
    EXPECT_EQ(view.baudRate, 1200u);
    EXPECT_EQ(view.stopBits, 2);
}

TEST_F(LifecycleTest, ReconfigureMovesToAnotherPortAndReleasesTheFirst) {
    SerialPeer first;
    SerialPeer second;
    if (!OpenPeer(first, 0)) {
        return;
    }
    if (!OpenPeer(second, 1)) {
        return;
    }
    PortConfig config = MakePortConfig(first.DriverPortName());
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    PortChange change = Change(second.DriverPortName(), 0);
    ASSERT_EQ(Call(REQ_RECONFIGURE_PORT, &change), 0);
    EXPECT_STREQ(context->portSettings.portName, second.DriverPortName());
    EXPECT_NE(context->port, kNoPort);
    EXPECT_TRUE(PortIsFree(first.DriverPortName()));
}

TEST_F(LifecycleTest, ReconfigureThatCannotOpenKeepsTheNewSettings) {
    PortConfig config = MakePortConfig("NUL");
    ASSERT_EQ(Call(REQ_LOAD, &config), 0);
    const LineSettings line = {4800, 7, 0, 2};
    PortChange change = Change("nonexistent", 0, line);
    EXPECT_EQ(Call(REQ_RECONFIGURE_PORT, &change), 2);
    EXPECT_STREQ(context->portSettings.portName, "nonexistent");
    EXPECT_EQ(std::memcmp(&context->portSettings.line, &line, sizeof line), 0);
    EXPECT_EQ(context->port, kNoPort);
}

TEST_F(LifecycleTest, RequestsWithoutTheirRecordsAreRefused) {
    for (int32_t code : {REQ_LOAD, REQ_GET_INFO, REQ_RECONFIGURE_PORT}) {
        EXPECT_EQ(Call(code, nullptr), 1) << code;
    }
    PortConfig config = MakePortConfig("NUL");
    for (int32_t code : {REQ_LOAD, REQ_OPEN_PORT, REQ_CLOSE_PORT, REQ_STOP}) {
        DriverRequest request = MakeRequest(nullptr, code, &config);
        EXPECT_EQ(entry(&request), 1) << code;
    }
}

}  // namespace
