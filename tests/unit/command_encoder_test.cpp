// Switcher messages as they go on the wire, the values refused, and the
// checksum digit over every byte.
#include "protocol/command_encoder.h"

#include <climits>
#include <cstring>
#include <string>

#include "host_fixture.h"
#include "protocol/gate_kinds.h"

namespace {

const std::string kText99(99, 'x');
const std::string kText100(100, 'x');
const std::string kLoad99 = "L0599" + kText99 + "B\r";

struct MessageCase {
    uint32_t kind;
    const char* addrA;
    const char* addrB;
    uint16_t number;
    const char* text;      // string gates; nullptr for numeric gates
    const char* expected;  // nullptr: the value is refused
};

// addrC holds 0012 and addrD 05 throughout.
const MessageCase kMessages[] = {
    {KIND_HASH, "01", "02", 5, nullptr, "#010259\r"},
    {KIND_HASH, "0A", "1F", 12, nullptr, "#0A1FC7\r"},
    {KIND_HASH, "01", "02", 18, nullptr, "#01022E\r"},
    {KIND_HASH, "01", "02", 15, nullptr, "#0102F3\r"},
    {KIND_HASH, "01", "02", 16, nullptr, "#01020C\r"},
    {KIND_HASH, "01", "02", 30, nullptr, "#0102E2\r"},
    {KIND_HASH, "01", "02", 31, nullptr, nullptr},
    {KIND_HASH, "01", "02", 65535, nullptr, nullptr},
    {KIND_HASH_MARKED, "01", "02", 5, nullptr, "#010259\r"},
    {KIND_BANG_BITS, "01", "02", 0, "1010", "!01020010102E\r"},
    {KIND_BANG_BITS, "01", "02", 0, "0000", "!01020000002E\r"},
    {KIND_BANG_BITS, "01", "02", 0, "ABCD", "!010200ABCD2E\r"},
    {KIND_BANG_BITS, "01", "02", 0, " 101", "!010200 1012E\r"},
    {KIND_BANG_BITS, "01", "02", 0, "+101", "!010200+10125\r"},
    {KIND_BANG_BITS, "01", "02", 0, "0102", nullptr},
    {KIND_BANG_BITS, "01", "02", 0, "-001", nullptr},
    {KIND_BANG_BITS, "01", "02", 0, "101", nullptr},
    {KIND_BANG_BITS, "01", "02", 0, "10101", nullptr},
    {KIND_BANG_BITS, "01", "02", 0, "", nullptr},
    {KIND_BANG_BYTE, "01", "02", 10, nullptr, "!010200120A14\r"},
    {KIND_BANG_BYTE, "01", "02", 255, nullptr, "!01020012FF1E\r"},
    {KIND_BANG_BYTE, "01", "02", 0, nullptr, "!01020012001E\r"},
    {KIND_BANG_BYTE, "01", "02", 256, nullptr, nullptr},
    {KIND_BANG_BYTE, "01", "02", 65535, nullptr, nullptr},
    {KIND_R, "01", "02", 0, "", "R05A\r"},
    {KIND_L, "01", "02", 0, "AB", "L0502AB9\r"},
    {KIND_L, "01", "02", 0, "", "L0500A\r"},
    {KIND_L, "01", "02", 0, "ABCDEFGHIJKL", "L0512ABCDEFGHIJKL9\r"},
    {KIND_L, "01", "02", 0, "\xE9 !", "L0503\xE9 !1\r"},
    {KIND_L, "01", "02", 0, kText99.c_str(), kLoad99.c_str()},
    {KIND_L, "01", "02", 0, kText100.c_str(), nullptr},
    {KIND_M, "01", "02", 5, nullptr, "M001201058\r"},
    {KIND_M, "01", "02", 42, nullptr, "M00120142B\r"},
    {KIND_M, "01", "02", 99, nullptr, "M00120199D\r"},
    {KIND_M, "01", "02", 100, nullptr, nullptr},
    {KIND_M, "01", "02", 123, nullptr, nullptr},
    {KIND_ACK, "01", "02", 5, nullptr, nullptr},
    {KIND_SEND_STR, "01", "02", 0, "text", nullptr},
};

constexpr char kEarlierMessage[] = "earlier message\r";
constexpr uint8_t kEarlierLength = 16;

class CommandEncoderTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        CopyText(context->addrC, "0012");
        CopyText(context->addrD, "05");
    }

    void LeaveEarlierCommand() {
        std::memset(context->commandBuffer, '~', sizeof context->commandBuffer);
        std::memcpy(context->commandBuffer, kEarlierMessage, sizeof kEarlierMessage);
        context->commandLength = kEarlierLength;
        context->bank = 7;
        context->letterDigitFlag = 5;
        context->letterDigit = 'x';
    }

    bool EarlierCommandKept() const {
        char expected[sizeof context->commandBuffer];
        std::memset(expected, '~', sizeof expected);
        std::memcpy(expected, kEarlierMessage, sizeof kEarlierMessage);
        return std::memcmp(context->commandBuffer, expected, sizeof expected) == 0 &&
               context->commandLength == kEarlierLength;
    }

    bool BankFieldsKept() const {
        return context->bank == 7 && context->letterDigitFlag == 5 && context->letterDigit == 'x';
    }

    std::string Message() const { return std::string(context->commandBuffer, context->commandLength); }

    int32_t Build(uint32_t kind, GateValueArea& value) {
        context->commandKind = kind;
        GateAccessRecord gate("", kind == KIND_BANG_BITS || kind == KIND_L ? GATE_FORMAT_STRING : GATE_FORMAT_NUMERIC,
                              value.bytes);
        DriverRequest request = MakeRequest(context, REQ_WRITE_GATE, &gate.access);
        return BuildCommand(&request);
    }
};

