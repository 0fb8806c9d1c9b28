#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "control.h"
#include "parse.h"

namespace qelswitch {

namespace {

using qeltools::Fail;
using qeltools::ParseUnsigned;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Names as people write them, or the host's line-settings codes 0 to 4.
bool ParseParity(const std::string& text, char* parity) {
    static const struct {
        const char* names[3];
        char code;
    } kParities[] = {{{"none", "n", "0"}, 'N'},
                     {{"odd", "o", "1"}, 'O'},
                     {{"even", "e", "2"}, 'E'},
                     {{"mark", "m", "3"}, 'M'},
                     {{"space", "s", "4"}, 'S'}};
    const std::string lower = Lower(text);
    for (const auto& entry : kParities) {
        for (const char* name : entry.names) {
            if (lower == name) {
                *parity = entry.code;
                return true;
            }
        }
    }
    return false;
}

bool ParseNumber(const std::string& option, const std::string& value, uint64_t max, uint64_t* number,
                 std::string* error) {
    if (ParseUnsigned(value, max, number)) return true;
    return Fail(error, option + ": \"" + value + "\" is not a number from 0 to " + std::to_string(max));
}

bool ParseText(const std::string& value, Options* options, std::string* error) {
    const size_t equals = value.find('=');
    const std::string address = value.substr(0, equals);
    if (equals == std::string::npos || !IsLabelAddress(address)) {
        return Fail(error, "--text: \"" + Visible(value) + "\" is not AA=TEXT with two hex digits AA");
    }
    if (!IsAnswerableText(value)) return Fail(error, "--text: a text cannot hold CR, LF or NUL");
    options->texts.emplace_back(address, value.substr(equals + 1));
    return true;
}

bool ApplyValue(const std::string& option, const std::string& value, Options* options, std::string* error) {
    uint64_t number = 0;
    if (option == "--device") {
        if (value.empty()) return Fail(error, "--device: empty path");
        options->device = value;
    } else if (option == "--link") {
        if (value.empty() || value[0] != '/' || value.size() > kMaxLinkLength) {
            return Fail(error, "--link: \"" + Visible(value) + "\" is not an absolute path of at most " +
                                   std::to_string(kMaxLinkLength) + " characters (the driver's port name)");
        }
        options->link = value;
    } else if (option == "--control") {
        if (value.empty()) return Fail(error, "--control: empty path");
        options->controlFifo = value;
    } else if (option == "--pty-file") {
        if (value.empty()) return Fail(error, "--pty-file: empty path");
        options->ptyFile = value;
    } else if (option == "--baud") {
        if (!ParseNumber(option, value, 4000000, &number, error)) return false;
        if (std::find(std::begin(kBaudRates), std::end(kBaudRates), number) == std::end(kBaudRates)) {
            return Fail(error, "--baud: " + value + " is not a supported rate");
        }
        options->baud = static_cast<uint32_t>(number);
    } else if (option == "--data-bits") {
        if (!ParseUnsigned(value, 8, &number) || number < 5) return Fail(error, "--data-bits: wants 5, 6, 7 or 8");
        options->dataBits = static_cast<uint32_t>(number);
    } else if (option == "--stop-bits") {
        if (value != "1" && value != "2") return Fail(error, "--stop-bits: wants 1 or 2");
        options->stopBits = value == "1" ? 1 : 2;
    } else if (option == "--parity") {
        if (!ParseParity(value, &options->parity)) return Fail(error, "--parity: wants none, odd, even, mark or space");
    } else if (option == "--refuse") {
        if (!ParseNumber(option, value, kMaxCount, &options->faults.refuse, error)) return false;
    } else if (option == "--delay") {
        if (!ParseNumber(option, value, kMaxDelayMs, &options->faults.delayMs, error)) return false;
    } else if (option == "--hangup-after") {
        if (!ParseNumber(option, value, kMaxCount, &number, error)) return false;
        options->faults.hangupAfter = static_cast<int64_t>(number);
    } else if (option == "--silent-after") {
        if (!ParseNumber(option, value, kMaxCount, &number, error)) return false;
        if (number == 0)
            return Fail(error, "--silent-after: wants 1 or more messages (for silence from the start: --silent)");
        options->faults.silentAfter = static_cast<int64_t>(number);
    } else if (option == "--silent-for") {
        if (!ParseNumber(option, value, kMaxCount, &options->faults.silentFor, error)) return false;
    } else if (option == "--power-off-after") {
        if (!ParseNumber(option, value, kMaxCount, &number, error)) return false;
        if (number == 0) {
            return Fail(error, "--power-off-after: wants 1 or more messages (off from the start: --power-off)");
        }
        options->faults.powerOffAfter = static_cast<int64_t>(number);
    } else if (option == "--power-off-for") {
        if (!ParseNumber(option, value, kMaxCount, &options->faults.powerOffFor, error)) return false;
    } else if (option == "--replug-after") {
        if (!ParseNumber(option, value, kMaxCount, &number, error)) return false;
        options->replugAfter = static_cast<int64_t>(number);
    } else if (option == "--replug-for") {
        if (!ParseNumber(option, value, kMaxReplugSeconds, &options->replugSeconds, error)) return false;
    } else if (option == "--text") {
        return ParseText(value, options, error);
    }
    return true;
}

bool ApplyFlag(const std::string& option, Options* options) {
    if (option == "--state") {
        options->printState = true;
    } else if (option == "--silent") {
        options->faults.silent = true;
    } else if (option == "--power-off") {
        options->faults.powerOff = true;
    } else if (option == "--garbage") {
        options->faults.garbage = true;
    } else if (option == "--echo") {
        options->faults.echo = true;
    } else if (option == "--no-control") {
        options->control = false;
    } else if (option == "--verbose") {
        options->verbose = true;
    } else if (option == "--time-stamps") {
        options->timeStamps = true;
    } else if (option == "--help" || option == "-h") {
        options->help = true;
    } else {
        return false;
    }
    return true;
}

bool TakesValue(const std::string& option) {
    static const char* const kValued[] = {"--device",
                                          "--link",
                                          "--control",
                                          "--pty-file",
                                          "--baud",
                                          "--data-bits",
                                          "--stop-bits",
                                          "--parity",
                                          "--refuse",
                                          "--delay",
                                          "--hangup-after",
                                          "--text",
                                          "--replug-after",
                                          "--replug-for",
                                          "--silent-after",
                                          "--silent-for",
                                          "--power-off-after",
                                          "--power-off-for"};
    return std::any_of(std::begin(kValued), std::end(kValued), [&](const char* name) { return option == name; });
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
    *options = Options{};
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        const size_t equals = argument.find('=');
        const bool joined = argument.rfind("--", 0) == 0 && equals != std::string::npos;
        const std::string option = joined ? argument.substr(0, equals) : argument;
        if (TakesValue(option)) {
            if (!joined && index + 1 == arguments.size()) return Fail(error, option + " needs a value");
            const std::string value = joined ? argument.substr(equals + 1) : arguments[++index];
            if (!ApplyValue(option, value, options, error)) return false;
            continue;
        }
        const bool known = ApplyFlag(option, options);
        if (known && joined) return Fail(error, option + " takes no value");
        if (known) continue;
        if (option.rfind('-', 0) == 0) return Fail(error, "unknown option " + option);
        return Fail(error, "unexpected argument \"" + argument + "\"");
    }
    if (options->replugAfter >= 0 && !options->device.empty()) {
        return Fail(error, "--replug-after: only a pseudo-terminal can be replugged, not --device");
    }
    return true;
}

std::string UsageText() {
    return "usage: qelswitch [options]\n"
           "A switcher emulator. Opens a pseudo-terminal (or --device) and prints the\n"
           "line's path as its first output line; answers the driver's messages there.\n"
           "qelswitch.exe, on Windows, opens the COM port --device names (COM2, or\n"
           "COM10 and above), always prints its state on exit, and has no\n"
           "pseudo-terminal, --link, --control, --pty-file or replug: a COM port\n"
           "cannot pull its far end's cable.\n"
           "\n"
           "  --device PATH        use this serial device instead of a pseudo-terminal\n"
           "  --baud N             line speed (default 9600)\n"
           "  --data-bits N        5 to 8 (default 8)\n"
           "  --stop-bits N        1 or 2 (default 1)\n"
           "  --parity P           none, odd, even, mark, space (default none)\n"
           "  --link PATH          keep a symbolic link PATH to the line (absolute, at most\n"
           "                       11 characters: the driver can open it by that name)\n"
           "  --control PATH       also take commands from a FIFO made at PATH\n"
           "  --pty-file PATH      write the line's path into the file PATH\n"
           "  --state              print the state table on exit\n"
           "  --text AA=TEXT       the text \"R\" reads back for address AA (repeatable)\n"
           "  --silent             answer nothing, but carry out what is sent (a cut\n"
           "                       answer wire)\n"
           "  --silent-after N     silent after N messages: answer nothing from then\n"
           "  --silent-for M       ... for M messages, then answer again (default: for good)\n"
           "  --power-off          switched off: answer nothing, carry out nothing; what\n"
           "                       is sent is lost (--silent still acts on it)\n"
           "  --power-off-after N  switched off after N messages (the last one answered)\n"
           "  --power-off-for M    ... for M lines sent to it, then on again (default: for\n"
           "                       good)\n"
           "  --refuse N           answer the first N messages \"?\"\n"
           "  --garbage            answer unrecognisable bytes\n"
           "  --delay MS           wait MS milliseconds before each answer\n"
           "  --echo               send back every byte received, ahead of the answer\n"
           "  --hangup-after N     close the line and exit after N messages\n"
           "  --replug-after N     unplug the line after N messages (as the command replug)\n"
           "  --replug-for S       ... for S seconds (default 3)\n"
           "  --no-control         do not read commands from standard input\n"
           "  --verbose            also print every byte received (RX) and sent (TX)\n"
           "  --time-stamps        begin every printed line with the time of day\n"
           "  --version            the version, and nothing else\n"
           "  --help               this text\n"
           "\n"
           "Standard input takes commands, one per line (\"help\" lists them).\n";
}

bool TakeCommandLine(int argc, char** argv, const char* version, Options* options, int* status, RefuseFunction refuse) {
    // --version answers alone, whatever else the line holds.
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--version") {
            std::printf("qelswitch %s\n", version);
            *status = 0;
            return false;
        }
    }
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, &error) ||
        (!options->help && refuse != nullptr && refuse(*options, &error))) {
        std::fprintf(stderr, "qelswitch: %s\n(qelswitch --help lists the options)\n", error.c_str());
        *status = 2;
        return false;
    }
    if (options->help) {
        std::fputs(UsageText().c_str(), stdout);
        *status = 0;
        return false;
    }
    return true;
}

}  // namespace qelswitch
