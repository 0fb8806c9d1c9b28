// The scenario language of qelhost.
//
// A scenario is plain text, one command a line. Blank lines are skipped; a
// '#' at the start of a word begins a comment that runs to the end of the
// line (write an address that begins with '#' in quotes, or as \#).
//
// Words are separated by blanks. A word in double quotes may hold blanks and
// may be empty. In every word the text escapes of text_codec.h apply
// (<CR>, <LF>, <STX>, <XX>, \xNN, \r, \n, \t, \\, \", \<, \$, \#), and $NAME
// (upper-case letters, digits, '_') is replaced by the value given with
// --port (PORT) or --var NAME=VALUE; an unknown $NAME is an error. A word
// key=value (key in lower case) is an option. Numbers are decimal or 0x hex.
//
// Gates and values:
//   gate ADDRESS numeric|string [VALUE] [name=NAME] [format=N]
//       Declares a gate in the host: a value area of 256 bytes (numeric: the
//       number at bytes 2-3; string: the text) and an entry in the host
//       library's gate table. NAME defaults to the address; later commands
//       name a gate by its NAME or, failing that, by its address. format=N
//       puts N into the format word of the gate records instead of 0 or 7.
//   set GATE VALUE        sets the value without telling the driver
//
// Requests (each may end in "expect N": the result must be N):
//   info                  REQ_GET_INFO; the first request of any other kind
//                         runs one first when the scenario did not
//   load [port=NAME] [enabled=N] [timeout=N] [line=BAUD,DATA,STOP,PARITY]
//                         REQ_LOAD; defaults: port $PORT or NUL, enabled 1,
//                         timeout 100, line the driver's defaults
//   warmstart             REQ_WARM_START
//   register GATE         REQ_REGISTER_GATE
//   nop                   REQ_NOP
//   update GATE           REQ_UPDATE_GATE
//   read GATE             REQ_READ_GATE
//   write GATE [VALUE]    REQ_WRITE_GATE, after setting VALUE when given
//   blockwrite            REQ_BLOCK_WRITE
//   stop | close | open   REQ_STOP, REQ_CLOSE_PORT, REQ_OPEN_PORT
//   reconfigure [port=NAME] [timeout=N] [line=B,D,S,P]
//                         REQ_RECONFIGURE_PORT; defaults: the port and line
//                         last loaded or reconfigured, timeout 0
//   request CODE          any code, with no data record
//
// Others:
//   wait MS               sleeps
//   note TEXT...          prints the text
//
// Checks (a failed check is reported and the scenario goes on; the exit
// status is then 1). "The last request" is the one run last before the check.
//   check result N                      the last request's result
//   check number GATE N                 a numeric gate's number
//   check text GATE [contains] TEXT     a string gate's text
//   check address GATE TEXT             the gate's address as the host now holds it
//   check log [contains] TEXT           a log line of the last request
//   check nolog                         the last request logged nothing
//   check echo OUTGOING|INCOMING [contains] TEXT
//                                       the echo gate's text in the host library
//   check noecho OUTGOING|INCOMING      the last request put nothing into it
//   check registration GATE W4 W5 W7 W8 the words the last register of GATE left
//   check info [size=N] [device=TEXT] [line=B,D,S,P] [words=W0,W4,W7]
//                                       the last REQ_GET_INFO reply
#include "scenario.h"

#include <cstdlib>
#include <limits>

#include "moxpro_control.h"
#include "text_codec.h"

