// What qelhost is given: its options, the default port it refuses or warns
// about, the driver's environment, and reading its input bounded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "options.h"
#include "read_input.h"

namespace qelhost {
namespace {

TEST(CommandLine, RefusesWhatCouldNeverBeUsed) {
    struct Case {
        std::vector<std::string> arguments;
        const char* problem;  // nullptr: accepted
    } cases[] = {
        {{"--var", "LEVEL_2=x", "--var", "EMPTY="}, nullptr},
        {{"--var", "lower=x"}, "a variable's NAME is upper-case letters, digits and '_'"},
        {{"--var", "1=x"}, "not beginning with a digit"},
        {{"--var", "=x"}, "--var =:"},
        {{"--var", "NAME"}, "--var needs NAME=VALUE"},
        {{"--port", "ABCDEFGHIJKL"}, "port name \"ABCDEFGHIJKL\" is 12 bytes long: a port name holds at most 11"},
        {{"--driver-trace", ""}, "--driver-trace needs a FILE"},
        {{"--check-list", "qelkophv01.ini", "site.scenario"}, "give one or the other"},
        {{"--sideways"}, "unexpected argument --sideways"},
        {{"--instance", "/tmp/qa", "a.scenario", "--instance", "/tmp/qb", "b.scenario"}, nullptr},
        {{"--instance", "/tmp/qa"}, "unexpected argument --instance"},
        {{"--instance", "", "a.scenario"}, "a PORT of 1 to 11 bytes"},
        {{"--instance", "ABCDEFGHIJKL", "a.scenario"}, "a PORT of 1 to 11 bytes"},
        {{"--instance", "/tmp/qa", "-"}, "standard input serves one scenario only"},
        {{"--instance", "/tmp/qa", "a.scenario", "--port", "/tmp/qb"}, "give no --port"},
        {{"--instance", "/tmp/qa", "a.scenario", "b.scenario"}, "give no --port, SCENARIO"},
        {{"--instance", "/tmp/qa", "a.scenario", "write", "0102", "5"}, "one-shot command"},
        {{"--port", "COM5", ""}, "the scenario's name is empty"},
        {{"--port", "COM5", "wrte", "0102", "5"}, "unknown command 'wrte'; commands: write, update, list, send"},
        {{"--var", std::string(300, 'X')}, "--var needs NAME=VALUE"},
        {{"--timeout", std::string(300, '9') + "x"}, "units of 10 ms, not 9999"},
        {{std::string(300, '-')}, "unexpected argument -----"},
    };
    for (const Case& c : cases) {
        Options options;
        std::string problem;
        bool accepted = ParseOptions(c.arguments, &options, &problem);
        EXPECT_EQ(accepted, c.problem == nullptr) << c.arguments[0] << " " << problem;
        if (c.problem != nullptr) {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        }
        EXPECT_LT(problem.size(), 200u) << problem;  // a long argument is cut, after the reason
    }
}

TEST(CommandLine, TakesEachInstancesPortAndScenarioInOrder) {
    Options options;
    std::string problem;
    ASSERT_TRUE(ParseOptions(
        {"--var", "A=1", "--instance", "/tmp/qa", "a.scenario", "--trace", "--instance", "COM7", "b.scenario"},
        &options, &problem))
        << problem;
    ASSERT_EQ(options.instances.size(), 2u);
    EXPECT_EQ(options.instances[0].port + " " + options.instances[0].scenario, "/tmp/qa a.scenario");
    EXPECT_EQ(options.instances[1].port + " " + options.instances[1].scenario, "COM7 b.scenario");
    EXPECT_FALSE(options.portGiven);  // $PORT is each instance's own
}

TEST(CommandLine, SetsTheDriversTraceVariableBeforeLoading) {
    Options options;
    std::string problem;
    ASSERT_TRUE(ParseOptions({"--driver-trace", "site trace.txt"}, &options, &problem)) << problem;
    ApplyDriverEnvironment(options);
    const char* value = std::getenv(kDriverTraceVariable);  // what the driver, and any child, sees
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "site trace.txt");
    ApplyDriverEnvironment(Options{});  // no --driver-trace: left as it is
    EXPECT_STREQ(std::getenv(kDriverTraceVariable), "site trace.txt");
    SetDriverVariable(kDriverTraceVariable, "");
}

TEST(CommandLine, RefusesOrWarnsWhenALoadWouldTakeTheNullPort) {
    struct Case {
        const char* scenario;
        std::vector<std::string> arguments;
        bool refused;
        bool warned;  // unless refused first
    } cases[] = {
        {"# needs: switcher\nload\n", {}, true, true},
        {"#needs:switcher\ninfo\nreconfigure timeout=5\n", {}, true, true},
        {"# needs: switcher\nload\n", {"--port", "pts/3"}, false, false},
        {"# needs: switcher\nload port=COM7\nreconfigure\n", {}, false, false},
        {"load\n", {}, false, true},
        {"load port=COM7\nload\n", {}, false, true},
        {"info\nnop\n", {}, false, false},
        {"# needs: something else\nload\n", {}, false, true},
    };
    for (const Case& c : cases) {
        Options options;
        std::string problem;
        ASSERT_TRUE(ParseOptions(c.arguments, &options, &problem)) << problem;
        Scenario scenario;
        ParseError error;
        ASSERT_TRUE(ParseScenario(c.scenario, options.variables, &scenario, &error)) << error.message;
        EXPECT_EQ(RefuseDefaultPort(options, scenario, &problem), c.refused) << c.scenario;
        EXPECT_EQ(!DefaultPortWarning(options, scenario).empty(), c.warned) << c.scenario;
        if (c.refused) {
            EXPECT_NE(problem.find("Give --port NAME"), std::string::npos) << problem;
        }
    }
}

TEST(CommandLine, ReadsInputWholeButRefusesFoldersUnreadableFilesAndTooMuch) {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "qelhost_read_input";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "ten", std::ios::binary) << std::string(
        "0123456\0"
        "89",
        10);
    std::ofstream(folder / "eleven", std::ios::binary) << "0123456789A";
    struct Case {
        std::string path;
        const char* problem;  // nullptr: read
    } cases[] = {
        {(folder / "ten").string(), nullptr},      {(folder / "eleven").string(), "holds more than 10 bytes"},
        {folder.string(), "a folder, not a file"}, {(folder / "missing").string(), "cannot open"},
#ifndef _WIN32
        {"/dev/zero", "holds more than 10 bytes"},  // would never end
#endif
    };
    for (const Case& c : cases) {
        std::string text = "before";
        std::string problem;
        EXPECT_EQ(qeltools::ReadInput(c.path, 10, &text, &problem), c.problem == nullptr) << c.path;
        if (c.problem == nullptr) {
            EXPECT_EQ(text, std::string("0123456\0"
                                        "89",
                                        10));
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace qelhost
