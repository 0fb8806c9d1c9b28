// The scenario parser: each line's words (scenario_tokens.h) read by the
// table of the language (scenario_words.h) into a command. A request may end
// in "expect N". Nothing of a scenario with a malformed line is run.
#include "scenario.h"

#include "parse.h"
#include "scenario_parser.h"
#include "visible.h"

namespace qelhost {

bool LineParser::Parse(std::vector<Token> tokens) {
    std::string word = tokens[0].text;
    if (tokens[0].quoted || !tokens[0].key.empty()) {
        return Refuse("a line begins with a command word");
    }
    for (size_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i].key.empty()) {
            words_.push_back(tokens[i]);
        } else if (!options_.emplace(tokens[i].key, tokens[i].value).second) {
            return Refuse("option " + tokens[i].key + "= given twice");
        }
    }
    if (word == "check") {
        if (words_.empty()) {
            return Refuse("check what? " + CheckWords());
        }
        std::string what = words_[0].text;
        words_.erase(words_.begin());
        const CommandWord* entry = FindCheck(what);
        return entry != nullptr ? Take(*entry) : Refuse("unknown check \"" + what + "\"");
    }
    const CommandWord* entry = FindCommand(word);
    return entry != nullptr ? Take(*entry) : Refuse("unknown command \"" + word + "\"");
}

bool LineParser::Take(const CommandWord& entry) {
    command_.op = entry.op;
    command_.code = entry.code;
    if (IsRequest(entry.op) && !TakeExpect()) {
        return false;
    }
    return TakeArguments(entry);
}

bool LineParser::TakeArguments(const CommandWord& entry) {
    const char* usage = entry.usage;
    switch (entry.shape) {
        case Shape::kNone:
            return NoMore(0) && NoOptions();
        case Shape::kDeclaration:
            return TakeDeclaration(usage);
        case Shape::kGateValue:
            return TakeGate(0, usage) && Need(2, usage) && NoMore(2) && NoOptions() &&
                   TakeValue(Gate(), words_[1], false);
        case Shape::kFreeText:
            return TakeFreeText();
        case Shape::kMilliseconds:
            return Need(1, usage) && NoMore(1) && NoOptions() &&
                   TakeNumber(words_[0].text, 3600000, &command_.waitMs, entry.word);
        case Shape::kPortSettings:
            return TakePortSettings();
        case Shape::kGate:
            return TakeNamedGate(usage, nullptr) && NoMore(1) && NoOptions();
        case Shape::kGateOptionalValue:
            return TakeNamedGate(usage, words_.size() >= 2 ? &words_[1] : nullptr) && NoMore(2) && NoOptions() &&
                   (words_.size() < 2 || TakeValue(Gate(), words_[1], true));
        case Shape::kListEntry:
            return Need(1, usage) && NoMore(1) && NoOptions() && TakeReserved(kListGate, true) &&
                   TakeValue(Gate(), words_[0], true);
        case Shape::kFreeTextValue:
            return Need(1, usage) && NoMore(1) && NoOptions() && TakeReserved(kFreeTextGate, false) &&
                   TakeValue(Gate(), words_[0], true);
        case Shape::kCode:
            return Need(1, usage) && NoMore(1) && NoOptions() &&
                   (ParseSigned(words_[0].text, &command_.code) ||
                    Refuse("request needs a code, not \"" + words_[0].text + "\""));
        case Shape::kResult:
            return Need(1, usage) && NoMore(1) && NoOptions() &&
                   (ParseSigned(words_[0].text, &command_.code) || Refuse("check result needs a number"));
        case Shape::kMillisecondRange:
            return TakeMillisecondRange(entry);
        case Shape::kGateNumber:
            return TakeGateNumber(entry);
        case Shape::kGateCompared:
            return TakeGate(0, usage) && TakeCompared(1, usage) &&
                   (!Gate().numeric || Refuse("gate " + Gate().name + " is numeric: use check number"));
        case Shape::kGateText:
            return TakeGate(0, usage) && Need(2, usage) && NoMore(2) && NoOptions() && TakeText(words_[1]);
        case Shape::kCompared:
            return TakeCompared(0, usage);
        case Shape::kEchoCompared:
            return TakeEchoGate(usage) && TakeCompared(1, usage);
        case Shape::kEchoGate:
            return TakeEchoGate(usage) && NoMore(1) && NoOptions();
        case Shape::kGateWords:
            return TakeGateWords(entry);
        case Shape::kInfo:
            return TakeInfo();
    }
    return false;
}

bool LineParser::TakeExpect() {
    std::string text;
    if (words_.size() >= 2 && !words_[words_.size() - 2].quoted && words_[words_.size() - 2].text == "expect") {
        text = words_.back().text;
        words_.resize(words_.size() - 2);
    } else if (auto option = options_.find("expect"); option != options_.end()) {
        text = option->second;
        options_.erase(option);
    } else {
        return true;
    }
    int32_t value = 0;
    if (!ParseSigned(text, &value)) {
        return Refuse("expect needs a number, not \"" + text + "\"");
    }
    command_.expect = value;
    return true;
}

bool LineParser::NoOptions(std::initializer_list<const char*> allowed) {
    for (const auto& [key, value] : options_) {
        bool known = false;
        for (const char* name : allowed) {
            known = known || key == name;
        }
        if (!known) {
            return Refuse("unknown option " + key + "=");
        }
    }
    return true;
}

bool LineParser::Need(size_t count, const char* usage) {
    return words_.size() >= count || Refuse(std::string("too few words; usage: ") + usage);
}

