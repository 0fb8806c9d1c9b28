// The trace as the driver writes it: requests through QelMain with
// QELKOPHV_TRACE set before the load, a switcher on a real line, and the
// lines each gate kind leaves, matched by pattern without their time stamps.
// QelMain here is the driver's core linked into the test, so that the test
// build's roll-over limit reaches it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cmdlist/command_list.h"
#include "os/sleep.h"
#include "scripted_switcher.h"
#include "trace/trace.h"
#include "trace_variable.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTraceName = "driver_trace.txt";
const std::string kAccepted = "*3F\r\n";
const std::string kRefused = "?3F\r\n";

// The file's lines without their time stamps; a line without a stamp of the
// right form, or of another instance, is kept whole so that it fails.
std::vector<std::string> TraceLines(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::vector<std::string> lines;
    const std::regex stamped(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}[+-]\d{2}:\d{2} \[\d+\] (.*))");
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::smatch match;
        lines.push_back(std::regex_match(line, match, stamped) ? match[1].str() : "UNSTAMPED " + line);
    }
    return lines;
}

// True when the patterns match lines in their order (others may lie between).
bool MatchInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& patterns) {
    size_t at = 0;
    for (const std::string& pattern : patterns) {
        const std::regex wanted(pattern);
        while (at < lines.size() && !std::regex_match(lines[at], wanted)) {
            ++at;
        }
        if (at == lines.size()) {
            return false;
        }
        ++at;
    }
    return true;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) {
        joined += "\n  " + line;
    }
    return joined;
}

class TraceHooksTest : public SwitcherTest {
  protected:
    void SetUp() override {
        SwitcherTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        // The load opens the port itself.
        CloseSerialPort(context->port);
        context->port = kNoPort;
        previous_ = fs::current_path();
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int attempt = 0;; ++attempt) {
            directory_ = fs::temp_directory_path() / ("qel_trace_" + std::to_string(stamp + attempt));
            if (fs::create_directory(directory_)) {
                break;
            }
        }
        fs::current_path(directory_);
    }
    void TearDown() override {
        TraceClose(&context->trace);
        SwitcherTest::TearDown();
        SetTraceVariable(nullptr);
        SetTraceFileLimitForTest(0);
        if (!directory_.empty()) {
            fs::current_path(previous_);
            std::error_code ignored;
            fs::remove_all(directory_, ignored);
        }
    }

    int32_t Call(int32_t code, void* data = nullptr) {
        DriverRequest request = MakeRequest(context, code, data);
        return QelMain(&request);
    }
    int32_t Load(const char* port) {
        PortConfig config = MakePortConfig(port, 1, kTestReadTimeoutUnits);
        return Call(REQ_LOAD, &config);
    }

    fs::path previous_;
    fs::path directory_;
};

enum class Before { kNothing, kWriteList, kHangUp, kClosePort };

struct KindCase {
    const char* name;
    Before before;
    int32_t code;
    const char* address;
    uint32_t format;
    uint16_t number;
    const char* text;  // a string gate's value
    std::vector<std::string> replies;
    int32_t result;
    std::vector<std::string> lines;  // in this order among the request's own
};

const char* const kEnd0 = "END [A-Z_]+ result 0 after \\d+ ms";
const char* const kEnd1 = "END [A-Z_]+ result 1 after \\d+ ms";

