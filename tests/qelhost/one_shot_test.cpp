// One-shot commands read into scenario commands, and the driver's reasons
// found in its trace by their word.
#include "one_shot.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver_reasons.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include "options.h"

namespace qelhost {
namespace {

// Each command after the frame as "source|gate:numeric|expect", declared
// gates included.
std::vector<std::string> Read(const std::vector<Argument>& arguments, std::string* error) {
    Scenario scenario;
    std::vector<std::string> lines;
    if (!ParseOneShot(arguments, "20", "", Variables{}, &scenario, error)) {
        return lines;
    }
    for (const Command& command : scenario.commands) {
        std::string line = command.source;
        if (command.op == Op::Gate || command.op == Op::Write || command.op == Op::Update) {
            const GateDecl& gate = scenario.gates[static_cast<size_t>(command.gate)];
            line += "|" + gate.address + (gate.numeric ? ":numeric" : ":string");
        }
        if (command.op == Op::Write) {
            line += command.hasValue && !scenario.gates[static_cast<size_t>(command.gate)].numeric
                        ? "=\"" + command.text + "\""
                        : "=" + std::to_string(command.number);
        }
        if (command.expect.has_value() && command.op != Op::Load) {
            line += " expect " + std::to_string(*command.expect);
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(OneShot, CommandsBecomeScenarioCommandsWithTheirGatesDeclared) {
    struct Case {
        std::vector<Argument> arguments;
        std::vector<std::string> commands;  // after the frame's three lines
    } cases[] = {
        {{{"write"}, {"0102"}, {"5"}}, {"gate 0102 numeric|0102:numeric", "write 0102 5|0102:numeric=5 expect 0"}},
        // A text, a quoted number and format= make string gates; "R" always is one.
        {{{"write"}, {"L05"}, {"Camera one"}},
         {"gate L05 string|L05:string", "write L05 \"Camera one\"|L05:string=\"Camera one\" expect 0"}},
        {{{"write"}, {"S0304"}, {"1010", true}},
         {"gate S0304 string|S0304:string", "write S0304 \"1010\"|S0304:string=\"1010\" expect 0"}},
        {{{"write"}, {"S0304"}, {"\"1010\""}},
         {"gate S0304 string|S0304:string", "write S0304 \"1010\"|S0304:string=\"1010\" expect 0"}},
        {{{"write"}, {"S0304"}, {"format=string"}, {"1010"}},
         {"gate S0304 string|S0304:string", "write S0304 format=string 1010|S0304:string=\"1010\" expect 0"}},
        {{{"write"}, {"S0304"}, {"1010"}},
         {"gate S0304 numeric|S0304:numeric", "write S0304 1010|S0304:numeric=1010 expect 0"}},
        {{{"update"}, {"R05"}}, {"gate R05 string|R05:string", "update R05|R05:string expect 0"}},
        // list and send write the reserved gates; a gate named twice is declared once.
        {{{"list"}, {"3"}, {"send"}, {"#010259"}, {"list"}, {"4"}},
         {"gate GET_STR_FROM_FILE numeric|GET_STR_FROM_FILE:numeric", "list 3|GET_STR_FROM_FILE:numeric=3 expect 0",
          "gate SEND_STR string|SEND_STR:string", "send #010259|SEND_STR:string=\"#010259\" expect 0",
          "list 4|GET_STR_FROM_FILE:numeric=4 expect 0"}},
    };
    for (const Case& c : cases) {
        std::string error;
        std::vector<std::string> lines = Read(c.arguments, &error);
        ASSERT_GE(lines.size(), 3u) << error;
        EXPECT_EQ(lines[2], "load timeout=20 expect 0");
        EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), c.commands) << c.arguments[0].text;
    }
}

TEST(OneShot, RefusesWhatWouldNotRun) {
    struct Case {
        std::vector<Argument> arguments;
        const char* problem;
    } cases[] = {
        {{{"write"}, {"0102"}}, "write needs more: write GATE VALUE"},
        {{{"0102"}, {"5"}}, "unknown command '0102'"},
        {{{"write"}, {"0102"}, {"70000"}}, "its value is a number from 0 to 65535"},
        {{{"write"}, {"0102"}, {"format=text"}, {"5"}}, "format= is numeric or string"},
        {{{"list"}, {"first"}}, "is numeric"},
        {{{"send"}, {"a"}, {"update"}}, "update needs more"},
    };
    for (const Case& c : cases) {
        std::string error;
        Read(c.arguments, &error);
        EXPECT_NE(error.find(c.problem), std::string::npos) << c.arguments[0].text << ": " << error;
    }
}

TEST(OneShot, OptionsTakeTheCommandsAndTheirLoad) {
    Options options;
    std::string problem;
    ASSERT_TRUE(ParseOptions(
        {"--port", "COM3", "--timeout", "50", "write", "0102", "5", "--line", "19200,8,0,0", "send", "CAM 1"}, &options,
        &problem, {false, false, false, false, false, false, false, false, false, false, true}))
        << problem;
    ASSERT_EQ(options.oneShot.size(), 5u);
    EXPECT_EQ(options.oneShot[4].text, "CAM 1");
    EXPECT_TRUE(options.oneShot[4].quoted);
    EXPECT_EQ(options.line, "19200,8,0,0");
    Options scenarioOptions;
    EXPECT_FALSE(ParseOptions({"--timeout", "50", "site.scenario"}, &scenarioOptions, &problem));
    EXPECT_NE(problem.find("for one-shot commands"), std::string::npos);
}

TEST(OneShot, QuotesOfAWindowsCommandLineAreSeenAsTheRuntimeSplitsIt) {
    struct Case {
        const char* line;
        std::vector<bool> quoted;
    } cases[] = {
        {"qelhost.exe write S0304 \"1010\"", {false, false, true}},
        {"\"C:\\Program Files\\qelhost.exe\" send \"CAM 1\"", {false, true}},
        {"qelhost.exe send a\\\"b c", {false, false, false}},      // \" is a literal quote
        {"qelhost.exe send \"a\\\\\" b", {false, true}},           // \\" is a backslash and a quote
        {"qelhost.exe write  L05\t\"\"  ", {false, false, true}},  // an empty text
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QuotedArgumentsOf(c.line, c.quoted.size()), c.quoted) << c.line;
    }
}

TEST(DriverReasons, AreFoundByTheirWordWhateverTheTimeStamp) {
    struct Case {
        const char* line;
        const char* reason;
    } cases[] = {
        {"2026-12-07 15:06:01.123 [1] REASON value 300 out of range 0-255", "value 300 out of range 0-255"},
        {"2026-12-07T15:06:01.123+01:00 #1 REASON qelkophv01.ini not found in C:\\SCADA\r",
         "qelkophv01.ini not found in C:\\SCADA"},
        {"REASON  port COM3 not open ", "port COM3 not open"},
        {"2026-12-07 15:06:01.123 [1] TX 6 bytes 52 45 41 53 4F 4E  REASON<CR>", ""},
        {"2026-12-07 15:06:01.123 [1] END WRITE_GATE result 1 after 3 ms", ""},
        {"2026-12-07 15:06:01.123 [1] REASONS", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReasonOfLine(c.line), c.reason) << c.line;
    }
}

TEST(DriverReasons, TakesWhatTheLastRequestWroteEachOnce) {
    const std::string path = (std::filesystem::temp_directory_path() / "qelhost-reasons-test.txt").string();
    std::ofstream(path) << "old [1] REASON before the mark\n";
    DriverReasons reasons(path);
    std::ofstream(path, std::ios::app) << "t [1] WRITE_GATE 0102 value 5\nt [1] REASON no reply\nt [1] TRY 2 of 3\n"
                                          "t [1] REASON no reply\nt [1] REASON refused\n";
    EXPECT_EQ(reasons.Take().Reason(), "no reply; refused");
    EXPECT_EQ(reasons.Take().Reason(), "");
    std::ofstream(path) << "t [1] REASON after the roll-over\n";  // a new, shorter file
    EXPECT_EQ(reasons.Take().Reason(), "after the roll-over");
    std::remove(path.c_str());
    EXPECT_EQ(DriverReasons("").Take().Reason(), "");
}

// What went out and came back, and whether a 0 was confirmed, as the trace
// tells it (the driver's NOTE decides); "!" marks the line of a request that
// answered 1.
TEST(DriverTrace, ShowsTheTrafficAndWhetherTheSwitcherConfirmedIt) {
    struct Case {
        std::vector<const char*> lines;
        const char* traffic;    // the traffic lines joined by " / "
        const char* confirmed;  // "yes", "no", "-" (nothing went out)
    } cases[] = {
        {{"t [1] TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>",
          "t [1] RX accepted 80 ms after TX: 5 bytes 2A 33 46 0D 0A  *3F<CR><LF>"},
         "sent #010259<CR><CR> / came back *3F<CR><LF> (accepted, 80 ms after the message)",
         "yes"},
        {{"t [1] TX 2 bytes 23 0D  #<CR>", "t [1] RX none 1000 ms after TX: 0 bytes",
          "t [1] NOTE result 0 not confirmed by the switcher"},
         "sent #<CR> / nothing came back (1000 ms after the message)",
         "no"},
        {{"t [1] TX 2 bytes 41 0D  A<CR>", "t [1] RX not judged 200 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>"},
         "sent A<CR> / came back ?<CR><LF> (not judged, 200 ms after the message)",
         "yes"},
        {{"t [1] TX 2 bytes 41 0D  A<CR>", "t [1] RX not judged 200 ms after TX: 0 bytes",
          "t [1] NOTE result 0 not confirmed by the switcher"},
         "sent A<CR> / nothing came back (200 ms after the message)",
         "no"},
        {{"!t [1] TX 2 bytes 23 0D  #<CR>", "t [1] RX refused 9 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>"},
         "sent #<CR> / refused ?<CR><LF> (9 ms after the message)",
         "no"},
        {{"t [1] TX 3 bytes 02 0D 0A  <02><CR><LF> REASON"}, "sent <02><CR><LF>", "yes"},  // a cut line: no NOTE
        {{"t [1] LOAD pts/3", "t [1] PORT pts/3 opened"}, "", "-"},
    };
    for (const Case& c : cases) {
        RequestTrace trace;
        int32_t result = 0;
        for (const char* line : c.lines) {
            result = line[0] == '!' ? 1 : result;
            ReadTraceLine(line[0] == '!' ? line + 1 : line, &trace);
        }
        std::string traffic;
        for (const std::string& line : trace.traffic) {
            traffic += (traffic.empty() ? "" : " / ") + line;
        }
        std::optional<bool> confirmed = trace.Confirmed(result);
        EXPECT_EQ(traffic, c.traffic);
        EXPECT_EQ(confirmed.has_value() ? (*confirmed ? "yes" : "no") : "-", std::string(c.confirmed)) << c.traffic;
    }
}

// Instances that share a trace: each takes the lines of the number its
// start's port was given, and none before it knows it.
TEST(DriverTrace, TakesOnlyItsOwnInstancesLines) {
    const std::string path = (std::filesystem::temp_directory_path() / "qelhost-instances-test.txt").string();
    std::ofstream(path) << "";
    DriverReasons first(path, true);
    std::ofstream(path, std::ios::app) << "t [2] LOAD pts/8\nt [1] LOAD pts/7\nt [2] REASON theirs\n";
    EXPECT_EQ(first.Take("pts/7").Reason(), "");
    first.Mark();
    std::ofstream(path, std::ios::app) << "t [2] REASON theirs\nt [1] REASON mine\n";
    EXPECT_EQ(first.Take().Reason(), "mine");
    std::remove(path.c_str());
}

#ifndef _WIN32
// qelhost reads the trace only where the driver would write it: a regular
// file; nothing else is opened for long enough to wait on it.
TEST(DriverTrace, IsARegularFileOrNone) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "qelhost-usable-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((folder / "read-fifo").c_str(), 0600), 0);
    int reader = open((folder / "read-fifo").c_str(), O_RDONLY | O_NONBLOCK);
    struct Case {
        std::string path;
        bool usable;
    } cases[] = {
        {(folder / "new.log").string(), true},
        {(folder / "fifo").string(), false},
        {(folder / "read-fifo").string(), false},
        {folder.string(), false},
        {"/dev/null", false},
        {(folder / "no" / "such.log").string(), false},
    };
    for (const Case& c : cases) {
        std::string problem;
        EXPECT_EQ(UsableTraceFile(c.path, &problem), c.usable) << c.path;
        EXPECT_EQ(problem.empty(), c.usable) << c.path << ": " << problem;
    }
    close(reader);
    std::filesystem::remove_all(folder);
}
#endif

}  // namespace
}  // namespace qelhost