TEST_F(CommandEncoderTest, KindAndValueGiveTheWireMessageOrARefusal) {
    for (const MessageCase& row : kMessages) {
        SCOPED_TRACE("kind " + std::to_string(row.kind) + " number " + std::to_string(row.number) + " text \"" +
                     (row.text ? row.text : "") + "\"");
        LeaveEarlierCommand();
        CopyText(context->addrA, row.addrA);
        CopyText(context->addrB, row.addrB);
        GateValueArea value(row.number);
        if (row.text != nullptr) {
            std::strncpy(value.Text(), row.text, sizeof value.bytes - 1);
        }
        const GateValueArea written = value;

        const int32_t result = Build(row.kind, value);
        if (row.expected == nullptr) {
            EXPECT_EQ(result, 1);
            EXPECT_TRUE(EarlierCommandKept());
            EXPECT_TRUE(BankFieldsKept());
            EXPECT_EQ(std::memcmp(value.bytes, written.bytes, sizeof value.bytes), 0);
            continue;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(Message(), row.expected);
        if (row.kind != KIND_HASH && row.kind != KIND_HASH_MARKED) {
            EXPECT_TRUE(BankFieldsKept());
        }
        // The kind table's lead and length, which the list checker goes by,
        // describe the message the encoder built.
        const GateKindFacts* facts = FindGateKind(row.kind);
        ASSERT_NE(facts, nullptr);
        const size_t text = TextFollows(*facts) ? std::strlen(row.text) : 0;
        EXPECT_EQ(Message().front(), MessageLead(*facts));
        EXPECT_EQ(Message().size() - 1, static_cast<size_t>(MessageLength(*facts)) + text);
    }
}

struct BankCase {
    uint16_t written;
    uint32_t bank;
    int32_t letterDigitFlag;
    char letterDigit;  // 'x': kept from before
    uint16_t number;   // left in the gate while the command runs
};

const BankCase kBanks[] = {
    {0, 1, 0, 'x', 0},  {9, 1, 0, 'x', 9},  {10, 1, 1, 'A', 10}, {12, 1, 1, 'C', 12}, {15, 1, 1, 'F', 15},
    {16, 2, 0, 'x', 0}, {18, 2, 0, 'x', 2}, {25, 2, 0, 'x', 9},  {26, 2, 1, 'A', 10}, {30, 2, 1, 'E', 14},
};

TEST_F(CommandEncoderTest, AcceptedHashValueSetsBankLetterAndReducedNumber) {
    CopyText(context->addrA, "01");
    CopyText(context->addrB, "02");
    for (const BankCase& row : kBanks) {
        SCOPED_TRACE("written " + std::to_string(row.written));
        LeaveEarlierCommand();
        GateValueArea value(row.written);
        ASSERT_EQ(Build(KIND_HASH, value), 0);
        EXPECT_EQ(context->bank, row.bank);
        EXPECT_EQ(context->letterDigitFlag, row.letterDigitFlag);
        EXPECT_EQ(context->letterDigit, row.letterDigit);
        EXPECT_EQ(value.Number(), row.number);
        EXPECT_EQ(context->commandLength, 8);
        EXPECT_EQ(context->commandBuffer[5], row.letterDigitFlag ? row.letterDigit : '0' + row.number);
    }
}

TEST_F(CommandEncoderTest, BankTwoPrefaceAndTrailerCarryDAndF) {
    CopyText(context->addrA, "01");
    CopyText(context->addrB, "02");
    GateValueArea value(18);
    ASSERT_EQ(Build(KIND_HASH_MARKED, value), 0);
    BuildPrefaceCommand(context);
    BuildTrailerCommand(context);
    EXPECT_EQ(Message(), "#01022E\r");
    EXPECT_EQ(std::string(context->prefaceCommand, context->prefaceLength), "#0102D1\r");
    EXPECT_EQ(std::string(context->trailerCommand, context->trailerLength), "#0102F3\r");
}

// The rule restated: a code from 0x41 to 0x7F counts (code + 9) mod 16,
// every other byte its code mod 16.
int32_t ExpectedChecksum(const unsigned char* bytes, int32_t count) {
    int32_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        sum ^= bytes[i] >= 0x41 && bytes[i] <= 0x7F ? (bytes[i] + 9) % 16 : bytes[i] % 16;
    }
    return sum ^ 0xF;
}

