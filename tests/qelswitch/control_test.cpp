// The emulator's own inputs: run-time commands and the command line.
#include "control.h"

#include <gtest/gtest.h>

#include "options.h"

namespace qelswitch {
namespace {

struct ControlCase {
    const char* line;
    ControlVerb verb;
    bool on;
    uint64_t number;
};

TEST(ParseControl, ReadsEveryCommand) {
    const ControlCase cases[] = {
        {"silent on", ControlVerb::kSilent, true, 0},
        {"silent off", ControlVerb::kSilent, false, 0},
        {"power off", ControlVerb::kPower, false, 0},
        {"power on", ControlVerb::kPower, true, 0},
        {"  garbage on  ", ControlVerb::kGarbage, true, 0},
        {"echo on\r\n", ControlVerb::kEcho, true, 0},
        {"refuse 3", ControlVerb::kRefuse, false, 3},
        {"delay 250", ControlVerb::kDelay, false, 250},
        {"delay 600000", ControlVerb::kDelay, false, 600000},
        {"hangup-after 4", ControlVerb::kHangupAfter, true, 4},
        {"hangup-after 0", ControlVerb::kHangupAfter, true, 0},
        {"hangup-after off", ControlVerb::kHangupAfter, false, 0},
        {"replug 2", ControlVerb::kReplug, false, 2},
        {"state", ControlVerb::kState, false, 0},
        {"reset", ControlVerb::kReset, false, 0},
        {"help", ControlVerb::kHelp, false, 0},
        {"quit", ControlVerb::kQuit, false, 0},
        {"", ControlVerb::kNothing, false, 0},
        {"   ", ControlVerb::kNothing, false, 0},
        {"# a comment", ControlVerb::kNothing, false, 0},
    };
    for (const ControlCase& c : cases) {
        ControlCommand command;
        std::string error;
        ASSERT_TRUE(ParseControl(c.line, &command, &error)) << c.line << ": " << error;
        EXPECT_EQ(command.verb, c.verb) << c.line;
        EXPECT_EQ(command.on, c.on) << c.line;
        EXPECT_EQ(command.number, c.number) << c.line;
    }
}

TEST(ParseControl, TextKeepsItsBlanks) {
    ControlCommand command;
    std::string error;
    ASSERT_TRUE(ParseControl("text 05 Camera  one \n", &command, &error)) << error;
    EXPECT_EQ(command.address, "05");
    EXPECT_EQ(command.text, "Camera  one ");
    ASSERT_TRUE(ParseControl("text 0A", &command, &error)) << error;
    EXPECT_EQ(command.text, "");
}

TEST(ParseControl, RefusesBadCommandsWithAReason) {
    const std::pair<std::string, const char*> cases[] = {
        {"frobnicate", "unknown command \"frobnicate\""},
        {"silent", "silent wants on or off"},
        {"silent yes", "silent wants on or off"},
        {"power", "power wants on or off"},
        {"refuse", "refuse wants a count"},
        {"refuse -1", "refuse wants a count"},
        {"refuse 1x", "refuse wants a count"},
        {"refuse 99999999999999999999", "refuse wants a count"},
        {"delay 600001", "delay wants milliseconds"},
        {"hangup-after never", "hangup-after wants a count or off"},
        {"text 5 x", "text wants two hex digits"},
        {"text 0a x", "text wants two hex digits"},
        {"state now", "state takes no argument"},
        {"SILENT on", "unknown command"},
        {"replug", "replug wants seconds"},
        {"replug 3601", "replug wants seconds, 0 to 3600"},
        // Cut at any length, such a line could read as a good command.
        {"refuse 2" + std::string(5000, ' ') + "junk", "longer than 4096 bytes"},
        {"text 05 ab\rcd", "a text cannot hold CR, LF or NUL"},
        {std::string("text 05 ab\0cd", 13), "a text cannot hold CR, LF or NUL"},
    };
    for (const auto& [line, reason] : cases) {
        ControlCommand command;
        std::string error;
        EXPECT_FALSE(ParseControl(line, &command, &error)) << Visible(line.substr(0, 40));
        EXPECT_NE(error.find(reason), std::string::npos) << Visible(line.substr(0, 40)) << ": " << error;
    }
}

ControlCommand Parsed(const char* line) {
    ControlCommand command;
    std::string error;
    EXPECT_TRUE(ParseControl(line, &command, &error)) << line << ": " << error;
    return command;
}

TEST(ApplyControl, SwitchesFaultsAndConfirmsThem) {
    Emulator emulator;
    EXPECT_TRUE(ApplyControl(emulator, Parsed("refuse 2")));
    EXPECT_TRUE(ApplyControl(emulator, Parsed("hangup-after 5")));
    EXPECT_EQ(emulator.faults.refuse, 2u);
    EXPECT_EQ(emulator.faults.hangupAfter, 5);
    EXPECT_EQ(emulator.events.back(),
              "CONTROL hangup-after; FAULTS silent off, refuse 2, garbage off, delay 0, echo off, hangup-after 5, "
              "power on");
    ApplyControl(emulator, Parsed("hangup-after off"));
    EXPECT_EQ(emulator.faults.hangupAfter, -1);
}

TEST(ApplyControl, TextResetStateAndQuit) {
    Emulator emulator;
    ApplyControl(emulator, Parsed("text 05 Hello"));
    EXPECT_EQ(LabelOf(emulator.state, "05"), "Hello");
    ReceiveBytes(emulator, "#010259\r\r", 0);
    ApplyControl(emulator, Parsed("reset"));
    EXPECT_TRUE(emulator.state.crosspoints.empty());
    EXPECT_EQ(emulator.counts.messages, 0u);
    emulator.events.clear();
    ApplyControl(emulator, Parsed("state"));
    EXPECT_EQ(emulator.events.front(), "STATE BEGIN");
    EXPECT_EQ(emulator.events.back(), "STATE END");
    EXPECT_FALSE(ApplyControl(emulator, Parsed("quit")));
}

bool Parse(std::vector<std::string> arguments, Options* options, std::string* error) {
    return ParseOptions(arguments, options, error);
}

TEST(ParseOptions, DefaultsToAPseudoTerminalAt9600EightNoneOne) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({}, &options, &error)) << error;
    EXPECT_TRUE(options.device.empty());
    EXPECT_EQ(options.baud, 9600u);
    EXPECT_EQ(options.dataBits, 8u);
    EXPECT_EQ(options.stopBits, 1u);
    EXPECT_EQ(options.parity, 'N');
    EXPECT_TRUE(options.control);
    EXPECT_EQ(options.faults.hangupAfter, -1);
}