// In order: the hang-up and the closed port last, as the line stays so.
const KindCase kKinds[] = {
    {"HashBankOne",
     Before::kNothing,
     REQ_WRITE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     5,
     nullptr,
     {kAccepted},
     0,
     {"WRITE_GATE 0102 value 5", "TRY 1 of 3", "TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>",
      "WAIT 80 ms before reading the reply", "RX accepted \\d+ ms after TX: 5 bytes 2A 33 46 0D 0A  \\*3F<CR><LF>",
      kEnd0}},
    {"HashRefusedThrice",
     Before::kNothing,
     REQ_WRITE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     5,
     nullptr,
     {kRefused, kRefused, kRefused},
     1,
     {"TRY 2 of 3", "TRY 3 of 3", "RX refused .*", "REASON switcher refused all three tries \\(\\?3F<CR><LF>\\)",
      kEnd1}},
    {"HashBankTwo",
     Before::kNothing,
     REQ_WRITE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     18,
     nullptr,
     {kAccepted, kAccepted},
     0,
     {"WRITE_GATE 0102 value 18", "TX .*#0102D1<CR><CR>", "WAIT 80 ms before reading the preface's reply",
      "RX not judged .*", "TX .*#01022E<CR><CR>", "RX accepted .*", kEnd0}},
    {"HashMarkedRunsTwice",
     Before::kNothing,
     REQ_WRITE_GATE,
     "X0A1F",
     GATE_FORMAT_NUMERIC,
     12,
     nullptr,
     {kAccepted, kAccepted},
     0,
     {"TX .*#0A1FC7<CR><CR>", "RUN 2 of 2.*", "TX .*#0A1FC7<CR><CR>", kEnd0}},
    {"HashOutOfRange",
     Before::kNothing,
     REQ_WRITE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     31,
     nullptr,
     {},
     1,
     {"WRITE_GATE 0102 value 31", "REASON value 31 out of range 0-30", kEnd1}},
    {"LowerCaseHex",
     Before::kNothing,
     REQ_WRITE_GATE,
     "01a2",
     GATE_FORMAT_NUMERIC,
     5,
     nullptr,
     {},
     1,
     {"REASON address 01a2 not recognised for a numeric gate \\(hex digits are upper-case\\)", kEnd1}},
    {"Bits",
     Before::kNothing,
     REQ_WRITE_GATE,
     "S0304",
     GATE_FORMAT_STRING,
     0,
     "1010",
     {kAccepted},
     0,
     {"WRITE_GATE S0304 text \"1010\"", "TX 15 bytes .*  !03040010102A<CR><CR>", "RX accepted .*", kEnd0}},
    {"BitsNotBinary",
     Before::kNothing,
     REQ_WRITE_GATE,
     "S0304",
     GATE_FORMAT_STRING,
     0,
     "0102",
     {},
     1,
     {"REASON text \"0102\" is not four binary digits \\(0 and 1\\)", kEnd1}},
    {"ByteSilent",
     Before::kNothing,
     REQ_WRITE_GATE,
     "BP0506000A",
     GATE_FORMAT_NUMERIC,
     10,
     nullptr,
     {},
     1,
     {"WAIT 80 ms before sending", "TX .*!0506000A0A1D<CR><CR>", "RX none \\d+ ms after TX: 0 bytes",
      "REASON no acceptance from the switcher \\(nothing came within the read time-out\\)", kEnd1}},
    {"ByteOutOfRange",
     Before::kNothing,
     REQ_WRITE_GATE,
     "BP0506000A",
     GATE_FORMAT_NUMERIC,
     256,
     nullptr,
     {},
     1,
     {"REASON value 256 out of range 0-255", kEnd1}},
    {"Level",
     Before::kNothing,
     REQ_WRITE_GATE,
     "M0012",
     GATE_FORMAT_NUMERIC,
     42,
     nullptr,
     {kAccepted, kAccepted},
     0,
     {"TX 3 bytes 50 0D 0D  P<CR><CR>", "RX accepted .*", "TX .*M00120142B<CR><CR>",
      "WAIT 1000 ms before reading the reply", "RX accepted .*", kEnd0}},
    {"LevelOutOfRange",
     Before::kNothing,
     REQ_WRITE_GATE,
     "M0012",
     GATE_FORMAT_NUMERIC,
     100,
     nullptr,
     {},
     1,
     {"REASON value 100 out of range 0-99", kEnd1}},
    {"TextPreambleRefused",
     Before::kNothing,
     REQ_WRITE_GATE,
     "L05",
     GATE_FORMAT_STRING,
     0,
     "Camera one",
     {kRefused},
     1,
     {"WRITE_GATE L05 text \"Camera one\"", "RX refused .*",
      "REASON switcher refused the preamble P, so the command was not sent \\(\\?3F<CR><LF>\\)", kEnd1}},
    {"ReadText",
     Before::kNothing,
     REQ_UPDATE_GATE,
     "R05",
     GATE_FORMAT_STRING,
     0,
     nullptr,
     {"*00\r\n", "Camera one1\r\n"},
     0,
     {"UPDATE_GATE R05", "TX .*R05A<CR><CR>", "RX unrecognised \\d+ ms after TX: 13 bytes .*  Camera one1<CR><LF>",
      kEnd0}},
    {"UpdateOfAWriteGate",
     Before::kNothing,
     REQ_UPDATE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     0,
     nullptr,
     {},
     1,
     {"REASON only \"R\" gates can be updated", kEnd1}},
    {"ReadGate",
     Before::kNothing,
     REQ_READ_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     0,
     nullptr,
     {},
     1,
     {"READ_GATE 0102", "REASON the driver does not read gates.*", kEnd1}},
    {"FreeText",
     Before::kNothing,
     REQ_WRITE_GATE,
     "SEND_STR",
     GATE_FORMAT_STRING,
     0,
     "CAM 1\x02",
     {kAccepted},
     0,
     {"WRITE_GATE SEND_STR text \"CAM 1<02>\"", "TX 7 bytes 43 41 4D 20 31 02 0D  CAM 1<02><CR>", "RX not judged .*",
      kEnd0}},
    {"FreeTextNothingBack",
     Before::kNothing,
     REQ_WRITE_GATE,
     "SEND_STR",
     GATE_FORMAT_STRING,
     0,
     "CAM 2",
     {},
     0,
     {"TX 6 bytes .*", "RX none \\d+ ms after TX: 0 bytes", "NOTE result 0 not confirmed by the switcher", kEnd0}},
    {"ListFileMissing",
     Before::kNothing,
     REQ_WRITE_GATE,
     "GET_STR_FROM_FILE",
     GATE_FORMAT_NUMERIC,
     1,
     nullptr,
     {},
     1,
     {"REASON qelkophv01\\.ini not found in .*qel_trace_\\d+", kEnd1}},
    {"ListEntry",
     Before::kWriteList,
     REQ_WRITE_GATE,
     "GET_STR_FROM_FILE",
     GATE_FORMAT_NUMERIC,
     1,
     nullptr,
     {kAccepted},
     0,
     {"LIST qelkophv01\\.ini entry 1: #010259", "TX 8 bytes .*  #010259<CR>", kEnd0}},
    {"ListEntryNothingBack",
     Before::kNothing,
     REQ_WRITE_GATE,
     "GET_STR_FROM_FILE",
     GATE_FORMAT_NUMERIC,
     1,
     nullptr,
     {},
     0,
     {"LIST qelkophv01\\.ini entry 1: #010259", "RX none \\d+ ms after TX: 0 bytes",
      "NOTE result 0 not confirmed by the switcher", kEnd0}},
    {"ListEntryMissing",
     Before::kNothing,
     REQ_WRITE_GATE,
     "GET_STR_FROM_FILE",
     GATE_FORMAT_NUMERIC,
     9,
     nullptr,
     {},
     1,
     {"LIST qelkophv01\\.ini entry 9 not found", "REASON entry 9 not in the list", kEnd1}},
    {"LineHungUp",
     Before::kHangUp,
     REQ_WRITE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     5,
     nullptr,
     {},
     1,
     {"REASON line write failed on .* after \\d+ of 9 bytes \\(OS error \\d+: .+\\)",
      "PORT .+ lost \\(OS error \\d+: .+\\)", kEnd1}},
    {"PortClosed",
     Before::kClosePort,
     REQ_WRITE_GATE,
     "0102",
     GATE_FORMAT_NUMERIC,
     5,
     nullptr,
     {},
     1,
     {"REASON port .* not open: the host closed it; the host opens it again with an open or a start", kEnd1}},
};