TEST_F(CommandEncoderTest, ChecksumOfEveryByteValueFollowsTheRule) {
    unsigned char all[256];
    for (int32_t code = 0; code < 256; ++code) {
        all[code] = static_cast<unsigned char>(code);
        const char byte = static_cast<char>(code);
        EXPECT_EQ(ChecksumDigit(&byte, 1), ExpectedChecksum(&all[code], 1)) << "byte " << code;
    }
    EXPECT_EQ(ChecksumDigit(reinterpret_cast<const char*>(all), 256), ExpectedChecksum(all, 256));
    EXPECT_EQ(ChecksumDigit(reinterpret_cast<const char*>(all + 0x80), 128), ExpectedChecksum(all + 0x80, 128));
    EXPECT_EQ(ChecksumDigit("", 0), 15);
}

TEST_F(CommandEncoderTest, BinaryDigitsAndHexBytes) {
    for (int32_t value : {0, 1, 10, 1101, 1111111111}) {
        EXPECT_TRUE(HasOnlyBinaryDigits(value)) << value;
    }
    for (int32_t value : {2, 12, 1000000002, -1, INT_MIN, INT_MAX}) {
        EXPECT_FALSE(HasOnlyBinaryDigits(value)) << value;
    }

    char output[3] = "??";
    EXPECT_EQ(FormatHexByte(output, 10), 0);
    EXPECT_STREQ(output, "0A");
    EXPECT_EQ(FormatHexByte(output, 171), 0);
    EXPECT_STREQ(output, "AB");
    for (int32_t value : {256, -1, INT_MAX}) {
        EXPECT_EQ(FormatHexByte(output, value), 1) << value;
        EXPECT_STREQ(output, "AB");
    }
}

}  // namespace
