// The scenario parser's gates: the gates a line names or declares, and the
// values it gives them.
#include "moxpro_control.h"
#include "parse.h"
#include "scenario_parser.h"
#include "visible.h"

namespace qelhost {

bool LineParser::Lookup(const std::string& reference, int* index) const {
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

bool LineParser::FindGate(const std::string& reference, int* index) {
    return Lookup(reference, index) || Refuse("no gate \"" + reference + "\" declared before this line");
}

bool LineParser::Declare(const std::string& address, bool numeric) {
    if (address.empty() || address.size() > kMaxGateField) {
        return Refuse("a gate's address holds 1 to 63 bytes");
    }
    if (scenario_.gates.size() >= MOX_MAX_GATES) {
        return Refuse("the host library holds at most " + std::to_string(MOX_MAX_GATES) + " gates");
    }
    scenario_.gates.push_back(GateDecl{address, address, numeric, numeric ? GATE_FORMAT_NUMERIC : GATE_FORMAT_STRING});
    command_.gate = static_cast<int>(scenario_.gates.size() - 1);
    Command declaration;
    declaration.op = Op::Gate;
    declaration.line = command_.line;
    declaration.gate = command_.gate;
    declaration.source = "gate " + address + (numeric ? " numeric" : " string");
    declared_->push_back(std::move(declaration));
    return true;
}

bool LineParser::TakeNamedGate(const char* usage, const Token* value) {
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

bool LineParser::TakeReserved(const char* address, bool numeric) {
    return Lookup(address, &command_.gate) || Declare(address, numeric);
}

bool LineParser::NoOption(const char* key) {
    return options_.count(key) == 0 ||
           Refuse(std::string(key) + "= only says what a gate not declared before is (on the command line)");
}

bool LineParser::TakeGate(size_t at, const char* usage) {
    return Need(at + 1, usage) && FindGate(words_[at].text, &command_.gate);
}

bool LineParser::TakeValue(const GateDecl& gate, const Token& token, bool throughArea) {
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

bool LineParser::TakeText(const Token& token) {
    command_.text = token.text;
    return true;
}

bool LineParser::TakeDeclaration(const char* usage) {
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
        return Refuse("the host library holds at most " + std::to_string(MOX_MAX_GATES) + " gates");
    }
    if (words_.size() == 3 && !TakeValue(gate, words_[2], false)) {
        return false;
    }
    scenario_.gates.push_back(gate);
    command_.gate = static_cast<int>(scenario_.gates.size() - 1);
    return true;
}

bool LineParser::TakeFreeText() {
    for (const Token& word : words_) {
        command_.text += (command_.text.empty() ? "" : " ") + word.text;
    }
    for (const auto& [key, value] : options_) {
        command_.text += (command_.text.empty() ? "" : " ") + key + "=" + value;
    }
    return true;
}

bool LineParser::TakeCompared(size_t at, const char* usage) {
    if (words_.size() == at + 2 && !words_[at].quoted && words_[at].text == "contains") {
        command_.contains = true;
        ++at;
    }
    return Need(at + 1, usage) && NoMore(at + 1) && NoOptions() && TakeText(words_[at]);
}

bool LineParser::TakeEchoGate(const char* usage) {
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

bool LineParser::TakeGateNumber(const CommandWord& entry) {
    uint32_t value = 0;
    if (!TakeGate(0, entry.usage) || !Need(2, entry.usage) || !NoMore(2) || !NoOptions() ||
        !TakeNumber(words_[1].text, 0xFFFF, &value, entry.word)) {
        return false;
    }
    command_.number = static_cast<uint16_t>(value);
    return Gate().numeric || Refuse("gate " + Gate().name + " is a string gate: use check text");
}

}  // namespace qelhost