TEST_F(TraceHooksTest, EachGateKindLeavesItsLines) {
    SetTraceVariable(kTraceName);
    ASSERT_EQ(Load("COM99"), kPortFailed);
    ASSERT_EQ(Load(peer.DriverPortName()), kOk);
    EXPECT_TRUE(MatchInOrder(TraceLines(kTraceName),
                             {"LOAD COM99", "LINE 9600 baud, .*", "PORT COM99 open failed \\(OS error \\d+: .+\\)",
                              "END LOAD result 2 after \\d+ ms", "LOAD .+", "PORT .+ opened", kEnd0}))
        << Joined(TraceLines(kTraceName));

    for (const KindCase& c : kKinds) {
        SCOPED_TRACE(c.name);
        if (c.before == Before::kWriteList) {
            std::ofstream(kCommandListFile, std::ios::binary) << "StartOfCommandList\n1, #010259;\nEndOfCommandList\n";
        } else if (c.before == Before::kHangUp) {
            if (!peer.CanHangUp()) {
                continue;
            }
            peer.HangUp();
        } else if (c.before == Before::kClosePort) {
            ASSERT_EQ(Call(REQ_CLOSE_PORT), kOk);
        }
        const size_t before = TraceLines(kTraceName).size();
        if (c.before != Before::kHangUp && c.before != Before::kClosePort) {
            Answer(c.replies);
        }
        GateValueArea value = c.text != nullptr ? GateValueArea(c.text) : GateValueArea(c.number);
        GateAccessRecord gate(c.address, c.format, value.bytes);
        EXPECT_EQ(Call(c.code, &gate.access), c.result);
        if (switcher) {
            switcher->Stop();
            switcher.reset();
        }
        const std::vector<std::string> all = TraceLines(kTraceName);
        const std::vector<std::string> own(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        EXPECT_TRUE(MatchInOrder(own, c.lines)) << Joined(own);
        // A 0 the switcher did not confirm is noted; nothing else is.
        const auto isNote = [](const std::string& line) { return line.rfind("NOTE ", 0) == 0; };
        EXPECT_EQ(std::any_of(own.begin(), own.end(), isNote), std::any_of(c.lines.begin(), c.lines.end(), isNote))
            << Joined(own);
    }
    EXPECT_EQ(Call(REQ_STOP), kOk);
    const std::vector<std::string> all = TraceLines(kTraceName);
    EXPECT_TRUE(MatchInOrder(all, {"STOP", kEnd0})) << Joined(all);
    // Reasons go to the trace only.
    for (int i = 0; i < MoxLogCount(); ++i) {
        EXPECT_EQ(std::string(MoxLogLine(i)).find("REASON"), std::string::npos);
    }
}

// A start that cannot open its port says which port and why, in the trace
// only, and the requests that then find no port name it with the same cause.
TEST_F(TraceHooksTest, AFailedStartNamesThePortAndItsCause) {
    SetTraceVariable(kTraceName);
    std::ofstream("plain") << "x";
    fs::create_directory("folder");
    const std::string line = peer.DriverPortName();
    const LineSettings nineBits = {9600, 9, 0, 0};
    const std::string osError = " \\(OS error \\d+: .+\\)";  // in the start's reason only
    const struct {
        std::string name;
        LineSettings line;
        std::string cause;  // pattern
        bool held;          // the test holds the port meanwhile
    } cases[] = {
        {"COM99", kDefaultLine, "no such port on this computer", false},
        {"./plain", kDefaultLine, "not a serial port \\(a regular file\\)", false},
        {"./folder", kDefaultLine, "not a serial port \\(a folder\\)", false},
#if !defined(_WIN32)
        // Wine lets this process open a COM port it holds a second time.
        {line, kDefaultLine, "held by another program or instance", true},
#endif
        {line, nineBits, "the port refuses the line settings 9600 baud, 9 data bits, stop bits code 0, parity code 0",
         false},
        {"", kDefaultLine, "port name empty", false},
        {"ABCDEFGHIJKL", kDefaultLine, "port name has no end within its 12 bytes \\(at most 11 characters\\)", false},
#if !defined(_WIN32)
        {"/dev/null", kDefaultLine, "not a serial port \\(a device of another kind\\)", false},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string shown = c.name.substr(0, 12);
        const size_t before = TraceLines(kTraceName).size();
        PortConfig config = MakePortConfig(c.name.c_str(), 1, kTestReadTimeoutUnits, c.line);
        MoxReset();
        PortHandle held = kNoPort;
        if (c.held) {
            ASSERT_EQ(OpenSerialPort(line.c_str(), kDefaultLine, kLineControlDtrRts, &held), kSerialOk);
        }
        EXPECT_EQ(Call(REQ_LOAD, &config), kPortFailed);
        CloseSerialPort(held);
        ASSERT_EQ(MoxLogCount(), 1);
        EXPECT_EQ(MoxLogLine(0), "QELPA : Fail to open " + shown);
        GateValueArea value(uint16_t{5});
        GateAccessRecord gate("0102", GATE_FORMAT_NUMERIC, value.bytes);
        EXPECT_EQ(Call(REQ_WRITE_GATE, &gate.access), kFailed);
        const bool plain = c.cause.rfind("port name", 0) == 0;
        // The system's error follows the words where it tells more.
        const bool told = c.cause.find("serial port") == std::string::npos || c.name == "/dev/null";
        const std::vector<std::string> all = TraceLines(kTraceName);
        const std::vector<std::string> own(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        const std::string named = shown.empty() ? "\\(no name\\)" : shown;
        EXPECT_TRUE(MatchInOrder(
            own, {"REASON " + (plain ? c.cause : "port " + shown + " not opened: " + c.cause + (told ? osError : "")),
                  "END LOAD result 2.*",
                  "REASON port " + named + " not open: the start failed \\(" + c.cause +
                      "\\); the host opens it again with a start",
                  kEnd1}))
            << Joined(own);
    }
}

// A text as a pattern that matches it alone.
std::string Literal(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), "\\$&");
}