namespace qelhost {

namespace {

constexpr size_t kMaxTextValue = 255;  // leaves the NUL inside the 256-byte value area
constexpr size_t kMaxGateField = 63;   // the host library's address and name fields
constexpr size_t kMaxPortName = 11;    // PortConfig::portName

struct Token {
    std::string text;
    bool quoted = false;
    std::string key;  // "port" of port=COM5; empty for a plain word
    std::string value;
};

bool IsKeyChar(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (!first && ((c >= '0' && c <= '9') || c == '_'));
}

bool IsVariableChar(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || c == '_' || (!first && c >= '0' && c <= '9');
}

bool Substitute(std::string_view line, size_t& at, const Variables& variables, std::string& out, std::string& error) {
    size_t end = at + 1;
    while (end < line.size() && IsVariableChar(line[end], end == at + 1)) {
        ++end;
    }
    if (end == at + 1) {
        out += '$';
        ++at;
        return true;
    }
    std::string_view name = line.substr(at + 1, end - at - 1);
    auto found = variables.find(name);
    if (found == variables.end()) {
        error = "unknown variable $" + std::string(name) +
                (name == "PORT" ? " (give it with --port NAME)" : " (give it with --var NAME=VALUE)");
        return false;
    }
    out += found->second;
    at = end;
    return true;
}

bool ScanLine(std::string_view line, const Variables& variables, std::vector<Token>& tokens, std::string& error) {
    size_t at = 0;
    while (true) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        if (at >= line.size() || line[at] == '#') {
            return true;
        }
        Token token;
        bool plain = true;  // nothing but key characters so far: may still become key=
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') {
            char c = line[at];
            if (c == '"') {
                plain = false;
                token.quoted = true;
                ++at;
                while (at < line.size() && line[at] != '"') {
                    if (line[at] == '\\' || line[at] == '<') {
                        if (!DecodeEscape(line, at, token.text, error)) {
                            return false;
                        }
                    } else if (line[at] == '$') {
                        if (!Substitute(line, at, variables, token.text, error)) {
                            return false;
                        }
                    } else {
                        token.text += line[at++];
                    }
                }
                if (at >= line.size()) {
                    error = "a quoted text is not closed";
                    return false;
                }
                ++at;
            } else if (c == '=' && plain && token.key.empty() && !token.text.empty()) {
                token.key = token.text;
                token.text += '=';
                ++at;
                plain = false;
            } else if (c == '\\' || c == '<') {
                plain = false;
                if (!DecodeEscape(line, at, token.text, error)) {
                    return false;
                }
            } else if (c == '$') {
                plain = false;
                if (!Substitute(line, at, variables, token.text, error)) {
                    return false;
                }
            } else {
                plain = plain && IsKeyChar(c, token.text.empty());
                token.text += c;
                ++at;
            }
        }
        if (!token.key.empty()) {
            token.value = token.text.substr(token.key.size() + 1);
        }
        tokens.push_back(std::move(token));
    }
}

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return false;
        }
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > max) {
            return false;
        }
    }
    return true;
}

bool ParseSigned(std::string_view text, int32_t& value) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, negative ? 0x80000000ULL : 0x7FFFFFFFULL, magnitude)) {
        return false;
    }
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

