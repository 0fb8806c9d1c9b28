// Gate addresses as the host writes and registers them: the kind and groups
// they leave in the context and the verdict of both entry points.
#include "protocol/address_parser.h"

#include <string>

#include "driver_library.h"
#include "host_fixture.h"
#include "protocol/gate_kinds.h"

namespace {

constexpr uint32_t kNumeric = GATE_FORMAT_NUMERIC;
constexpr uint32_t kString = GATE_FORMAT_STRING;

// What an earlier parse left; a row's nullptr group or kKeep kind expects it.
constexpr uint32_t kEarlierKind = 99;
constexpr char kEarlierGroup[] = "earlier";
constexpr int32_t kKeep = -1;
constexpr uint32_t kHostWord = 0xA5A5A5A5;

struct AddressCase {
    const char* address;
    uint32_t format;
    int32_t parsed;      // ParseGateAddress: 0 accepted, 1 rejected
    int32_t registered;  // REQ_REGISTER_GATE: 0 named address, 1 any other
    int32_t kind;
    const char* addrA = nullptr;
    const char* addrB = nullptr;
    const char* addrC = nullptr;
    const char* addrD = nullptr;
};

const std::string kOverLong = "0102030405060708091011121314151617181920";

const AddressCase kCases[] = {
    // address, format, parsed, registered, kind, addrA, addrB, addrC, addrD
    {"0102", kNumeric, 0, 1, KIND_HASH, "01", "02"},
    {"0A1F", kNumeric, 0, 1, KIND_HASH, "0A", "1F"},
    {"01A2B", kNumeric, 0, 1, KIND_HASH_MARKED, "1A", "2B"},
    {"x0102", kNumeric, 0, 1, KIND_HASH_MARKED, "01", "02"},
    {"B0C0D", kNumeric, 0, 1, KIND_HASH_MARKED, "0C", "0D"},
    {"M0012", kNumeric, 0, 1, KIND_M, nullptr, nullptr, "0012"},
    {"M0012", kString, 0, 1, KIND_BANG_BITS, "00", "12"},
    {"x0102", kString, 0, 1, KIND_BANG_BITS, "01", "02"},
    {"BP01020012", kNumeric, 0, 1, KIND_BANG_BYTE, "01", "02", "0012"},
    {"BP0102001", kNumeric, 1, 1, kKeep},
    {"BP010200123", kNumeric, 1, 1, kKeep},
    {"BP0102001G", kNumeric, 1, 1, kKeep},
    {"BP01020012", kString, 1, 1, kKeep},
    {"M0123456789", kNumeric, 0, 1, kKeep},
    {"B0123456789", kNumeric, 0, 1, kKeep},
    {"B01234567", kNumeric, 0, 1, kKeep},
    {"M0123456789", kString, 1, 1, kKeep},
    {"B01234567", kString, 1, 1, kKeep},
    {"M00123", kNumeric, 1, 1, kKeep},
    {"ACK", kNumeric, 0, 0, KIND_ACK},
    {"GET_STR_FROM_FILE", kNumeric, 0, 0, KIND_FILE},
    {"OUTGOING", kString, 0, 0, KIND_OUTGOING},
    {"INCOMING", kString, 0, 0, KIND_INCOMING},
    {"SEND_STR", kString, 0, 0, KIND_SEND_STR},
    {"ACK", kString, 1, 1, kKeep},
    {"GET_STR_FROM_FILE", kString, 1, 1, kKeep},
    {"OUTGOING", kNumeric, 1, 1, kKeep},
    {"INCOMING", kNumeric, 1, 1, kKeep},
    {"SEND_STR", kNumeric, 1, 1, kKeep},
    {"ack", kNumeric, 1, 1, kKeep},
    {"ACK ", kNumeric, 1, 1, kKeep},
    {"R05", kString, 0, 1, KIND_R, nullptr, nullptr, nullptr, "05"},
    {"L0F", kString, 0, 1, KIND_L, nullptr, nullptr, nullptr, "0F"},
    {"R05", kNumeric, 1, 1, kKeep},
    {"L05", kNumeric, 1, 1, kKeep},
    {"R0f", kString, 1, 1, kKeep},
    {"01a2", kNumeric, 1, 1, kKeep},
    {"x01e2", kNumeric, 1, 1, kKeep},
    {"0102", kString, 1, 1, kKeep},
    {"", kNumeric, 1, 1, kKeep},
    {"", kString, 1, 1, kKeep},
    {"0102", 1, 1, 1, kKeep},
    {"ACK", 3, 1, 1, kKeep},
    {"OUTGOING", 0x107, 1, 1, kKeep},
    {kOverLong.c_str(), kNumeric, 1, 1, kKeep},
    {kOverLong.c_str(), kString, 1, 1, kKeep},
};

class AddressParserTest : public HostTest {
  protected:
    void LeaveEarlierParse() {
        CopyText(context->gateAddress, "earlier address");
        context->commandKind = kEarlierKind;
        CopyText(context->addrA, kEarlierGroup);
        CopyText(context->addrB, kEarlierGroup);
        CopyText(context->addrC, kEarlierGroup);
        CopyText(context->addrD, kEarlierGroup);
    }