// Names and texts from outside reach the trace in its notation wherever
// they go in: each line stays one whole stamped line of printable ASCII.
TEST_F(TraceHooksTest, HostileNamesAndTextsGoInAsTheNotationShowsThem) {
    const struct {
        std::string bytes;  // at most 12: the port name field takes them all
        std::string shown;
    } cases[] = {
        {"COM1\nB", "COM1<LF>B"},
        {"\x1b[2J\x1b[H", "<1B>[2J<1B>[H"},
        {"/dev/\x07\r\n\t\x7f!!", "/dev/<07><CR><LF><09><7F>!!"},
        {"\x80\xff\xc3\xa9", "<80><FF><C3><A9>"},
        {"%n%n%s%s", "%n%n%s%s"},
    };
    SetTraceVariable(kTraceName);
    const PortConfig good = MakePortConfig(peer.DriverPortName(), 1, kTestReadTimeoutUnits);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        const size_t before = TraceLines(kTraceName).size();
        PortConfig config = good;
        std::memset(config.portName, 0, sizeof config.portName);
        std::memcpy(config.portName, c.bytes.data(), std::min(c.bytes.size(), sizeof config.portName));
        EXPECT_EQ(Call(REQ_LOAD, &config), kPortFailed);
        Call(REQ_OPEN_PORT);
        config = good;
        ASSERT_EQ(Call(REQ_LOAD, &config), kOk);
        GateValueArea number(uint16_t{5});
        GateAccessRecord address(c.bytes.c_str(), GATE_FORMAT_NUMERIC, number.bytes);
        EXPECT_EQ(Call(REQ_WRITE_GATE, &address.access), kFailed);
        GateValueArea text(c.bytes.c_str());
        GateAccessRecord freeText("SEND_STR", GATE_FORMAT_STRING, text.bytes);
        Call(REQ_WRITE_GATE, &freeText.access);
        PortChange change{};
        std::memcpy(change.portName, c.bytes.data(), std::min(c.bytes.size(), sizeof change.portName));
        change.timeout = kTestReadTimeoutUnits;
        change.line = kDefaultLine;
        Call(REQ_RECONFIGURE_PORT, &change);
        EXPECT_EQ(Call(REQ_STOP), kOk);

        const std::string shown = Literal(c.shown);
        const std::vector<std::string> all = TraceLines(kTraceName);
        const std::vector<std::string> own(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
        EXPECT_TRUE(MatchInOrder(
            own, {"LOAD " + shown, "PORT " + shown + " open failed.*", "REASON port .*", "END LOAD result 2 .*",
                  "OPEN_PORT", "WRITE_GATE " + shown + " value 5", "REASON .*" + shown + ".*",
                  "WRITE_GATE SEND_STR text \"" + shown + "\"", "TX .*  " + shown + "<CR>", "RECONFIGURE_PORT " + shown,
                  "PORT " + shown + " open failed.*"}))
            << Joined(own);
        for (const std::string& line : own) {
            EXPECT_EQ(line.rfind("UNSTAMPED", 0), std::string::npos) << line;
            EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char b) { return b >= 0x20 && b < 0x7F; })) << line;
        }
    }
}

