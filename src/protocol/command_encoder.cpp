// Switcher messages: the written value checked as the gate's kind requires,
// then laid out with its checksum digit and CR.
#include "protocol/command_encoder.h"

#include <cstring>

#include "context/text.h"
#include "protocol/gate_kinds.h"
#include "protocol/gate_value.h"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr int32_t kLargestHashValue = 30;
constexpr int32_t kFirstLetterDigit = 10;
constexpr int32_t kLargestByte = 255;
constexpr int32_t kBitTextLength = FieldWidth('b');
// The switcher's two-digit count and value fields cannot say more.
constexpr int32_t kLargestTwoDigitValue = 99;

// A "#" message with its CR, and where its digit stands: what the bank-2
// variants copy and change.
constexpr int32_t kHashMessageLength = MessageLength(kGateKinds[KIND_HASH]) + 1;
constexpr int32_t kHashDigitPosition = FieldOffset(kGateKinds[KIND_HASH], 'd');
static_assert(kHashDigitPosition > 0 && kHashDigitPosition + 2 < kHashMessageLength);

// The longest message, its text and CR with it, must fit commandLength's
// eight bits.
constexpr bool EveryMessageFitsItsLength() {
    for (const GateKindFacts& facts : kGateKinds) {
        if (MessageLength(facts) + (TextFollows(facts) ? kLargestTwoDigitValue : 0) + 1 > UINT8_MAX) {
            return false;
        }
    }
    return true;
}
static_assert(EveryMessageFitsItsLength(), "every message must fit commandLength");

// What a message carries beside its fixed characters and address groups,
// read from the gate's value and checked before anything is written.
struct MessageValue {
    char digit = '0';
    char twoDigits[3] = {};
    char hexByte[3] = {};
    const char* text = "";
    int32_t textLength = 0;
};

using ValueReader = int32_t (*)(DriverRequest* request, MessageValue* value);

// "0" and the digit for 0 to 9, the two digits for 10 to 99.
void FormatTwoDigits(char (&output)[3], int32_t value) {
    output[0] = static_cast<char>('0' + value / 10);
    output[1] = static_cast<char>('0' + value % 10);
    output[2] = '\0';
}

// Why the gate's value cannot go out, for the trace.
void RefuseNumber(DriverRequest* request, int32_t largest) {
    TraceReason(&ContextOf(request)->trace, "value %d out of range 0-%d", static_cast<int>(GateNumber(request)),
                static_cast<int>(largest));
}

void RefuseText(DriverRequest* request, const char* why) {
    DriverContext* context = ContextOf(request);
    if (!TraceIsOn(&context->trace)) {
        return;
    }
    const char* text = GateText(request);
    char shown[64];
    VisibleBytes(shown, sizeof shown, text, BoundedLength(text, sizeof shown));
    TraceReason(&context->trace, "text \"%s\" %s", shown, why);
}

int32_t ReadHashValue(DriverRequest* request, MessageValue* value) {
    if (SelectBank(request, GateNumber(request)) != kOk) {
        RefuseNumber(request, kLargestHashValue);
        return kFailed;
    }
    const DriverContext* context = ContextOf(request);
    value->digit = context->letterDigitFlag != 0 ? context->letterDigit : static_cast<char>('0' + GateNumber(request));
    return kOk;
}

int32_t ReadBitText(DriverRequest* request, MessageValue* value) {
    const char* text = GateText(request);
    // Four characters hold at most 9999: the reading fits 32 bits.
    if (BoundedLength(text, kBitTextLength) != kBitTextLength ||
        !HasOnlyBinaryDigits(static_cast<int32_t>(ReadDecimal(text, kBitTextLength)))) {
        RefuseText(request, "is not four binary digits (0 and 1)");
        return kFailed;
    }
    value->text = text;
    value->textLength = kBitTextLength;
    return kOk;
}

int32_t ReadByteValue(DriverRequest* request, MessageValue* value) {
    if (ExceedsByte(request)) {
        RefuseNumber(request, kLargestByte);
        return kFailed;
    }
    return FormatHexByte(value->hexByte, GateNumber(request));
}

int32_t ReadNothing(DriverRequest*, MessageValue*) {
    return kOk;
}

int32_t ReadLoadText(DriverRequest* request, MessageValue* value) {
    const char* text = GateText(request);
    const int32_t length = static_cast<int32_t>(BoundedLength(text, kLargestTwoDigitValue));
    if (length > kLargestTwoDigitValue) {
        RefuseText(request, "is longer than 99 characters: the switcher's count field has two digits");
        return kFailed;
    }
    value->text = text;
    value->textLength = length;
    FormatTwoDigits(value->twoDigits, length);
    return kOk;
}

int32_t ReadTwoDigitNumber(DriverRequest* request, MessageValue* value) {
    const int32_t number = GateNumber(request);
    if (number > kLargestTwoDigitValue) {
        RefuseNumber(request, kLargestTwoDigitValue);
        return kFailed;
    }
    FormatTwoDigits(value->twoDigits, number);
    return kOk;
}

// Indexed by ValueRule.
constexpr ValueReader kValueReaders[] = {
    ReadNothing, ReadHashValue, ReadByteValue, ReadBitText, ReadLoadText, ReadTwoDigitNumber,
};
static_assert(sizeof kValueReaders / sizeof kValueReaders[0] == static_cast<size_t>(ValueRule::kTwoDigits) + 1,
              "each value rule needs its reader, at its own index");

