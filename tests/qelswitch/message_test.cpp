// The switcher's judgement of single lines: checksum, layout, fields.
#include "message.h"

#include <gtest/gtest.h>

#include "checksum.h"

namespace qelswitch {
namespace {

struct ChecksumCase {
    const char* covered;
    char expected;
};

TEST(Checksum, MatchesTheKnownMessages) {
    const ChecksumCase cases[] = {
        {"01025", '9'},     // #010259: address 0102, digit 5
        {"0A1FC", '7'},     // #0A1FC7
        {"01022", 'E'},     // #01022E: bank 2, digit 2
        {"0102D", '1'},     // #0102D1: its preface
        {"0102F", '3'},     // #0102F3: its trailer
        {"05", 'A'},        // R05A
        {"00120105", '8'},  // M001201058
        {"0502AB", '9'},    // L0502AB9
        {"", 'F'},
    };
    for (const ChecksumCase& c : cases) EXPECT_EQ(ChecksumChar(c.covered), c.expected) << c.covered;
}

TEST(Checksum, CountsLowerCaseLikeUpperCase) {
    EXPECT_EQ(ChecksumValue("0a1fc"), ChecksumValue("0A1FC"));
}

TEST(Checksum, GivesOneHexDigitForAnyByte) {
    // Blank counts 0; "~" (0x7E) counts 7; 0xE9 counts as the signed -23,
    // whose low four bits are 9; "@" (0x40) falls under the digit rule.
    EXPECT_EQ(ChecksumValue(" "), 0xF);
    EXPECT_EQ(ChecksumValue("~"), 0xF ^ 7);
    EXPECT_EQ(ChecksumValue("\xE9"), 0xF ^ 9);
    EXPECT_EQ(ChecksumValue("@"), 0xF ^ 0);
    for (int code = 0; code < 256; ++code) {
        const char character = static_cast<char>(code);
        const int value = ChecksumValue(std::string_view(&character, 1));
        EXPECT_TRUE(value >= 0 && value <= 15) << code;
    }
}

struct ValidCase {
    const char* line;
    MessageKind kind;
    const char* field;  // the field that matters most for the kind
};

std::string MainField(const Message& message) {
    switch (message.kind) {
        case MessageKind::kHash:
            return message.addrA + message.addrB + message.digit;
        case MessageKind::kBits:
            return message.addrA + message.addrB + " " + message.bits;
        case MessageKind::kByte:
            return message.addrA + message.addrB + " " + message.addrC + " " + message.byte;
        case MessageKind::kM:
            return message.addrC + " " + message.level;
        case MessageKind::kL:
            return message.addrD + " " + message.text;
        case MessageKind::kR:
            return message.addrD;
        case MessageKind::kPreamble:
            return "P";
        case MessageKind::kText:
            return message.line;
    }
    return "";
}

TEST(ParseMessage, AcceptsEveryKindTheDriverSends) {
    const ValidCase cases[] = {
        {"#010259", MessageKind::kHash, "01025"},
        {"#0A1FC7", MessageKind::kHash, "0A1FC"},
        {"#0102D1", MessageKind::kHash, "0102D"},
        {"#0102F3", MessageKind::kHash, "0102F"},
        {"!01020010102E", MessageKind::kBits, "0102 1010"},
        {"!010200030A14", MessageKind::kByte, "0102 0003 0A"},
        {"M001201058", MessageKind::kM, "0012 05"},
        {"L0502AB9", MessageKind::kL, "05 AB"},
        {"L0500A", MessageKind::kL, "05 "},
        {"R05A", MessageKind::kR, "05"},
        {"P", MessageKind::kPreamble, "P"},
        {"SEND THIS", MessageKind::kText, "SEND THIS"},
        {"", MessageKind::kText, ""},
    };
    for (const ValidCase& c : cases) {
        const Message message = ParseMessage(c.line);
        EXPECT_TRUE(message.valid) << c.line << ": " << message.problem;
        EXPECT_EQ(message.kind, c.kind) << c.line;
        EXPECT_EQ(MainField(message), c.field) << c.line;
    }
}

TEST(ParseMessage, BitFormKeepsWhateverFourCharactersTheGateHeld) {
    // The driver sends four letters or a blank and three digits unchanged.
    for (std::string bits : {"abcd", " 101"}) {
        const std::string covered =
            "0102"
            "00" +
            bits + "2";
        const Message message = ParseMessage("!" + covered + ChecksumChar(covered));
        EXPECT_TRUE(message.valid) << bits << ": " << message.problem;
        EXPECT_EQ(message.bits, bits);
    }
}

TEST(ParseMessage, LTextLengthFieldFollowsTheEncoder) {
    for (size_t length : {0u, 9u, 12u, 99u, 100u, 123u, 248u}) {
        const std::string covered = "05" + LengthField(length) + std::string(length, 'x');
        const Message message = ParseMessage("L" + covered + ChecksumChar(covered));
        EXPECT_TRUE(message.valid) << length << ": " << message.problem;
        EXPECT_EQ(message.text.size(), length);
    }
    EXPECT_EQ(LengthField(0), "00");
    EXPECT_EQ(LengthField(7), "07");
    EXPECT_EQ(LengthField(42), "42");
    EXPECT_EQ(LengthField(123), "12");
}

struct InvalidCase {
    const char* line;
    const char* problem;  // a part of the reason given
};

TEST(ParseMessage, RefusesBadChecksumsAndBrokenLayouts) {
    const InvalidCase cases[] = {
        {"#010258", "bad checksum 8, expected 9"},
        {"#01025", "length 6, expected 7"},
        {"#0102599", "length 8"},
        {"#0a1fc7", "\"0a\" is not hex"},
        {"#0102XD", "digit X is not hex"},
        {"!01020010103D", "form 3"},
        {"!01020010102F", "bad checksum"},
        {"!01020110102F", "\"01\" at position 5, expected \"00\""},
        {"!0102", "length 5, expected 13"},
        {"M00120205B", "\"02\" at position 5, expected \"01\""},
        {"M001201058x", "length 11"},
        {"L0503AB8", "length field 03 for a text of 2"},
        {"L05", "expected at least 6"},
        {"R05B", "bad checksum B, expected A"},
        {"R05a", "bad checksum a"},
        {"PX", "length 2, expected 1"},
        {"#01025\n9", "length 8"},
    };
    for (const InvalidCase& c : cases) {
        const Message message = ParseMessage(c.line);
        EXPECT_FALSE(message.valid) << c.line;
        EXPECT_NE(message.problem.find(c.problem), std::string::npos) << c.line << ": " << message.problem;
    }
}

}  // namespace
}  // namespace qelswitch