TEST_F(TraceHooksTest, FullFileRollsOverThroughTheDriver) {
    constexpr uint32_t kLimit = 1000;
    SetTraceFileLimitForTest(kLimit);
    SetTraceVariable(kTraceName);
    ASSERT_EQ(Load("NUL"), kOk);
    constexpr int kRequests = 40;  // three lines each: several files' worth
    for (int n = 0; n < kRequests; ++n) {
        EXPECT_EQ(Call(REQ_NOP), kFailed);
    }
    const std::string older = std::string(kTraceName) + ".1";
    EXPECT_LE(fs::file_size(kTraceName), kLimit);
    EXPECT_LE(fs::file_size(older), kLimit);
    const std::vector<std::string> lines = TraceLines(kTraceName);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(kEnd1))) << lines.back();
    EXPECT_TRUE(MatchInOrder(TraceLines(older), {"NOP", "REASON NOP always answers 1", kEnd1}));
}

struct SwitchCase {
    const char* name;
    const char* variable;  // null: unset
    bool logged;           // "QELPA : Cannot write trace ..."
};

TEST_F(TraceHooksTest, TraceThatIsOffOrRefusedChangesNoResult) {
    const SwitchCase cases[] = {
        {"Unset", nullptr, false},
        {"Empty", "", false},
        {"Unwritable", "qel_no_such_folder/trace.txt", true},
    };
    for (const SwitchCase& c : cases) {
        SCOPED_TRACE(c.name);
        MoxReset();
        SetTraceVariable(c.variable);
        EXPECT_EQ(Load("NUL"), kOk);
        GateValueArea value(5);
        GateAccessRecord gate("0102", GATE_FORMAT_NUMERIC, value.bytes);
        EXPECT_EQ(Call(REQ_WRITE_GATE, &gate.access), kOk);
        EXPECT_EQ(Call(REQ_NOP), kFailed);
        EXPECT_EQ(Call(REQ_STOP), kOk);

        std::vector<std::string> log;
        for (int i = 0; i < MoxLogCount(); ++i) {
            log.push_back(MoxLogLine(i));
        }
        // NUL never answers: its write ends in the silence's log line.
        ASSERT_EQ(log.size(), c.logged ? 3u : 2u);
        if (c.logged) {
            // The name made absolute against the working directory.
            EXPECT_EQ(log[0].rfind("QELPA : Cannot write trace ", 0), 0u) << log[0];
            EXPECT_NE(log[0].find("qel_no_such_folder"), std::string::npos) << log[0];
        }
        EXPECT_EQ(log[log.size() - 2], "QELPHV: loaded successfully");
        EXPECT_EQ(log.back(), "QELPA : No answer on NUL");
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(directory_)) {
            files.push_back(entry.path().filename().string());
        }
        EXPECT_TRUE(files.empty()) << files.front();
    }
}