bool LineParser::TakeNumber(const std::string& text, uint64_t max, uint32_t* value, const std::string& what) {
    uint64_t parsed = 0;
    if (!ParseNumber(text, max, &parsed)) {
        return Refuse(what + " needs a number up to " + std::to_string(max) + ", not \"" + text + "\"");
    }
    *value = static_cast<uint32_t>(parsed);
    return true;
}

bool LineParser::TakeOptionNumber(const char* key, std::optional<uint32_t>* field) {
    auto option = options_.find(key);
    uint32_t value = 0;
    if (option == options_.end()) {
        return true;
    }
    if (!TakeNumber(option->second, 0xFFFFFFFF, &value, std::string(key) + "=")) {
        return false;
    }
    *field = value;
    return true;
}

bool LineParser::TakeOptionLine() {
    auto option = options_.find("line");
    std::vector<uint32_t> values;
    if (option == options_.end()) {
        return true;
    }
    if (!ParseList(option->second, 4, 0xFFFF, &values)) {
        return Refuse("line= needs BAUD,DATA,STOP,PARITY, not \"" + option->second + "\"");
    }
    command_.lineSettings = LineSettings{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                                         static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3])};
    return true;
}

std::string PortNameTooLong(const std::string& port) {
    return "port name \"" + qeltools::ShownArgument(port) + "\" is " + std::to_string(port.size()) +
           " bytes long: a port name holds at most " + std::to_string(kMaxPortName);
}

bool LineParser::TakePortSettings() {
    bool load = command_.op == Op::Load;
    if (!NoMore(0) ||
        (load ? !NoOptions({"port", "enabled", "timeout", "line"}) : !NoOptions({"port", "timeout", "line"}))) {
        return false;
    }
    if (auto port = options_.find("port"); port != options_.end()) {
        if (port->second.size() > kMaxPortName) {
            return Refuse(PortNameTooLong(port->second));
        }
        command_.port = port->second;
    }
    return TakeOptionNumber("enabled", &command_.enabled) && TakeOptionNumber("timeout", &command_.timeout) &&
           TakeOptionLine();
}

bool LineParser::TakeMillisecondRange(const CommandWord& entry) {
    constexpr uint64_t kLongest = 3600000;
    return Need(2, entry.usage) && NoMore(2) && NoOptions() &&
           TakeNumber(words_[0].text, kLongest, &command_.elapsedMin, entry.word) &&
           TakeNumber(words_[1].text, kLongest, &command_.elapsedMax, entry.word) &&
           (command_.elapsedMin <= command_.elapsedMax || Refuse("check elapsed needs MIN no larger than MAX"));
}

bool LineParser::TakeGateWords(const CommandWord& entry) {
    if (!TakeGate(0, entry.usage) || !Need(5, entry.usage) || !NoMore(5) || !NoOptions()) {
        return false;
    }
    for (size_t i = 1; i < 5; ++i) {
        uint32_t value = 0;
        if (!TakeNumber(words_[i].text, 0xFFFFFFFF, &value, entry.word)) {
            return false;
        }
        command_.words.push_back(value);
    }
    return true;
}

bool LineParser::TakeInfo() {
    if (!NoMore(0) || !NoOptions({"size", "device", "line", "words"})) {
        return false;
    }
    if (options_.empty()) {
        return Refuse("check info needs size=, device=, line= or words=");
    }
    if (!TakeOptionNumber("size", &command_.infoSize) || !TakeOptionLine()) {
        return false;
    }
    if (options_.count("device") != 0) {
        command_.infoDevice = options_["device"];
    }
    if (options_.count("words") != 0) {
        std::vector<uint32_t> words;
        if (!ParseList(options_["words"], 3, 0xFFFFFFFF, &words)) {
            return Refuse("words= needs W0,W4,W7");
        }
        command_.infoWords = words;
    }
    return true;
}

bool ParseScenario(std::string_view text, const Variables& variables, Scenario* scenario, ParseError* error) {
    *scenario = Scenario{};
    int number = 0;
    const auto refuse = [&](const std::string& message) {
        *error = ParseError{number, qeltools::VisibleShort(message, kMaxMessage)};
        return false;
    };
    // A malformed header is refused at its own line.
    if (std::string message; !ReadHeaders(text, &scenario->headers, &message, &number)) {
        return refuse(message);
    }
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = qeltools::Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;

        // The host passes NUL-terminated texts: a NUL would cut a text or a
        // name short without a word.
        if (line.find('\0') != std::string_view::npos) {
            return refuse("the line holds a NUL byte, which no text or name can hold");
        }
        std::vector<Token> tokens;
        std::string message;
        if (!ScanLine(line, variables, &tokens, &message)) {
            return refuse(message);
        }
        if (tokens.empty()) {
            continue;
        }
        Command command;
        command.line = number;
        command.source = std::string(line);
        if (!ParseCommandWords(std::move(tokens), false, std::move(command), scenario, &message)) {
            return refuse(message);
        }
    }
    return true;
}

bool ParseCommandWords(std::vector<Token> tokens, bool declareGates, Command command, Scenario* scenario,
                       std::string* error) {
    std::vector<Command> declared;
    if (!LineParser(*scenario, command, declareGates, &declared, error).Parse(std::move(tokens))) {
        return false;
    }
    for (Command& declaration : declared) {
        scenario->commands.push_back(std::move(declaration));
    }
    scenario->commands.push_back(std::move(command));
    return true;
}

}  // namespace qelhost
