// The scenario parser: each line's words (scenario_tokens.h) read by the
// table of the language (scenario_words.h) into a command. A request may end
// in "expect N". Nothing of a scenario with a malformed line is run.
#include "scenario.h"

#include "moxpro_control.h"
#include "parse.h"
#include "scenario_tokens.h"
#include "scenario_words.h"
#include "visible.h"

namespace qelhost {

namespace {

constexpr size_t kMaxTextValue = 255;  // leaves the NUL inside the 256-byte value area
constexpr size_t kMaxGateField = 63;   // the host library's address and name fields
constexpr size_t kMaxPortName = 11;    // PortConfig::portName
// An error message shows what it quotes of the line up to about this much.
constexpr size_t kMaxMessage = 300;
// The reserved gates that list and send write.
constexpr const char* kListGate = "GET_STR_FROM_FILE";
constexpr const char* kFreeTextGate = "SEND_STR";

// One line's words against the table; the Take... steps refuse in the
// order a reader fixes a line: words, then options, then values.
class LineParser {
  public:
    // declareGates: a gate named by an address that no declaration gave is
    // declared by the line itself (the command line's one-shot commands);
    // such declarations, and those of the reserved gates that list and send
    // write, go to *declared, to run before the command.
    LineParser(Scenario& scenario, Command& command, bool declareGates, std::vector<Command>* declared,
               std::string* error)
        : scenario_(scenario), command_(command), declareGates_(declareGates), declared_(declared), error_(error) {}

