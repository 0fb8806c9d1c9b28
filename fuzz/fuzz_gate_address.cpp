// Gate addresses and written values from the host, however malformed: the
// address is registered and parsed, and when it names a kind the message is
// built. The address copy stays terminated, every message is whole and
// correctly summed, and a refused value builds nothing.
//
// Input: a format selector byte ("N" numeric, "S" string, "-" numeric
// without an address, "0" without the host's record at all, any other byte
// that format code), an LF, the address up to the next LF, then the value: a
// decimal number for a numeric gate, the text itself for a string gate.
#include <cstring>
#include <memory>
#include <string>

#include "context/context.h"
#include "fuzz_support.h"
#include "protocol/address_parser.h"
#include "protocol/command_encoder.h"
#include "protocol/gate_kinds.h"

namespace {

// Characters of the gate address that a kind's message carries, and where.
struct AddressCopy {
    size_t message;
    size_t address;
    size_t count;
};

// The "L" message is this long plus its text.
struct ExpectedMessage {
    uint32_t kind;
    char command;
    size_t length;
    AddressCopy copy;
};

constexpr ExpectedMessage kExpected[] = {
    {KIND_HASH, '#', 8, {1, 0, 4}},       {KIND_HASH_MARKED, '#', 8, {1, 1, 4}}, {KIND_BANG_BITS, '!', 14, {1, 1, 4}},
    {KIND_BANG_BYTE, '!', 14, {1, 2, 8}}, {KIND_R, 'R', 5, {1, 1, 2}},           {KIND_L, 'L', 7, {1, 1, 2}},
    {KIND_M, 'M', 11, {1, 1, 4}},
};

// The checksum digit worked out apart from the encoder: each character less
// its base ("0"; "A" and "a" less ten; bytes from 0x80 count from "0"), the
// low four bits of all of them XORed, then inverted.
char ExpectedChecksum(const char* text, size_t count) {
    unsigned sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const unsigned base = (c >= 'A' && c < 'a') ? 'A' - 10 : (c >= 'a' && c < 0x80) ? 'a' - 10 : '0';
        sum ^= (c - base) & 0xF;
    }
    return "0123456789ABCDEF"[(sum ^ 0xF) & 0xF];
}

void CheckAddressCopy(const DriverContext& context, const char* address) {
    Require(std::memchr(context.gateAddress, '\0', sizeof context.gateAddress) != nullptr,
            "gateAddress is terminated within its 32 bytes");
    const char* expected = address != nullptr ? address : "";
    const size_t copied = std::strlen(context.gateAddress);
    Require(std::strncmp(context.gateAddress, expected, copied) == 0, "gateAddress is the start of the address");
    Require(copied == std::strlen(expected) || copied == sizeof context.gateAddress - 1,
            "gateAddress is cut only where it is full");
}

void CheckMessage(const DriverContext& context, const char* address, const char* valueText) {
    const size_t length = context.commandLength;
    const char* message = context.commandBuffer;
    Require(length >= 3 && length <= sizeof context.commandBuffer, "the message fits commandBuffer");
    Require(message[length - 1] == '\r', "the message ends in CR");
    Require(message[length - 2] == ExpectedChecksum(message + 1, length - 3),
            "the checksum digit covers everything after the command character");
    Require(std::memchr(message, '\0', length) == nullptr, "the message holds no NUL");

    for (const ExpectedMessage& expected : kExpected) {
        if (expected.kind != context.commandKind) {
            continue;
        }
        const size_t textLength = expected.kind == KIND_L ? std::strlen(valueText) : 0;
        Require(message[0] == expected.command, "the message starts with its kind's command character");
        Require(length == expected.length + textLength, "the message has its kind's length");
        Require(std::memcmp(message + expected.copy.message, address + expected.copy.address, expected.copy.count) == 0,
                "the message carries the address's own digits");
        return;
    }
    Require(false, "only kinds with a message of their own build one");
}

// The host's value area: a string gate's text, or a numeric gate's number
// at bytes 2-3. Exactly as large as needed, so a read beyond it is caught.
std::unique_ptr<char[]> MakeValueArea(uint32_t format, const std::string& value) {
    if (format == GATE_FORMAT_STRING) {
        auto area = std::make_unique<char[]>(value.size() + 1);
        std::memcpy(area.get(), value.c_str(), value.size() + 1);
        return area;
    }
    auto area = std::make_unique<char[]>(4);
    const uint16_t number = static_cast<uint16_t>(std::strtoll(value.c_str(), nullptr, 10));
    area[2] = static_cast<char>(number & 0xFF);
    area[3] = static_cast<char>(number >> 8);
    return area;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string selector;
    std::string rest;
    SplitFirstLine(data, size, &selector, &rest);
    const uint8_t code = selector.empty() ? 'N' : static_cast<uint8_t>(selector[0]);
    const uint32_t format = code == 'N' || code == '-' || code == '0' ? GATE_FORMAT_NUMERIC
                            : code == 'S'                             ? GATE_FORMAT_STRING
                                                                      : code;
    const bool withRecord = code != '0';
    std::string addressLine;
    std::string value;
    SplitFirstLine(reinterpret_cast<const uint8_t*>(rest.data()), rest.size(), &addressLine, &value);
    auto addressArea = std::make_unique<char[]>(addressLine.size() + 1);
    std::memcpy(addressArea.get(), addressLine.c_str(), addressLine.size() + 1);
    char* address = code == '-' || !withRecord ? nullptr : addressArea.get();
    auto valueArea = MakeValueArea(format, value);

    auto registered = std::make_unique<DriverContext>();
    GateRegistration registration{};
    registration.address = address;
    registration.format = format;
    DriverRequest registerRequest{registered.get(), REQ_REGISTER_GATE, 0, 0, withRecord ? &registration : nullptr};
    const int32_t named = RegisterGate(&registerRequest);
    Require(named == 0 || named == 1, "registration answers 0 or 1");
    CheckAddressCopy(*registered, address);

    auto context = std::make_unique<DriverContext>();
    GateAccess access{};
    access.address = address;
    access.format = format;
    access.value = valueArea.get();
    DriverRequest request{context.get(), REQ_WRITE_GATE, 0, 0, withRecord ? &access : nullptr};
    const int32_t parsed = ParseGateAddress(&request);
    Require(parsed == 0 || parsed == 1, "parsing answers 0 or 1");
    Require(named != 0 || parsed == 0, "a named address is accepted");
    CheckAddressCopy(*context, address);
    if (!ParseGateKind(&request)) {
        return 0;
    }
    Require(parsed == 0, "an address that names a kind is accepted");

    std::memset(context->commandBuffer, '\x7E', sizeof context->commandBuffer);
    context->commandLength = 0xA5;
    const DriverContext before = *context;
    if (BuildCommand(&request) != 0) {
        Require(std::memcmp(context->commandBuffer, before.commandBuffer, sizeof before.commandBuffer) == 0 &&
                    context->commandLength == before.commandLength,
                "a refused value builds nothing");
        return 0;
    }
    CheckMessage(*context, address, valueArea.get());
    return 0;
}
