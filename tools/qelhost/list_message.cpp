// The command list checker's remarks on a command that looks like one of the
// switcher's messages: its characters, length and checksum digit, as the
// driver's encoder and the gate kind table make them.
#include "list_message.h"

#include <cstdint>

#include "protocol/command_encoder.h"
#include "protocol/gate_kinds.h"
#include "visible.h"

namespace qelhost {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsUpperHex(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'F');
}

bool IsHex(char c) {
    return IsUpperHex(c) || (c >= 'a' && c <= 'f');
}

// The checksum digit the driver's encoder writes after a message's text.
std::string Checksum(std::string_view message) {
    char digit[2] = {};
    if (message.size() >= 1) {
        AppendHexDigit(digit, 0, ChecksumDigit(message.data() + 1, static_cast<int32_t>(message.size() - 1)));
    }
    return std::string(1, digit[0]);
}

// The gate kind whose message begins with the character.
const GateKindFacts* KindLed(char lead) {
    int32_t count = 0;
    const GateKindFacts* rows = GateKindRows(&count);
    for (int32_t i = 0; i < count; ++i) {
        if (rows[i].layout.pattern != nullptr && MessageLead(rows[i]) == lead) {
            return &rows[i];
        }
    }
    return nullptr;
}

// The length without the CR of the message the text looks like, 0 for
// none. "#" and "!" begin no word, so they are taken with hex digits of
// either case; "M", "R", "L" and "P" only with upper-case ones.
size_t ExpectedLength(std::string_view text, std::string* kind) {
    if (text.empty()) {
        return 0;
    }
    std::string_view rest = text.substr(1);
    if (text[0] == 'P') {
        *kind = "the preamble \"P\"";
        return All(rest, IsUpperHex) ? 1 : 0;
    }
    const GateKindFacts* facts = KindLed(text[0]);
    if (facts == nullptr || rest.empty()) {
        return 0;
    }
    *kind = std::string(text[0] == '#' || text[0] == '!' ? "a" : "an") + " \"" + text[0] + "\" message";
    const size_t length = static_cast<size_t>(MessageLength(*facts));
    if (!TextFollows(*facts)) {
        return All(rest, text[0] == '#' || text[0] == '!' ? IsHex : IsUpperHex) ? length : 0;
    }
    // The address, then the text's length in two decimal digits.
    if (rest.size() < 4 || !IsUpperHex(rest[0]) || !IsUpperHex(rest[1]) || !IsDigit(rest[2]) || !IsDigit(rest[3])) {
        return 0;
    }
    *kind = "an \"" + std::string(1, text[0]) + "\" message with a text of " + std::string(rest.substr(2, 2)) +
            " characters";
    return length + static_cast<size_t>((rest[2] - '0') * 10 + (rest[3] - '0'));
}

}  // namespace

std::string Shown(std::string_view text) {
    return "\"" + qeltools::Visible(text) + "\"";
}

std::string CheckListMessage(std::string_view text, std::vector<MessageRemark>* remarks) {
    const auto Later = [remarks](std::string remark, size_t at = SIZE_MAX) {
        remarks->push_back({std::move(remark), at});
    };
    std::string kind;
    std::string_view blanks = text;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    blanks.remove_prefix(text.size());
    if (!text.empty() && (text[0] == '#' || text[0] == '!')) {
        for (size_t at = 1; at < text.size(); ++at) {
            if (!IsHex(text[at])) {
                Later(Shown(text.substr(at, 1)) + " in a \"" + text[0] +
                          "\" command, where the switcher takes only hex digits",
                      at);
                return std::string();
            }
        }
    }
    size_t length = ExpectedLength(text, &kind);
    if (length == 0) {
        return std::string();
    }
    if (!blanks.empty()) {
        Later("the blanks after " + kind + " " + Shown(text) + " go out with it");
    }
    if (length == 1) {
        if (text.size() != 1) {
            Later("looks like " + kind + ", which is \"P\" alone; this has " + std::to_string(text.size()) +
                  " characters");
            return std::string();
        }
        return " (" + kind + ")";
    }
    std::string checksum = Checksum(text.substr(0, text.size() - 1));
    if (text.size() + 1 == length) {
        Later("looks like " + kind + ", which has " + std::to_string(length) + " characters before its CR; " +
              "this has " + std::to_string(text.size()) + ": is its checksum digit, " + Checksum(text) + ", missing?");
        return std::string();
    }
    if (text.size() != length) {
        Later("looks like " + kind + ", which has " + std::to_string(length) + " characters before its CR; " +
              "this has " + std::to_string(text.size()));
        return std::string();
    }
    if (text.back() != checksum[0]) {
        Later("looks like " + kind + ": its checksum digit is " + std::string(1, text.back()) +
              ", the driver's encoder gives " + checksum + " for " + Shown(text.substr(0, text.size() - 1)));
        return std::string();
    }
    return " (" + kind + ": length and checksum right)";
}

}  // namespace qelhost
