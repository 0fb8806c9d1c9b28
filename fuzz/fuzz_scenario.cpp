// qelhost's scenario parser over any bytes: it answers every input, a
// refusal carries a line number and a short message with no raw control
// bytes, and what it accepts stays within what the host's records hold. A
// text it accepts, printed as qelhost prints it, reads back as the same
// text, so printed texts can be pasted into checks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "scenario.h"
#include "scenario_tokens.h"
#include "text_codec.h"

namespace {

constexpr size_t kLongestMessage = 400;
constexpr size_t kLongestText = 255;
constexpr size_t kLongestGateField = 63;
constexpr size_t kLongestPort = 11;

bool HasRawControlByte(std::string_view text) {
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

void RequireReadsBack(const std::string& text) {
    std::vector<qelhost::Token> tokens;
    std::string error;
    std::string printed = qelhost::Quoted(text);
    Require(qelhost::ScanLine(printed, {}, &tokens, &error), "a printed text scans");
    Require(tokens.size() == 1 && tokens[0].text == text, "a printed text reads back as itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const qelhost::Variables kVariables{{"PORT", "pts/3"}, {"NAME", "x y"}};
    std::string_view text(reinterpret_cast<const char*>(data), size);
    qelhost::Scenario scenario;
    qelhost::ParseError error;
    if (!qelhost::ParseScenario(text, kVariables, &scenario, &error)) {
        Require(error.line >= 1 && !error.message.empty(), "a refusal says where and why");
        Require(error.message.size() <= kLongestMessage, "a refusal is short");
        Require(!HasRawControlByte(error.message), "a refusal shows control bytes");
        return 0;
    }
    Require(scenario.gates.size() <= MOX_MAX_GATES, "no more gates than the host library holds");
    for (const qelhost::GateDecl& gate : scenario.gates) {
        Require(!gate.name.empty() && gate.name.size() <= kLongestGateField && gate.address.size() <= kLongestGateField,
                "a gate's name and address fit the host library");
        Require(gate.name.find('\0') == std::string::npos && gate.address.find('\0') == std::string::npos,
                "no NUL in a gate's name or address");
    }
    for (const qelhost::Command& command : scenario.commands) {
        Require(command.gate < static_cast<int>(scenario.gates.size()), "a command's gate is declared");
        Require(command.text.find('\0') == std::string::npos, "no NUL in a text");
        Require(!command.port.has_value() || command.port->size() <= kLongestPort, "a port name fits");
        if (command.hasValue && command.gate >= 0 && !scenario.gates[static_cast<size_t>(command.gate)].numeric) {
            Require(command.text.size() <= kLongestText, "a text value fits the value area");
        }
        RequireReadsBack(command.text);
    }
    return 0;
}