    void ExpectParsed(const AddressCase& row) {
        EXPECT_EQ(context->gateAddress, std::string(row.address).substr(0, sizeof context->gateAddress - 1));
        EXPECT_EQ(context->commandKind, row.kind == kKeep ? kEarlierKind : static_cast<uint32_t>(row.kind));
        EXPECT_STREQ(context->addrA, row.addrA ? row.addrA : kEarlierGroup);
        EXPECT_STREQ(context->addrB, row.addrB ? row.addrB : kEarlierGroup);
        EXPECT_STREQ(context->addrC, row.addrC ? row.addrC : kEarlierGroup);
        EXPECT_STREQ(context->addrD, row.addrD ? row.addrD : kEarlierGroup);
    }

    int32_t Register(char* address, uint32_t format, GateRegistration* registration) {
        for (uint32_t* word : {&registration->word1, &registration->word3, &registration->word4, &registration->word5,
                               &registration->word6, &registration->word7, &registration->word8}) {
            *word = kHostWord;
        }
        registration->address = address;
        registration->format = format;
        return CallDriver(REQ_REGISTER_GATE, registration);
    }

    static void ExpectRegistrationWords(const GateRegistration& registration) {
        EXPECT_EQ(registration.word7, 255u);
        EXPECT_EQ(registration.word8, 16u);
        EXPECT_EQ(registration.word4, 0u);
        EXPECT_EQ(registration.word5, 0u);
        EXPECT_EQ(registration.word1, kHostWord);
        EXPECT_EQ(registration.word3, kHostWord);
        EXPECT_EQ(registration.word6, kHostWord);
    }
};

TEST_F(AddressParserTest, AddressAndFormatDecideKindGroupsAndBothResults) {
    for (const AddressCase& row : kCases) {
        SCOPED_TRACE(std::string("address \"") + row.address + "\" format " + std::to_string(row.format));

        LeaveEarlierParse();
        GateValueArea value;
        GateAccessRecord gate(row.address, row.format, value.bytes);
        DriverRequest request = MakeRequest(context, REQ_WRITE_GATE, &gate.access);
        EXPECT_EQ(ParseGateAddress(&request), row.parsed);
        ExpectParsed(row);

        LeaveEarlierParse();
        GateRegistration registration;
        EXPECT_EQ(Register(gate.address, row.format, &registration), row.registered);
        ExpectParsed(row);
        ExpectRegistrationWords(registration);
    }
}

TEST_F(AddressParserTest, MissingAddressIsRejectedAsEmpty) {
    LeaveEarlierParse();
    GateValueArea value;
    GateAccessRecord gate("", kNumeric, value.bytes);
    gate.access.address = nullptr;
    DriverRequest request = MakeRequest(context, REQ_WRITE_GATE, &gate.access);
    EXPECT_EQ(ParseGateAddress(&request), 1);
    EXPECT_STREQ(context->gateAddress, "");
    EXPECT_EQ(context->commandKind, kEarlierKind);

    LeaveEarlierParse();
    GateRegistration registration;
    EXPECT_EQ(Register(nullptr, kString, &registration), 1);
    EXPECT_STREQ(context->gateAddress, "");
    EXPECT_EQ(context->commandKind, kEarlierKind);
    ExpectRegistrationWords(registration);
}

TEST_F(AddressParserTest, LongestAddressThatFitsIsCopiedWholeAndRejected) {
    const std::string address(sizeof context->gateAddress - 1, 'A');
    GateValueArea value;
    GateAccessRecord gate(address.c_str(), kNumeric, value.bytes);
    DriverRequest request = MakeRequest(context, REQ_WRITE_GATE, &gate.access);
    EXPECT_EQ(ParseGateAddress(&request), 1);
    EXPECT_EQ(context->gateAddress, address);
}

}  // namespace