// Puts characters into a message buffer, never past its end; room for the
// checksum digit and the CR is kept back.
struct MessageWriter {
    char* buffer;
    int32_t capacity;
    int32_t length;

    void Put(const char* text, int32_t count) {
        for (int32_t i = 0; i < count && length + 2 < capacity; ++i) {
            buffer[length++] = text[i];
        }
    }
};

// Where a field's characters come from.
const char* FieldSource(char field, const DriverContext* context, const MessageValue& value) {
    switch (field) {
        case 'A':
            return context->addrA;
        case 'B':
            return context->addrB;
        case 'C':
            return context->addrC;
        case 'D':
            return context->addrD;
        case 'd':
            return &value.digit;
        case 'x':
            return value.hexByte;
        case 'n':
            return value.twoDigits;
        default:  // 'b' and 't'
            return value.text;
    }
}

void PutField(MessageWriter& writer, char field, const DriverContext* context, const MessageValue& value) {
    writer.Put(FieldSource(field, context, value), field == 't' ? value.textLength : FieldWidth(field));
}

// The checksum covers everything after the command character.
void FinishMessage(MessageWriter& writer) {
    const int32_t checksum = ChecksumDigit(writer.buffer + 1, writer.length - 1);
    AppendHexDigit(writer.buffer, writer.length, checksum);
    writer.buffer[writer.length + 1] = kCarriageReturn;
    writer.length += 2;
}

template <size_t N>
int32_t BuildHashVariant(const DriverContext* context, char letter, char (&variant)[N]) {
    static_assert(N > static_cast<size_t>(kHashMessageLength));
    std::memcpy(variant, context->commandBuffer, kHashMessageLength);
    variant[kHashDigitPosition] = letter;
    AppendHexDigit(variant, kHashDigitPosition + 1, ChecksumDigit(variant + 1, kHashDigitPosition));
    variant[kHashDigitPosition + 2] = kCarriageReturn;
    return kHashMessageLength;
}

}  // namespace

int32_t BuildCommand(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    const GateKindFacts* facts = FindGateKind(context->commandKind);
    const MessageLayout* layout = facts != nullptr && facts->layout.pattern != nullptr ? &facts->layout : nullptr;
    MessageValue value;
    if (layout == nullptr) {
        TraceReason(&context->trace, "gate kind %u has no message of its own",
                    static_cast<unsigned>(context->commandKind));
        return kFailed;
    }
    if (kValueReaders[static_cast<size_t>(layout->value)](request, &value) != kOk) {
        return kFailed;
    }
    MessageWriter writer{context->commandBuffer, static_cast<int32_t>(sizeof context->commandBuffer), 0};
    for (const char* p = layout->pattern; *p != '\0'; ++p) {
        if (*p == '%' && p[1] != '\0') {
            ++p;
            PutField(writer, *p, context, value);
        } else {
            writer.Put(p, 1);
        }
    }
    FinishMessage(writer);
    context->commandLength = static_cast<uint8_t>(writer.length);
    return kOk;
}

int32_t SelectBank(DriverRequest* request, int32_t number) {
    if (number < 0 || number > kLargestHashValue) {
        return kFailed;
    }
    DriverContext* context = ContextOf(request);
    context->letterDigitFlag = 0;
    context->bank = number < kBankSize ? 1 : 2;
    const int32_t digit = number < kBankSize ? number : number - kBankSize;
    if (digit >= kFirstLetterDigit) {
        context->letterDigitFlag = 1;
        context->letterDigit = kHexDigits[digit];
    }
    SetGateNumber(request, static_cast<uint16_t>(digit));
    return kOk;
}

bool HasOnlyBinaryDigits(int32_t value) {
    if (value < 0) {
        return false;
    }
    for (; value > 9; value /= 10) {
        if (value % 10 > 1) {
            return false;
        }
    }
    return value <= 1;
}

bool ExceedsByte(DriverRequest* request) {
    return GateNumber(request) > kLargestByte;
}

int32_t FormatHexByte(char* output, int32_t value) {
    if (value < 0 || value > kLargestByte) {
        return kFailed;
    }
    output[0] = kHexDigits[value >> 4];
    output[1] = kHexDigits[value & 0xF];
    output[2] = '\0';
    return kOk;
}

void AppendHexDigit(char* buffer, int32_t position, int32_t value) {
    buffer[position] = kHexDigits[value & 0xF];
    buffer[position + 1] = '\0';
}

int32_t ChecksumDigit(const char* text, int32_t count) {
    int32_t sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        // Bytes from 0x80 count as negative and so take the first rule.
        const int32_t code = static_cast<signed char>(text[i]);
        if (code < 0x41) {
            sum ^= code - 0x30;
        } else if (code < 0x61) {
            sum ^= code - 0x37;
        } else {
            sum ^= code - 0x57;
        }
    }
    return (sum & 0xF) ^ 0xF;
}

void BuildPrefaceCommand(DriverContext* context) {
    context->prefaceLength = BuildHashVariant(context, 'D', context->prefaceCommand);
}

void BuildTrailerCommand(DriverContext* context) {
    context->trailerLength = BuildHashVariant(context, 'F', context->trailerCommand);
}
