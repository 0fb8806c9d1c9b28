#include "control.h"

#include "parse.h"

namespace qelswitch {

namespace {

using qeltools::Fail;
using qeltools::ParseUnsigned;
using qeltools::Trim;

// Which argument a verb takes.
enum class Argument { kNone, kOnOff, kCount, kDelay, kCountOrOff, kText, kSeconds };

struct VerbEntry {
    const char* name;
    ControlVerb verb;
    Argument argument;
    const char* help;
};

constexpr VerbEntry kVerbs[] = {
    {"silent", ControlVerb::kSilent, Argument::kOnOff, "silent on|off      answer nothing (but still act)"},
    {"power", ControlVerb::kPower, Argument::kOnOff,
     "power on|off       switch on / off: off answers and acts on nothing"},
    {"refuse", ControlVerb::kRefuse, Argument::kCount, "refuse N           answer the next N messages \"?\""},
    {"garbage", ControlVerb::kGarbage, Argument::kOnOff, "garbage on|off     answer unrecognisable bytes"},
    {"delay", ControlVerb::kDelay, Argument::kDelay, "delay MS           wait MS milliseconds before each answer"},
    {"echo", ControlVerb::kEcho, Argument::kOnOff, "echo on|off        send back every byte received"},
    {"hangup-after", ControlVerb::kHangupAfter, Argument::kCountOrOff,
     "hangup-after N|off close the line after N more messages"},
    {"text", ControlVerb::kText, Argument::kText, "text AA [TEXT]     the text that \"R\" reads for address AA"},
    {"replug", ControlVerb::kReplug, Argument::kSeconds,
     "replug S           hang up, come back S seconds later on a new line"},
    {"state", ControlVerb::kState, Argument::kNone, "state              print the state table"},
    {"reset", ControlVerb::kReset, Argument::kNone, "reset              forget the state and the counts"},
    {"help", ControlVerb::kHelp, Argument::kNone, "help               this list"},
    {"quit", ControlVerb::kQuit, Argument::kNone, "quit               end the emulator"},
};

bool ParseArgument(const VerbEntry& entry, std::string_view argument, ControlCommand* command, std::string* error) {
    const std::string name = entry.name;
    switch (entry.argument) {
        case Argument::kNone:
            if (!argument.empty()) return Fail(error, name + " takes no argument");
            return true;
        case Argument::kOnOff:
            if (argument != "on" && argument != "off") return Fail(error, name + " wants on or off");
            command->on = argument == "on";
            return true;
        case Argument::kCount:
            if (!ParseUnsigned(argument, kMaxCount, &command->number)) return Fail(error, name + " wants a count");
            return true;
        case Argument::kDelay:
            if (!ParseUnsigned(argument, kMaxDelayMs, &command->number)) {
                return Fail(error, name + " wants milliseconds, 0 to " + std::to_string(kMaxDelayMs));
            }
            return true;
        case Argument::kCountOrOff:
            command->on = argument != "off";
            if (command->on && !ParseUnsigned(argument, kMaxCount, &command->number)) {
                return Fail(error, name + " wants a count or off");
            }
            return true;
        case Argument::kText: {
            const size_t space = argument.find(' ');
            command->address = argument.substr(0, space);
            if (space != std::string_view::npos) command->text = argument.substr(space + 1);
            if (!IsLabelAddress(command->address)) return Fail(error, name + " wants two hex digits, then the text");
            if (!IsAnswerableText(command->text)) return Fail(error, name + ": a text cannot hold CR, LF or NUL");
            return true;
        }
        case Argument::kSeconds:
            if (!ParseUnsigned(argument, kMaxReplugSeconds, &command->number)) {
                return Fail(error, name + " wants seconds, 0 to " + std::to_string(kMaxReplugSeconds));
            }
            return true;
    }
    return true;
}

void Confirm(Emulator& emulator, const std::string& what) {
    emulator.events.push_back("CONTROL " + what + "; " + FaultSummary(emulator.faults));
}

}  // namespace

bool IsLabelAddress(std::string_view text) {
    if (text.size() != 2) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

bool IsAnswerableText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool ParseControl(std::string_view line, ControlCommand* command, std::string* error) {
    *command = ControlCommand{};
    if (line.size() > kMaxControlLine) {
        return Fail(error, "a command line longer than " + std::to_string(kMaxControlLine) + " bytes, ignored");
    }
    // The text of "text" keeps its inner and trailing blanks; only the line
    // end goes.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#') return true;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    const size_t space = line.find(' ');
    const std::string_view word = line.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    for (const VerbEntry& entry : kVerbs) {
        if (word != entry.name) continue;
        command->verb = entry.verb;
        return ParseArgument(entry, entry.argument == Argument::kText ? rest : Trim(rest), command, error);
    }
    return Fail(error, "unknown command \"" + std::string(Trim(word)) + "\" (try help)");
}

bool ApplyControl(Emulator& emulator, const ControlCommand& command) {
    Faults& faults = emulator.faults;
    switch (command.verb) {
        case ControlVerb::kNothing:
            break;
        case ControlVerb::kSilent:
            faults.silent = command.on;
            Confirm(emulator, "silent");
            break;
        case ControlVerb::kPower:
            SetPower(emulator, command.on);
            Confirm(emulator, "power");
            break;
        case ControlVerb::kRefuse:
            faults.refuse = command.number;
            Confirm(emulator, "refuse");
            break;
        case ControlVerb::kGarbage:
            faults.garbage = command.on;
            Confirm(emulator, "garbage");
            break;
        case ControlVerb::kDelay:
            faults.delayMs = command.number;
            Confirm(emulator, "delay");
            break;
        case ControlVerb::kEcho:
            faults.echo = command.on;
            Confirm(emulator, "echo");
            break;
        case ControlVerb::kHangupAfter:
            faults.hangupAfter = command.on ? static_cast<int64_t>(command.number) : -1;
            Confirm(emulator, "hangup-after");
            break;
        case ControlVerb::kText:
            emulator.state.labels[command.address] = command.text;
            emulator.events.push_back("CONTROL text " + command.address + " = \"" + Visible(command.text) + "\"");
            break;
        case ControlVerb::kReplug:
            break;
        case ControlVerb::kState:
            for (std::string& line : StateReport(emulator)) emulator.events.push_back(std::move(line));
            break;
        case ControlVerb::kReset:
            emulator.state = SwitchState{};
            emulator.counts = Counts{};
            emulator.events.push_back("CONTROL reset");
            break;
        case ControlVerb::kHelp:
            for (std::string& line : ControlHelp()) emulator.events.push_back(std::move(line));
            break;
        case ControlVerb::kQuit:
            emulator.events.push_back("CONTROL quit");
            return false;
    }
    return true;
}

std::vector<std::string> ControlHelp() {
    std::vector<std::string> lines{"HELP commands, one per line:"};
    for (const VerbEntry& entry : kVerbs) lines.push_back(std::string("HELP   ") + entry.help);
    return lines;
}

}  // namespace qelswitch