TEST(ParseOptions, TakesEveryOptionInBothForms) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"--device",
                       "/dev/ttyUSB0",
                       "--baud=19200",
                       "--data-bits",
                       "7",
                       "--stop-bits=2",
                       "--parity",
                       "even",
                       "--link",
                       "/tmp/sw",
                       "--replug-for=9",
                       "--state",
                       "--silent",
                       "--refuse",
                       "3",
                       "--garbage",
                       "--delay=40",
                       "--echo",
                       "--hangup-after",
                       "9",
                       "--silent-after=2",
                       "--silent-for",
                       "6",
                       "--power-off",
                       "--power-off-after=4",
                       "--power-off-for",
                       "7",
                       "--text",
                       "05=Cam one",
                       "--text=0A=",
                       "--no-control",
                       "--verbose",
                       "--control",
                       "/tmp/sw.ctl",
                       "--pty-file=/tmp/sw.pty"},
                      &options, &error))
        << error;
    EXPECT_EQ(options.device, "/dev/ttyUSB0");
    EXPECT_EQ(options.baud, 19200u);
    EXPECT_EQ(options.dataBits, 7u);
    EXPECT_EQ(options.stopBits, 2u);
    EXPECT_EQ(options.parity, 'E');
    EXPECT_EQ(options.link, "/tmp/sw");
    EXPECT_TRUE(options.printState && options.faults.silent && options.faults.garbage && options.faults.echo);
    EXPECT_EQ(options.faults.refuse, 3u);
    EXPECT_EQ(options.faults.delayMs, 40u);
    EXPECT_EQ(options.faults.hangupAfter, 9);
    EXPECT_EQ(options.faults.silentAfter, 2);
    EXPECT_EQ(options.faults.silentFor, 6u);
    EXPECT_TRUE(options.faults.powerOff);
    EXPECT_EQ(options.faults.powerOffAfter, 4);
    EXPECT_EQ(options.faults.powerOffFor, 7u);
    ASSERT_EQ(options.texts.size(), 2u);
    EXPECT_EQ(options.texts[0], (std::pair<std::string, std::string>{"05", "Cam one"}));
    EXPECT_EQ(options.texts[1], (std::pair<std::string, std::string>{"0A", ""}));
    EXPECT_FALSE(options.control);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.replugSeconds, 9u);
    EXPECT_EQ(options.controlFifo, "/tmp/sw.ctl");
    EXPECT_EQ(options.ptyFile, "/tmp/sw.pty");
}

