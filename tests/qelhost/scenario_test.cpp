// The scenario language: what each line becomes, and which lines are refused
// with their line number before anything runs.
#include "scenario.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>

namespace qelhost {
namespace {

Scenario ParseOk(const std::string& text, const Variables& variables = {}) {
    Scenario scenario;
    ParseError error;
    EXPECT_TRUE(ParseScenario(text, variables, &scenario, &error)) << "line " << error.line << ": " << error.message;
    return scenario;
}

const Command& Last(const Scenario& scenario) {
    static const Command kNone;
    return scenario.commands.empty() ? kNone : scenario.commands.back();
}

const char kGates[] =
    "gate 0102 numeric 7 name=CAM1\n"
    "gate R05 string \"\" name=STATUS\n"
    "gate OUTGOING string\n"
    "gate INCOMING string\n";

TEST(ScenarioParser, DeclaresGatesWithNamesFormatsAndValues) {
    Scenario scenario = ParseOk(std::string(kGates) +
                                "gate \"#0102\" numeric 0x10 name=MARKED\n"
                                "gate ACK string format=3 name=\"odd ack\"\n");
    ASSERT_EQ(scenario.gates.size(), 6u);
    EXPECT_EQ(scenario.gates[0].address, "0102");
    EXPECT_EQ(scenario.gates[0].name, "CAM1");
    EXPECT_TRUE(scenario.gates[0].numeric);
    EXPECT_EQ(scenario.gates[0].format, 0u);
    EXPECT_EQ(scenario.commands[0].number, 7);
    EXPECT_TRUE(scenario.commands[0].hasValue);
    EXPECT_FALSE(scenario.gates[1].numeric);
    EXPECT_EQ(scenario.gates[1].format, 7u);
    EXPECT_EQ(scenario.gates[2].name, "OUTGOING");  // the name defaults to the address
    EXPECT_FALSE(scenario.commands[2].hasValue);
    EXPECT_EQ(scenario.gates[4].address, "#0102");
    EXPECT_EQ(scenario.commands[4].number, 16);
    EXPECT_EQ(scenario.gates[5].name, "odd ack");
    EXPECT_EQ(scenario.gates[5].format, 3u);
}

TEST(ScenarioParser, NamesGatesByNameBeforeAddress) {
    // The second gate's name is the first gate's address.
    Scenario scenario = ParseOk("gate 0102 numeric name=A\ngate 0304 numeric name=0102\nwrite 0102 1\nwrite A 2\n");
    EXPECT_EQ(scenario.commands[2].gate, 1);
    EXPECT_EQ(scenario.commands[3].gate, 0);
}

TEST(ScenarioParser, ReadsRequestsWithTheirOptionsAndExpectedResults) {
    struct Case {
        const char* line;
        Op op;
        std::optional<int32_t> expect;
    } cases[] = {
        {"info", Op::Info, std::nullopt},
        {"load expect 0", Op::Load, 0},
        {"warmstart expect=0", Op::WarmStart, 0},
        {"register CAM1 expect 1", Op::Register, 1},
        {"nop expect 1", Op::Nop, 1},
        {"update STATUS expect 0", Op::Update, 0},
        {"read R05 expect 1", Op::Read, 1},
        {"write CAM1 5 expect 0", Op::Write, 0},
        {"write CAM1", Op::Write, std::nullopt},
        {"blockwrite expect 1", Op::BlockWrite, 1},
        {"stop expect 2", Op::Stop, 2},
        {"close", Op::Close, std::nullopt},
        {"open expect 0", Op::Open, 0},
        {"reconfigure timeout=0", Op::Reconfigure, std::nullopt},
        {"request -1 expect 1", Op::Raw, 1},
    };
    for (const Case& c : cases) {
        Scenario scenario = ParseOk(std::string(kGates) + c.line);
        EXPECT_EQ(Last(scenario).op, c.op) << c.line;
        EXPECT_EQ(Last(scenario).expect, c.expect) << c.line;
        EXPECT_TRUE(IsRequest(Last(scenario).op)) << c.line;
    }
}

TEST(ScenarioParser, ReadsPortSettings) {
    Scenario scenario = ParseOk(
        "load port=$PORT enabled=0 timeout=50 line=19200,7,2,1\n"
        "reconfigure port=COM6\n",
        {{"PORT", "pts/3"}});
    const Command& load = scenario.commands[0];
    EXPECT_EQ(load.port, "pts/3");
    EXPECT_EQ(load.enabled, 0u);
    EXPECT_EQ(load.timeout, 50u);
    ASSERT_TRUE(load.lineSettings.has_value());
    EXPECT_EQ(load.lineSettings->baudRate, 19200);
    EXPECT_EQ(load.lineSettings->dataBits, 7);
    EXPECT_EQ(load.lineSettings->stopBits, 2);
    EXPECT_EQ(load.lineSettings->parity, 1);
    const Command& reconfigure = scenario.commands[1];
    EXPECT_EQ(reconfigure.port, "COM6");
    EXPECT_FALSE(reconfigure.timeout.has_value());
    EXPECT_FALSE(reconfigure.lineSettings.has_value());
}

TEST(ScenarioParser, WritesTextsWithControlBytesAndVariables) {
    Scenario scenario = ParseOk(
        "gate SEND_STR string\n"
        "write SEND_STR P<CR>\n"
        "write SEND_STR \"a b<STX>\\x41 $PORT\"\n"
        "write SEND_STR \"\"\n"
        "write SEND_STR @CAM1$\n"
        "write SEND_STR \"expect\"\n"
        "write SEND_STR \"x=1\"\n",
        {{"PORT", "COM5"}});
    EXPECT_EQ(scenario.commands[1].text, "P\r");
    EXPECT_EQ(scenario.commands[2].text,
              "a b\x02"
              "A COM5");
    EXPECT_TRUE(scenario.commands[3].hasValue);
    EXPECT_EQ(scenario.commands[3].text, "");
    EXPECT_EQ(scenario.commands[4].text, "@CAM1$");
    EXPECT_EQ(scenario.commands[5].text, "expect");
    EXPECT_FALSE(scenario.commands[5].expect.has_value());
    EXPECT_EQ(scenario.commands[6].text, "x=1");
}

TEST(ScenarioParser, ReadsChecks) {
    struct Case {
        const char* line;
        Op op;
        const char* text;
        bool contains;
    } cases[] = {
        {"check result 2", Op::CheckResult, "", false},
        {"check elapsed 80 0x100", Op::CheckElapsed, "", false},
        {"check number CAM1 20", Op::CheckNumber, "", false},
        {"check text STATUS \"ABC\"", Op::CheckText, "ABC", false},
        {"check text STATUS contains AB", Op::CheckText, "AB", true},
        {"check text STATUS contains", Op::CheckText, "contains", false},
        {"check address STATUS r05", Op::CheckAddress, "r05", false},
        {"check log \"QELPHV: loaded successfully\"", Op::CheckLog, "QELPHV: loaded successfully", false},
        {"check log contains \"Fail to open\"", Op::CheckLog, "Fail to open", true},
        {"check nolog", Op::CheckNoLog, "", false},
        {"check echo OUTGOING \"#01025 9<CR><CR>\"", Op::CheckEcho, "#01025 9\r\r", false},
        {"check echo INCOMING \"*01\\<CR>\\<LF>\"", Op::CheckEcho, "*01<CR><LF>", false},
        {"check echo INCOMING contains *", Op::CheckEcho, "*", true},
        {"check noecho OUTGOING", Op::CheckNoEcho, "", false},
    };
    for (const Case& c : cases) {
        Scenario scenario = ParseOk(std::string(kGates) + c.line);
        EXPECT_EQ(Last(scenario).op, c.op) << c.line;
        EXPECT_EQ(Last(scenario).text, c.text) << c.line;
        EXPECT_EQ(Last(scenario).contains, c.contains) << c.line;
        EXPECT_TRUE(IsCheck(Last(scenario).op)) << c.line;
    }
    Scenario scenario = ParseOk("check elapsed 80 0x100");
    EXPECT_EQ(Last(scenario).elapsedMin, 80u);
    EXPECT_EQ(Last(scenario).elapsedMax, 256u);
    scenario = ParseOk(std::string(kGates) + "check registration CAM1 0 0 255 16");
    EXPECT_EQ(Last(scenario).words, (std::vector<uint32_t>{0, 0, 255, 16}));
    scenario = ParseOk("check info size=3165 device=\"Velnor matrix switcher\" line=9600,8,0,0 words=70,4,3");
    EXPECT_EQ(Last(scenario).infoSize, 3165u);
    EXPECT_EQ(Last(scenario).infoDevice, "Velnor matrix switcher");
    EXPECT_EQ(Last(scenario).infoWords, (std::vector<uint32_t>{70, 4, 3}));
    EXPECT_EQ(Last(scenario).lineSettings->baudRate, 9600);
}

TEST(ScenarioParser, SkipsCommentsAndBlankLinesAndCountsEveryLine) {
    Scenario scenario = ParseOk(
        "# needs: switcher\r\n"
        "\n"
        "   \t\n"
        "gate 0102 numeric  # the camera\r\n"
        "  note a \"#\" in quotes stays\n"
        "wait 0x10\n");
    ASSERT_EQ(scenario.commands.size(), 3u);
    EXPECT_EQ(scenario.commands[0].line, 4);
    EXPECT_EQ(scenario.commands[0].source, "gate 0102 numeric  # the camera");
    EXPECT_EQ(scenario.commands[1].text, "a # in quotes stays");
    EXPECT_EQ(scenario.commands[2].waitMs, 16u);
}

TEST(ScenarioParser, RefusesMalformedLinesWithTheirNumber) {
    struct Case {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"info\nwirte CAM1 5\n", 2, "unknown command \"wirte\""},
        {"write CAM1 5", 1, "no gate \"CAM1\" declared before this line"},
        {"gate 0102 numeric\nwrite 0102 65536", 2, "number from 0 to 65535"},
        {"gate 0102 numeric\nwrite 0102 abc", 2, "is numeric"},
        {"gate 0102 numeric\ngate 0102 string", 2, "exists already"},
        {"gate 0102 bool", 1, "numeric or string"},
        {"gate \"\" string", 1, "needs name="},
        {"gate 0102 numeric name=", 1, "name= needs a NAME"},
        {"gate 0102 numeric\nwrite 0102 -1", 2, "what its value area holds (set takes others"},
        {"gate 0102 numeric\nset 0102 1.2.3", 2, "or a decimal such as -3.7"},
        {"gate 0102 numeric\nset 0102 .5", 2, "or a decimal such as -3.7"},
        {"gate 0102 numeric\nset 0102 1e3", 2, "or a decimal such as -3.7"},
        {"wirte\x1b[2J\x07", 1, "unknown command \"wirte<1B>[2J<07>\""},
        {"gate 0102", 1, "usage: gate ADDRESS"},
        {"\n\nnote \"open", 3, "not closed"},
        {"load port=$PORT", 1, "unknown variable $PORT (give it with --port NAME)"},
        {"note $MISSING", 1, "--var NAME=VALUE"},
        {"load port=ABCDEFGHIJKL", 1, "port name \"ABCDEFGHIJKL\" is 12 bytes long: a port name holds at most 11"},
        {"load line=9600,8,0", 1, "BAUD,DATA,STOP,PARITY"},
        {"load speed=9600", 1, "unknown option speed="},
        {"load port=A port=B", 1, "given twice"},
        {"reconfigure enabled=1", 1, "unknown option enabled="},
        {"nop expect one", 1, "expect needs a number"},
        {"nop now", 1, "unexpected \"now\""},
        {"wait soon", 1, "wait needs a number"},
        {"gate R05 string\ncheck number R05 3", 2, "use check text"},
        {"gate 0102 numeric\ncheck text 0102 x", 2, "use check number"},
        // A quoted "contains" is the text itself, so x is one word too many.
        {"gate R05 string\ncheck text R05 \"contains\" x", 2, "unexpected \"x\""},
        {"check echo STATUS x", 1, "OUTGOING, INCOMING or LINE_STATE"},
        {"check noecho OUTGOING", 1, "no gate with the address OUTGOING"},
        {"check registration", 1, "usage: check registration"},
        {"check info", 1, "needs size="},
        {"check info words=70,4", 1, "W0,W4,W7"},
        {"check sky blue", 1, "unknown check \"sky\""},
        {"check", 1, "check what?"},
        {"check elapsed 100", 1, "usage: check elapsed MIN MAX"},
        {"check elapsed 200 100", 1, "MIN no larger than MAX"},
        {"check elapsed -1 100", 1, "check elapsed needs a number"},
        {"note <NUL>", 1, "NUL byte"},
        {"\"info\"", 1, "begins with a command word"},
        {"request x", 1, "request needs a code"},
    };
    for (const Case& c : cases) {
        Scenario scenario;
        ParseError error;
        EXPECT_FALSE(ParseScenario(c.text, {}, &scenario, &error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_NE(error.message.find(c.message), std::string::npos) << c.text << " -> " << error.message;
    }
}

TEST(ScenarioParser, RefusesARawNulAndShowsLongMessagesShort) {
    Scenario scenario;
    ParseError error;
    EXPECT_FALSE(
        ParseScenario(std::string("gate SEND_STR string\nwrite SEND_STR \"Cam\0era one\"", 44), {}, &scenario, &error));
    EXPECT_EQ(error.line, 2);
    EXPECT_NE(error.message.find("NUL byte"), std::string::npos) << error.message;
    EXPECT_FALSE(ParseScenario("wirte" + std::string(100000, '\x1b'), {}, &scenario, &error));
    EXPECT_LT(error.message.size(), 400u);
    EXPECT_EQ(error.message.substr(error.message.size() - 7), "<1B>...");
}

TEST(ScenarioParser, KeepsNegativeAndFractionalValuesForTheHostLibraryAlone) {
    Scenario scenario = ParseOk("gate 0102 numeric -3.7 name=N\nset N 70000\nset N 0x10\nset N 2.50\n");
    EXPECT_EQ(scenario.commands[0].hostNumber, -3.7);
    EXPECT_EQ(scenario.commands[0].number, 0);  // what the value area holds
    EXPECT_EQ(scenario.commands[1].hostNumber, 70000.0);
    EXPECT_FALSE(scenario.commands[2].hostNumber.has_value());
    EXPECT_EQ(scenario.commands[2].number, 16);
    EXPECT_EQ(scenario.commands[3].hostNumber, 2.5);
}

// The headers as --headers prints them for the runners; CR LF lines read
// as LF ones, and a NUL, which the runners' shell would drop, is refused.
TEST(ScenarioParser, ReadsTheHeaders) {
    using std::string_view_literals::operator""sv;
    struct Case {
        std::string_view text;
        const char* report;  // nullptr: refused
    } cases[] = {
        {"  # needs:  switcher \r\n# switcher: --refuse 2\r\n# switcher: --text \"07=Studio A\"\r\nnop\r\n",
         "needs switcher\nswitcher --refuse 2\nswitcher --text \"07=Studio A\"\n"},
        {"nop\n# needs: switcher\n", ""},
        {"# limit: 30\n# port-held-for: 2500\n# port: link\n# workdir: empty\n# switcher-shows: ROUTE 01\n",
         "switcher-shows ROUTE 01\nport-held-for 2500\nlimit 30\nport link\nworkdir empty\n"},
        {"# Note: prose with a colon\n# workdir: ../site\n", "workdir ../site\n"},
        {"# limit: soon\n", nullptr},
        {"# port: COM3\n", nullptr},
        {"# needs: sw\0itcher\n"sv, nullptr},
    };
    for (const Case& c : cases) {
        Scenario scenario;
        ParseError error;
        EXPECT_EQ(ParseScenario(c.text, {}, &scenario, &error), c.report != nullptr) << c.text;
        ScenarioHeaders headers;
        std::string problem;
        int line = 0;
        EXPECT_EQ(ReadHeaders(c.text, &headers, &problem, &line), c.report != nullptr) << c.text;
        if (c.report != nullptr) {
            EXPECT_EQ(HeadersReport(scenario.headers), c.report) << c.text;
        }
    }
}

TEST(ScenarioParser, TakesLinearTimeOverALineOfAngleBrackets) {
    // Each '<' may begin a byte name; looking for its '>' must not run to
    // the line's end. 4 MB, the most a scenario may hold: quadratic took
    // minutes, linear takes well under a second.
    auto begin = std::chrono::steady_clock::now();
    Scenario scenario = ParseOk("note " + std::string(4 * 1024 * 1024, '<'));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
    EXPECT_EQ(Last(scenario).text.size(), 4u * 1024 * 1024);
}

TEST(ScenarioParser, RefusesMoreGatesThanTheHostLibraryHolds) {
    std::string text;
    for (int i = 0; i < 65; ++i) {
        text += "gate G" + std::to_string(i) + " numeric\n";
    }
    Scenario scenario;
    ParseError error;
    EXPECT_FALSE(ParseScenario(text, {}, &scenario, &error));
    EXPECT_EQ(error.line, 65);
}

}  // namespace
}  // namespace qelhost