// A trace name that is no regular file is refused at the start, which goes
// on without a trace: nothing of it reaches the line, even when the name is
// the instance's own port, and the host's log has the one line.
TEST_F(TraceHooksTest, TraceNamedAfterADeviceOrAFifoNeverReachesTheLine) {
    std::string ownPort = peer.DriverPortName();
#if !defined(_WIN32)
    if (ownPort[0] != '/') {
        ownPort = "/dev/" + ownPort;
    }
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
#endif
    std::vector<std::string> names = {ownPort, "."};
#if !defined(_WIN32)
    names.push_back("fifo");
#endif
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        MoxReset();
        SetTraceVariable(name.c_str());
        EXPECT_EQ(Load(peer.DriverPortName()), kOk);
        EXPECT_EQ(Call(REQ_NOP), kFailed);
        EXPECT_EQ(Call(REQ_STOP), kOk);
        EXPECT_EQ(peer.Receive(4096, 200), "");
        int refusals = 0;
        for (int i = 0; i < MoxLogCount(); ++i) {
            refusals += std::string(MoxLogLine(i)).rfind("QELPA : Cannot write trace ", 0) == 0 ? 1 : 0;
        }
        EXPECT_EQ(refusals, 1);
    }
}

// With the real waits: a reply read after the 80 ms wait that follows its
// transmission shows at least those 80 ms, and so does the request.
TEST_F(TraceHooksTest, TimesInTheTraceCountTheRealWait) {
    SetSleepFunction(nullptr);
    SetTraceVariable(kTraceName);
    ASSERT_EQ(Load(peer.DriverPortName()), kOk);
    Answer({kAccepted});
    GateValueArea value(5);
    GateAccessRecord gate("0102", GATE_FORMAT_NUMERIC, value.bytes);
    EXPECT_EQ(Call(REQ_WRITE_GATE, &gate.access), kOk);
    const std::regex read("RX accepted (\\d+) ms after TX.*");
    const std::regex end("END WRITE_GATE result 0 after (\\d+) ms");
    int readMs = -1;
    int requestMs = -1;
    for (const std::string& line : TraceLines(kTraceName)) {
        std::smatch match;
        if (std::regex_match(line, match, read)) {
            readMs = std::stoi(match[1].str());
        } else if (std::regex_match(line, match, end)) {
            requestMs = std::stoi(match[1].str());
        }
    }
    EXPECT_GE(readMs, 80) << Joined(TraceLines(kTraceName));
    EXPECT_GE(requestMs, readMs);
}

}  // namespace