TEST(ParseOptions, ReadsParityByNameLetterOrLineSettingsCode) {
    const std::pair<const char*, char> cases[] = {{"none", 'N'}, {"O", 'O'}, {"2", 'E'}, {"Mark", 'M'}, {"s", 'S'}};
    for (const auto& [text, parity] : cases) {
        Options options;
        std::string error;
        ASSERT_TRUE(Parse({"--parity", text}, &options, &error)) << text << ": " << error;
        EXPECT_EQ(options.parity, parity) << text;
    }
}

TEST(ParseOptions, RefusesBadInputWithAReason) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--baud"}, "--baud needs a value"},
        {{"--baud", "12345"}, "not a supported rate"},
        {{"--baud", "fast"}, "\"fast\" is not a number"},
        {{"--data-bits", "9"}, "--data-bits: wants 5, 6, 7 or 8"},
        {{"--data-bits", "4"}, "--data-bits: wants 5, 6, 7 or 8"},
        {{"--stop-bits", "1.5"}, "--stop-bits: wants 1 or 2"},
        {{"--parity", "weird"}, "--parity: wants none"},
        {{"--refuse", "-1"}, "--refuse: \"-1\" is not a number"},
        {{"--delay", "99999999"}, "--delay: \"99999999\" is not a number from 0 to 600000"},
        {{"--hangup-after", ""}, "--hangup-after: \"\" is not a number"},
        {{"--silent-after", "0"}, "--silent-after: wants 1 or more messages"},
        {{"--power-off-after", "0"}, "--power-off-after: wants 1 or more messages"},
        {{"--text", "5=x"}, "is not AA=TEXT"},
        {{"--text", "05"}, "is not AA=TEXT"},
        {{"--device", ""}, "--device: empty path"},
        {{"--text", "05=a\rb"}, "--text: a text cannot hold CR"},
        {{"--link", "/tmp/switch01"}, "--link: \"/tmp/switch01\" is not an absolute path of at most 11"},
        {{"--link", "sw"}, "is not an absolute path"},
        {{"--control", ""}, "--control: empty path"},
        {{"--replug-for", "3601"}, "--replug-for: \"3601\" is not a number from 0 to 3600"},
        {{"--device", "/dev/ttyS0", "--replug-after", "1"}, "only a pseudo-terminal can be replugged"},
        {{"--pty-file="}, "--pty-file: empty path"},
        {{"--state=yes"}, "--state takes no value"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"stray"}, "unexpected argument \"stray\""},
    };
    for (const auto& [arguments, reason] : cases) {
        Options options;
        std::string error;
        EXPECT_FALSE(Parse(arguments, &options, &error)) << arguments[0];
        EXPECT_NE(error.find(reason), std::string::npos) << arguments[0] << ": " << error;
    }
}

}  // namespace
}  // namespace qelswitch