// "a,b,c" into exactly count numbers of at most max each.
bool ParseList(std::string_view text, size_t count, uint64_t max, std::vector<uint32_t>& values) {
    values.clear();
    while (true) {
        size_t comma = text.find(',');
        uint64_t value = 0;
        if (!ParseUnsigned(text.substr(0, comma), max, value)) {
            return false;
        }
        values.push_back(static_cast<uint32_t>(value));
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return values.size() == count;
}

class LineParser {
  public:
    LineParser(Scenario& scenario, Command& command, std::string& error)
        : scenario_(scenario), command_(command), error_(error) {}

    bool Parse(std::vector<Token> tokens) {
        std::string word = tokens[0].text;
        if (tokens[0].quoted || !tokens[0].key.empty()) {
            return Fail("a line begins with a command word");
        }
        for (size_t i = 1; i < tokens.size(); ++i) {
            if (tokens[i].key.empty()) {
                words_.push_back(tokens[i]);
            } else if (!options_.emplace(tokens[i].key, tokens[i].value).second) {
                return Fail("option " + tokens[i].key + "= given twice");
            }
        }
        return Dispatch(word);
    }

  private:
    bool Fail(const std::string& message) {
        error_ = message;
        return false;
    }

    bool Dispatch(const std::string& word) {
        struct Simple {
            const char* word;
            Op op;
        };
        static constexpr Simple kBare[] = {
            {"info", Op::Info}, {"warmstart", Op::WarmStart}, {"nop", Op::Nop},   {"blockwrite", Op::BlockWrite},
            {"stop", Op::Stop}, {"close", Op::Close},         {"open", Op::Open},
        };
        for (const Simple& bare : kBare) {
            if (word == bare.word) {
                command_.op = bare.op;
                return TakeExpect() && NoMore(0) && NoOptions();
            }
        }
        if (word == "gate") return ParseGate();
        if (word == "set") return ParseSet();
        if (word == "note") return ParseNote();
        if (word == "wait") return ParseWait();
        if (word == "load") return ParsePortRequest(Op::Load);
        if (word == "reconfigure") return ParsePortRequest(Op::Reconfigure);
        if (word == "register") return ParseGateRequest(Op::Register);
        if (word == "update") return ParseGateRequest(Op::Update);
        if (word == "read") return ParseGateRequest(Op::Read);
        if (word == "write") return ParseWrite();
        if (word == "request") return ParseRaw();
        if (word == "check") return ParseCheck();
        return Fail("unknown command \"" + word + "\"");
    }

    // A trailing "expect N" (or expect=N) on a request.
    bool TakeExpect() {
        std::string text;
        bool found = false;
        if (words_.size() >= 2 && !words_[words_.size() - 2].quoted && words_[words_.size() - 2].text == "expect") {
            text = words_.back().text;
            words_.resize(words_.size() - 2);
            found = true;
        } else if (auto option = options_.find("expect"); option != options_.end()) {
            text = option->second;
            options_.erase(option);
            found = true;
        }
        if (!found) {
            return true;
        }
        int32_t value = 0;
        if (!ParseSigned(text, value)) {
            return Fail("expect needs a number, not \"" + text + "\"");
        }
        command_.expect = value;
        return true;
    }

    bool NoMore(size_t used) {
        if (words_.size() > used) {
            return Fail("unexpected \"" + words_[used].text + "\"");
        }
        return true;
    }

    bool NoOptions(std::initializer_list<const char*> allowed = {}) {
        for (const auto& [key, value] : options_) {
            bool known = false;
            for (const char* name : allowed) {
                known = known || key == name;
            }
            if (!known) {
                return Fail("unknown option " + key + "=");
            }
        }
        return true;
    }

    bool Need(size_t count, const char* usage) {
        if (words_.size() < count) {
            return Fail(std::string("too few words; usage: ") + usage);
        }
        return true;
    }

    bool FindGate(const std::string& reference, int& index) {
        for (size_t i = 0; i < scenario_.gates.size(); ++i) {
            if (scenario_.gates[i].name == reference) {
                index = static_cast<int>(i);
                return true;
            }
        }
        for (size_t i = 0; i < scenario_.gates.size(); ++i) {
            if (scenario_.gates[i].address == reference) {
                index = static_cast<int>(i);
                return true;
            }
        }
        return Fail("no gate \"" + reference + "\" declared before this line");
    }

    bool TakeGate(size_t at, const char* usage) {
        return Need(at + 1, usage) && FindGate(words_[at].text, command_.gate);
    }

    const GateDecl& Gate() const { return scenario_.gates[static_cast<size_t>(command_.gate)]; }

    // VALUE for the gate: a number for a numeric gate, a text for a string gate.
    bool TakeValue(const GateDecl& gate, const Token& token) {
        command_.hasValue = true;
        if (gate.numeric) {
            uint64_t value = 0;
            if (!ParseUnsigned(token.text, 0xFFFF, value)) {
                return Fail("gate " + gate.name + " is numeric: its value is a number from 0 to 65535, not \"" +
                            token.text + "\"");
            }
            command_.number = static_cast<uint16_t>(value);
            return true;
        }
        if (token.text.size() > kMaxTextValue) {
            return Fail("a text value holds at most 255 bytes");
        }
        command_.text = token.text;
        return true;
    }

    bool TakeNumber(const std::string& text, uint64_t max, uint32_t& value, const char* what) {
        uint64_t parsed = 0;
        if (!ParseUnsigned(text, max, parsed)) {
            return Fail(std::string(what) + " needs a number up to " + std::to_string(max) + ", not \"" + text + "\"");
        }
        value = static_cast<uint32_t>(parsed);
        return true;
    }

    bool TakeLine(const std::string& text, LineSettings& line) {
        std::vector<uint32_t> values;
        if (!ParseList(text, 4, 0xFFFF, values)) {
            return Fail("line= needs BAUD,DATA,STOP,PARITY, not \"" + text + "\"");
        }
        line = LineSettings{static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                            static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3])};
        return true;
    }

    bool ParseGate() {
        const char* usage = "gate ADDRESS numeric|string [VALUE] [name=NAME] [format=N]";
        if (!Need(2, usage) || !NoMore(3) || !NoOptions({"name", "format"})) {
            return false;
        }
        GateDecl gate;
        gate.address = words_[0].text;
        if (words_[1].text == "numeric") {
            gate.numeric = true;
            gate.format = GATE_FORMAT_NUMERIC;
        } else if (words_[1].text == "string") {
            gate.numeric = false;
            gate.format = GATE_FORMAT_STRING;
        } else {
            return Fail("a gate is numeric or string, not \"" + words_[1].text + "\"");
        }
        gate.name = options_.count("name") != 0 ? options_["name"] : gate.address;
        if (options_.count("format") != 0 && !TakeNumber(options_["format"], 0xFFFFFFFF, gate.format, "format=")) {
            return false;
        }
        if (gate.address.size() > kMaxGateField || gate.name.size() > kMaxGateField) {
            return Fail("a gate's address and name hold at most 63 bytes");
        }
        if (gate.name.empty()) {
            return Fail("a gate with an empty address needs name=NAME");
        }
        for (const GateDecl& other : scenario_.gates) {
            if (other.name == gate.name) {
                return Fail("a gate named \"" + gate.name + "\" exists already; give this one name=NAME");
            }
        }
        if (scenario_.gates.size() >= MOX_MAX_GATES) {
            return Fail("the host library holds at most 64 gates");
        }
        if (words_.size() == 3 && !TakeValue(gate, words_[2])) {
            return false;
        }
        scenario_.gates.push_back(gate);
        command_.gate = static_cast<int>(scenario_.gates.size() - 1);
        command_.op = Op::Gate;
        return true;
    }

    bool ParseSet() {
        command_.op = Op::Set;
        return TakeGate(0, "set GATE VALUE") && Need(2, "set GATE VALUE") && NoMore(2) && NoOptions() &&
               TakeValue(Gate(), words_[1]);
    }

    bool ParseNote() {
        command_.op = Op::Note;
        for (const Token& word : words_) {
            command_.text += (command_.text.empty() ? "" : " ") + word.text;
        }
        for (const auto& [key, value] : options_) {
            command_.text += (command_.text.empty() ? "" : " ") + key + "=" + value;
        }
        return true;
    }

    bool ParseWait() {
        command_.op = Op::Wait;
        return Need(1, "wait MS") && NoMore(1) && NoOptions() &&
               TakeNumber(words_[0].text, 3600000, command_.waitMs, "wait");
    }

    bool ParsePortRequest(Op op) {
        command_.op = op;
        if (!TakeExpect() || !NoMore(0)) {
            return false;
        }
        if (op == Op::Load ? !NoOptions({"port", "enabled", "timeout", "line"})
                           : !NoOptions({"port", "timeout", "line"})) {
            return false;
        }
        if (auto port = options_.find("port"); port != options_.end()) {
            if (port->second.size() > kMaxPortName) {
                return Fail("a port name holds at most 11 bytes");
            }
            command_.port = port->second;
        }
        uint32_t value = 0;
        if (auto enabled = options_.find("enabled"); enabled != options_.end()) {
            if (!TakeNumber(enabled->second, 0xFFFFFFFF, value, "enabled=")) {
                return false;
            }
            command_.enabled = value;
        }
        if (auto timeout = options_.find("timeout"); timeout != options_.end()) {
            if (!TakeNumber(timeout->second, 0xFFFFFFFF, value, "timeout=")) {
                return false;
            }
            command_.timeout = value;
        }
        if (auto line = options_.find("line"); line != options_.end()) {
            LineSettings settings{};
            if (!TakeLine(line->second, settings)) {
                return false;
            }
            command_.lineSettings = settings;
        }
        return true;
    }

    bool ParseGateRequest(Op op) {
        command_.op = op;
        return TakeExpect() && TakeGate(0, "register|update|read GATE") && NoMore(1) && NoOptions();
    }

    bool ParseWrite() {
        command_.op = Op::Write;
        if (!TakeExpect() || !TakeGate(0, "write GATE [VALUE]") || !NoMore(2) || !NoOptions()) {
            return false;
        }
        return words_.size() < 2 || TakeValue(Gate(), words_[1]);
    }

    bool ParseRaw() {
        command_.op = Op::Raw;
        if (!TakeExpect() || !Need(1, "request CODE") || !NoMore(1) || !NoOptions()) {
            return false;
        }
        if (!ParseSigned(words_[0].text, command_.code)) {
            return Fail("request needs a code, not \"" + words_[0].text + "\"");
        }
        return true;
    }

    // [contains] TEXT from words_[at] on.
    bool TakeCompared(size_t at, const char* usage) {
        if (words_.size() == at + 2 && !words_[at].quoted && words_[at].text == "contains") {
            command_.contains = true;
            ++at;
        }
        if (!Need(at + 1, usage) || !NoMore(at + 1) || !NoOptions()) {
            return false;
        }
        command_.text = words_[at].text;
        return true;
    }

    bool TakeEchoGate(const char* usage) {
        if (!Need(1, usage)) {
            return false;
        }
        if (words_[0].text != "OUTGOING" && words_[0].text != "INCOMING") {
            return Fail("an echo gate is OUTGOING or INCOMING");
        }
        for (size_t i = 0; i < scenario_.gates.size(); ++i) {
            if (scenario_.gates[i].address == words_[0].text) {
                command_.gate = static_cast<int>(i);
                return true;
            }
        }
        return Fail("no gate with the address " + words_[0].text + " declared before this line");
    }

    bool ParseCheck() {
        if (words_.empty()) {
            return Fail("check what? result, number, text, address, log, nolog, echo, noecho, registration, info");
        }
        std::string what = words_[0].text;
        words_.erase(words_.begin());
        if (what == "result") {
            command_.op = Op::CheckResult;
            if (!Need(1, "check result N") || !NoMore(1) || !NoOptions()) {
                return false;
            }
            return ParseSigned(words_[0].text, command_.code) || Fail("check result needs a number");
        }
        if (what == "number") {
            command_.op = Op::CheckNumber;
            uint32_t value = 0;
            if (!TakeGate(0, "check number GATE N") || !Need(2, "check number GATE N") || !NoMore(2) || !NoOptions() ||
                !TakeNumber(words_[1].text, 0xFFFF, value, "check number")) {
                return false;
            }
            command_.number = static_cast<uint16_t>(value);
            return Gate().numeric || Fail("gate " + Gate().name + " is a string gate: use check text");
        }
        if (what == "text") {
            command_.op = Op::CheckText;
            return TakeGate(0, "check text GATE [contains] TEXT") &&
                   TakeCompared(1, "check text GATE [contains] TEXT") &&
                   (!Gate().numeric || Fail("gate " + Gate().name + " is numeric: use check number"));
        }
        if (what == "address") {
            command_.op = Op::CheckAddress;
            if (!TakeGate(0, "check address GATE TEXT") || !Need(2, "check address GATE TEXT") || !NoMore(2) ||
                !NoOptions()) {
                return false;
            }
            command_.text = words_[1].text;
            return true;
        }
        if (what == "log") {
            command_.op = Op::CheckLog;
            return TakeCompared(0, "check log [contains] TEXT");
        }
        if (what == "nolog") {
            command_.op = Op::CheckNoLog;
            return NoMore(0) && NoOptions();
        }
        if (what == "echo") {
            command_.op = Op::CheckEcho;
            return TakeEchoGate("check echo OUTGOING|INCOMING [contains] TEXT") &&
                   TakeCompared(1, "check echo OUTGOING|INCOMING [contains] TEXT");
        }
        if (what == "noecho") {
            command_.op = Op::CheckNoEcho;
            return TakeEchoGate("check noecho OUTGOING|INCOMING") && NoMore(1) && NoOptions();
        }
        if (what == "registration") {
            command_.op = Op::CheckRegistration;
            const char* usage = "check registration GATE W4 W5 W7 W8";
            if (!TakeGate(0, usage) || !Need(5, usage) || !NoMore(5) || !NoOptions()) {
                return false;
            }
            for (size_t i = 1; i < 5; ++i) {
                uint32_t value = 0;
                if (!TakeNumber(words_[i].text, 0xFFFFFFFF, value, "check registration")) {
                    return false;
                }
                command_.words.push_back(value);
            }
            return true;
        }
        if (what == "info") {
            return ParseCheckInfo();
        }
        return Fail("unknown check \"" + what + "\"");
    }

    bool ParseCheckInfo() {
        command_.op = Op::CheckInfo;
        if (!NoMore(0) || !NoOptions({"size", "device", "line", "words"})) {
            return false;
        }
        if (options_.empty()) {
            return Fail("check info needs size=, device=, line= or words=");
        }
        uint32_t value = 0;
        if (options_.count("size") != 0) {
            if (!TakeNumber(options_["size"], 0xFFFFFFFF, value, "size=")) {
                return false;
            }
            command_.infoSize = value;
        }
        if (options_.count("device") != 0) {
            command_.infoDevice = options_["device"];
        }
        if (options_.count("line") != 0) {
            LineSettings line{};
            if (!TakeLine(options_["line"], line)) {
                return false;
            }
            command_.lineSettings = line;
        }
        if (options_.count("words") != 0) {
            std::vector<uint32_t> words;
            if (!ParseList(options_["words"], 3, 0xFFFFFFFF, words)) {
                return Fail("words= needs W0,W4,W7");
            }
            command_.infoWords = words;
        }
        return true;
    }

    Scenario& scenario_;
    Command& command_;
    std::string& error_;
    std::vector<Token> words_;
    std::map<std::string, std::string> options_;
};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

bool IsRequest(Op op) {
    return op >= Op::Info && op <= Op::Raw;
}

bool IsCheck(Op op) {
    return op >= Op::CheckResult;
}

bool ParseScenario(std::string_view text, const Variables& variables, Scenario& scenario, ParseError& error) {
    scenario = Scenario{};
    int number = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;

        std::vector<Token> tokens;
        std::string message;
        if (!ScanLine(line, variables, tokens, message)) {
            error = ParseError{number, message};
            return false;
        }
        if (tokens.empty()) {
            continue;
        }
        Command command;
        command.line = number;
        command.source = std::string(line);
        if (!LineParser(scenario, command, message).Parse(std::move(tokens))) {
            error = ParseError{number, message};
            return false;
        }
        scenario.commands.push_back(std::move(command));
    }
    return true;
}

}  // namespace qelhost
