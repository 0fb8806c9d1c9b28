// Gate addresses: the rules that turn a gate's address and format into its
// command kind and the address groups that go on the wire.
#include "protocol/address_parser.h"

#include <cstring>

#include "context/text.h"

namespace {

// Shapes accepted on a numeric gate that stand for no command of their own.
constexpr int32_t kNoKind = -1;

// REQ_REGISTER_GATE gives 0 and 1 their own meaning: the named addresses
// against everything else, accepted or not.
constexpr int32_t kNamedAddress = 0;
constexpr int32_t kOtherAddress = 1;

// In a rule's lead, this stands for any one character.
constexpr char kAnyCharacter = '?';

enum class Group : uint8_t { kNone, kA, kB, kC, kD };

// Characters of the address (positions from 1) that go into one group.
struct GroupCut {
    Group group;
    int32_t position;
    int32_t count;
};

// An address matches when it is exactly `lead` followed by `hexCount` hex
// digits. A rule without hex digits is a named address.
struct AddressRule {
    uint32_t format;
    const char* lead;
    int32_t hexCount;
    int32_t kind;
    GroupCut cuts[3];
};

// Tried in this order; the first match decides. "BP" with anything but eight
// hex digits falls through to rules that cannot match it ("P" is no hex
// digit), so it ends rejected.
constexpr AddressRule kRules[] = {
    {GATE_FORMAT_NUMERIC, "M", 4, KIND_M, {{Group::kC, 2, 4}}},
    {GATE_FORMAT_NUMERIC, "ACK", 0, KIND_ACK, {}},
    {GATE_FORMAT_NUMERIC, "GET_STR_FROM_FILE", 0, KIND_FILE, {}},
    {GATE_FORMAT_NUMERIC, "BP", 8, KIND_BANG_BYTE, {{Group::kA, 3, 2}, {Group::kB, 5, 2}, {Group::kC, 7, 4}}},
    {GATE_FORMAT_NUMERIC, "", 4, KIND_HASH, {{Group::kA, 1, 2}, {Group::kB, 3, 2}}},
    {GATE_FORMAT_NUMERIC, "M", 10, kNoKind, {}},
    {GATE_FORMAT_NUMERIC, "B", 10, kNoKind, {}},
    {GATE_FORMAT_NUMERIC, "B", 8, kNoKind, {}},
    {GATE_FORMAT_NUMERIC, "?", 4, KIND_HASH_MARKED, {{Group::kA, 2, 2}, {Group::kB, 4, 2}}},

    {GATE_FORMAT_STRING, "L", 2, KIND_L, {{Group::kD, 2, 2}}},
    {GATE_FORMAT_STRING, "R", 2, KIND_R, {{Group::kD, 2, 2}}},
    {GATE_FORMAT_STRING, "INCOMING", 0, KIND_INCOMING, {}},
    {GATE_FORMAT_STRING, "OUTGOING", 0, KIND_OUTGOING, {}},
    {GATE_FORMAT_STRING, "SEND_STR", 0, KIND_SEND_STR, {}},
    {GATE_FORMAT_STRING, "LINE_STATE", 0, KIND_LINE_STATE, {}},
    {GATE_FORMAT_STRING, "?", 4, KIND_BANG_BITS, {{Group::kA, 2, 2}, {Group::kB, 4, 2}}},
};

bool IsNamed(const AddressRule& rule) {
    return rule.hexCount == 0;
}

bool Matches(const AddressRule& rule, const char* address, size_t length) {
    const size_t leadLength = std::strlen(rule.lead);
    if (length != leadLength + static_cast<size_t>(rule.hexCount)) {
        return false;
    }
    for (size_t i = 0; i < leadLength; ++i) {
        if (rule.lead[i] != kAnyCharacter && rule.lead[i] != address[i]) {
            return false;
        }
    }
    return IsHexText(address + leadLength, rule.hexCount);
}

template <size_t N>
void CutGroup(char (&group)[N], const char* address, const GroupCut& cut) {
    static_assert(N > 4, "every group holds at least four characters and the NUL");
    std::memcpy(group, address + cut.position - 1, static_cast<size_t>(cut.count));
    group[cut.count] = '\0';
}

void ApplyRule(DriverContext* context, const AddressRule& rule) {
    if (rule.kind == kNoKind) {
        return;
    }
    context->commandKind = static_cast<uint32_t>(rule.kind);
    for (const GroupCut& cut : rule.cuts) {
        switch (cut.group) {
            case Group::kA:
                CutGroup(context->addrA, context->gateAddress, cut);
                break;
            case Group::kB:
                CutGroup(context->addrB, context->gateAddress, cut);
                break;
            case Group::kC:
                CutGroup(context->addrC, context->gateAddress, cut);
                break;
            case Group::kD:
                CutGroup(context->addrD, context->gateAddress, cut);
                break;
            case Group::kNone:
                break;
        }
    }
}

// Classifies the address already copied into gateAddress; null when no rule
// of the format matches. A matching rule has been applied to the context.
const AddressRule* Classify(DriverContext* context, uint32_t format) {
    const char* address = context->gateAddress;
    const size_t length = std::strlen(address);
    for (const AddressRule& rule : kRules) {
        if (rule.format == format && Matches(rule, address, length)) {
            ApplyRule(context, rule);
            return &rule;
        }
    }
    return nullptr;
}

}  // namespace

bool CopyGateAddress(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (context == nullptr) {
        return false;
    }
    // GateAccess and GateRegistration both keep the address in their first word.
    const char* const* addressWord = static_cast<const char* const*>(request->data);
    const char* address = addressWord != nullptr ? *addressWord : nullptr;
    if (address == nullptr) {
        context->gateAddress[0] = '\0';
        return true;
    }
    const size_t copied = CopyText(context->gateAddress, address);
    return address[copied] == '\0';
}

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool IsHexText(const char* text, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        if (!IsUpperHexDigit(text[i])) {
            return false;
        }
    }
    return true;
}

namespace {

// The rule that accepted the request's address, null when it was rejected.
const AddressRule* ParseAccess(DriverRequest* request) {
    // An address cut to fit gateAddress matches no rule, but is refused
    // outright so that its cut form can never be taken for it.
    const bool whole = CopyGateAddress(request);
    const GateAccess* access = DataOf<GateAccess>(request);
    if (!whole || access == nullptr) {
        return nullptr;
    }
    return Classify(ContextOf(request), access->format);
}

}  // namespace

int32_t ParseGateAddress(DriverRequest* request) {
    return ParseAccess(request) != nullptr ? kOk : kFailed;
}

bool ParseGateKind(DriverRequest* request) {
    const AddressRule* rule = ParseAccess(request);
    return rule != nullptr && rule->kind != kNoKind;
}

int32_t RegisterGate(DriverRequest* request) {
    GateRegistration* registration = DataOf<GateRegistration>(request);
    if (registration == nullptr) {
        CopyGateAddress(request);
        return kOtherAddress;
    }
    registration->word7 = 255;
    registration->word8 = 16;
    registration->word4 = 0;
    registration->word5 = 0;
    const bool whole = CopyGateAddress(request);
    if (!whole) {
        return kOtherAddress;
    }
    const AddressRule* rule = Classify(ContextOf(request), registration->format);
    return rule != nullptr && IsNamed(*rule) ? kNamedAddress : kOtherAddress;
}