    bool Parse(std::vector<Token> tokens) {
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

  private:
    bool Refuse(const std::string& message) { return qeltools::Fail(error_, message); }

    bool Take(const CommandWord& entry) {
        command_.op = entry.op;
        command_.code = entry.code;
        if (IsRequest(entry.op) && !TakeExpect()) {
            return false;
        }
        return TakeArguments(entry);
    }

    bool TakeArguments(const CommandWord& entry) {
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

    // A trailing "expect N" (or expect=N) on a request.
    bool TakeExpect() {
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

    bool NoMore(size_t used) { return words_.size() <= used || Refuse("unexpected \"" + words_[used].text + "\""); }

    bool NoOptions(std::initializer_list<const char*> allowed = {}) {
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

    bool Need(size_t count, const char* usage) {
        return words_.size() >= count || Refuse(std::string("too few words; usage: ") + usage);
    }

    // Gates are named by NAME, else by ADDRESS.
    bool Lookup(const std::string& reference, int* index) const {
        for (bool byName : {true, false}) {
            for (size_t i = 0; i < scenario_.gates.size(); ++i) {
                if ((byName ? scenario_.gates[i].name : scenario_.gates[i].address) == reference) {
                    *index = static_cast<int>(i);
                    return true;
                }
            }
        }
        return false;
    }

    bool FindGate(const std::string& reference, int* index) {
        return Lookup(reference, index) || Refuse("no gate \"" + reference + "\" declared before this line");
    }

    // A gate of the line's own: declared as a "gate" line would, run before
    // the command.
    bool Declare(const std::string& address, bool numeric) {
        if (address.empty() || address.size() > kMaxGateField) {
            return Refuse("a gate's address holds 1 to 63 bytes");
        }
        if (scenario_.gates.size() >= MOX_MAX_GATES) {
            return Refuse("the host library holds at most 64 gates");
        }
        scenario_.gates.push_back(
            GateDecl{address, address, numeric, numeric ? GATE_FORMAT_NUMERIC : GATE_FORMAT_STRING});
        command_.gate = static_cast<int>(scenario_.gates.size() - 1);
        Command declaration;
        declaration.op = Op::Gate;
        declaration.line = command_.line;
        declaration.gate = command_.gate;
        declaration.source = "gate " + address + (numeric ? " numeric" : " string");
        declared_->push_back(std::move(declaration));
        return true;
    }

    // The gate of words_[0]. Where the line may declare it: "R" addresses
    // are string gates; others are string gates when the value is quoted or
    // no number, numeric when it is a number or absent; format= overrides.
    bool TakeNamedGate(const char* usage, const Token* value) {
        if (!Need(1, usage)) {
            return false;
        }
        const std::string& reference = words_[0].text;
        if (!declareGates_ || Lookup(reference, &command_.gate)) {
            return NoOption("format") && FindGate(reference, &command_.gate);
        }
        double decimal = 0;
        uint64_t number = 0;
        bool numeric =
            value == nullptr ||
            (!value->quoted && (ParseDecimal(value->text, &decimal) || ParseNumber(value->text, UINT64_MAX, &number)));
        if (auto format = options_.find("format"); format != options_.end()) {
            if (format->second != "numeric" && format->second != "string") {
                return Refuse("format= is numeric or string, not \"" + format->second + "\"");
            }
            numeric = format->second == "numeric";
            options_.erase(format);
        }
        return Declare(reference, numeric && reference.front() != 'R');
    }

    // A reserved gate that list and send write: the one declared, else one
    // declared here.
    bool TakeReserved(const char* address, bool numeric) {
        return Lookup(address, &command_.gate) || Declare(address, numeric);
    }

    // format= says what a gate declared by the line is: elsewhere it is refused.
    bool NoOption(const char* key) {
        return options_.count(key) == 0 ||
               Refuse(std::string(key) + "= only says what a gate not declared before is (on the command line)");
    }

    bool TakeGate(size_t at, const char* usage) {
        return Need(at + 1, usage) && FindGate(words_[at].text, &command_.gate);
    }

    const GateDecl& Gate() const { return scenario_.gates[static_cast<size_t>(command_.gate)]; }

    // VALUE for the gate: a number for a numeric gate, a text for a string
    // gate. A numeric gate's value area holds 0 to 65535; the host library,
    // where the driver's substitution reads a gate, holds any number, so
    // gate and set (not write, which goes through the area) may also give a
    // negative or fractional one: the area then holds 0.
    bool TakeValue(const GateDecl& gate, const Token& token, bool throughArea) {
        command_.hasValue = true;
        if (gate.numeric) {
            uint64_t value = 0;
            double hostValue = 0;
            if (ParseNumber(token.text, 0xFFFF, &value)) {
                command_.number = static_cast<uint16_t>(value);
                return true;
            }
            if (!throughArea && ParseDecimal(token.text, &hostValue)) {
                command_.number = 0;
                command_.hostNumber = hostValue;
                return true;
            }
            return Refuse("gate " + gate.name + " is numeric: its value is a number from 0 to 65535" +
                          (throughArea ? ", what its value area holds (set takes others for the host library)"
                                       : ", or a decimal such as -3.7 for the host library alone") +
                          ", not \"" + token.text + "\"");
        }
        if (token.text.size() > kMaxTextValue) {
            return Refuse("a text value holds at most 255 bytes");
        }
        command_.text = token.text;
        return true;
    }

    bool TakeText(const Token& token) {
        command_.text = token.text;
        return true;
    }

    bool TakeNumber(const std::string& text, uint64_t max, uint32_t* value, const std::string& what) {
        uint64_t parsed = 0;
        if (!ParseNumber(text, max, &parsed)) {
            return Refuse(what + " needs a number up to " + std::to_string(max) + ", not \"" + text + "\"");
        }
        *value = static_cast<uint32_t>(parsed);
        return true;
    }

    // key=N, when given.
    bool TakeOptionNumber(const char* key, std::optional<uint32_t>* field) {
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

    // line=B,D,S,P, when given.
    bool TakeOptionLine() {
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

    bool TakeDeclaration(const char* usage) {
        if (!Need(2, usage) || !NoMore(3) || !NoOptions({"name", "format"})) {
            return false;
        }
        GateDecl gate;
        gate.address = words_[0].text;
        if (words_[1].text == "numeric" || words_[1].text == "string") {
            gate.numeric = words_[1].text == "numeric";
            gate.format = gate.numeric ? GATE_FORMAT_NUMERIC : GATE_FORMAT_STRING;
        } else {
            return Refuse("a gate is numeric or string, not \"" + words_[1].text + "\"");
        }
        gate.name = options_.count("name") != 0 ? options_["name"] : gate.address;
        if (options_.count("format") != 0 && !TakeNumber(options_["format"], 0xFFFFFFFF, &gate.format, "format=")) {
            return false;
        }
        if (gate.address.size() > kMaxGateField || gate.name.size() > kMaxGateField) {
            return Refuse("a gate's address and name hold at most 63 bytes");
        }
        if (options_.count("name") != 0 && gate.name.empty()) {
            return Refuse("name= needs a NAME: a gate's name cannot be empty");
        }
        if (gate.name.empty()) {
            return Refuse("a gate with an empty address needs name=NAME");
        }
        for (const GateDecl& other : scenario_.gates) {
            if (other.name == gate.name) {
                return Refuse("a gate named \"" + gate.name + "\" exists already; give this one name=NAME");
            }
        }
        if (scenario_.gates.size() >= MOX_MAX_GATES) {
            return Refuse("the host library holds at most 64 gates");
        }
        if (words_.size() == 3 && !TakeValue(gate, words_[2], false)) {
            return false;
        }
        scenario_.gates.push_back(gate);
        command_.gate = static_cast<int>(scenario_.gates.size() - 1);
        return true;
    }

    bool TakeFreeText() {
        for (const Token& word : words_) {
            command_.text += (command_.text.empty() ? "" : " ") + word.text;
        }
        for (const auto& [key, value] : options_) {
            command_.text += (command_.text.empty() ? "" : " ") + key + "=" + value;
        }
        return true;
    }

    bool TakePortSettings() {
        bool load = command_.op == Op::Load;
        if (!NoMore(0) ||
            (load ? !NoOptions({"port", "enabled", "timeout", "line"}) : !NoOptions({"port", "timeout", "line"}))) {
            return false;
        }
        if (auto port = options_.find("port"); port != options_.end()) {
            if (port->second.size() > kMaxPortName) {
                return Refuse("a port name holds at most 11 bytes");
            }
            command_.port = port->second;
        }
        return TakeOptionNumber("enabled", &command_.enabled) && TakeOptionNumber("timeout", &command_.timeout) &&
               TakeOptionLine();
    }

    // [contains] TEXT from words_[at] on.
    bool TakeCompared(size_t at, const char* usage) {
        if (words_.size() == at + 2 && !words_[at].quoted && words_[at].text == "contains") {
            command_.contains = true;
            ++at;
        }
        return Need(at + 1, usage) && NoMore(at + 1) && NoOptions() && TakeText(words_[at]);
    }

    bool TakeEchoGate(const char* usage) {
        if (!Need(1, usage)) {
            return false;
        }
        if (words_[0].text != "OUTGOING" && words_[0].text != "INCOMING" && words_[0].text != "LINE_STATE") {
            return Refuse("a gate the driver puts text into is OUTGOING, INCOMING or LINE_STATE");
        }
        for (size_t i = 0; i < scenario_.gates.size(); ++i) {
            if (scenario_.gates[i].address == words_[0].text) {
                command_.gate = static_cast<int>(i);
                return true;
            }
        }
        return Refuse("no gate with the address " + words_[0].text + " declared before this line");
    }

    bool TakeGateNumber(const CommandWord& entry) {
        uint32_t value = 0;
        if (!TakeGate(0, entry.usage) || !Need(2, entry.usage) || !NoMore(2) || !NoOptions() ||
            !TakeNumber(words_[1].text, 0xFFFF, &value, entry.word)) {
            return false;
        }
        command_.number = static_cast<uint16_t>(value);
        return Gate().numeric || Refuse("gate " + Gate().name + " is a string gate: use check text");
    }

    bool TakeMillisecondRange(const CommandWord& entry) {
        constexpr uint64_t kLongest = 3600000;
        return Need(2, entry.usage) && NoMore(2) && NoOptions() &&
               TakeNumber(words_[0].text, kLongest, &command_.elapsedMin, entry.word) &&
               TakeNumber(words_[1].text, kLongest, &command_.elapsedMax, entry.word) &&
               (command_.elapsedMin <= command_.elapsedMax || Refuse("check elapsed needs MIN no larger than MAX"));
    }

    bool TakeGateWords(const CommandWord& entry) {
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

    bool TakeInfo() {
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

    Scenario& scenario_;
    Command& command_;
    bool declareGates_;
    std::vector<Command>* declared_;
    std::string* error_;
    std::vector<Token> words_;
    std::map<std::string, std::string> options_;
};

}  // namespace

bool ParseScenario(std::string_view text, const Variables& variables, Scenario* scenario, ParseError* error) {
    *scenario = Scenario{};
    int number = 0;
    const auto refuse = [&](const std::string& message) {
        *error = ParseError{number, qeltools::VisibleShort(message, kMaxMessage)};
        return false;
    };
    if (std::string message; !ReadHeaders(text, &scenario->headers, &message)) {
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
