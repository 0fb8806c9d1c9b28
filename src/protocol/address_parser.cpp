// Gate addresses: the rules that turn a gate's address and format into its
// command kind and the address groups that go on the wire.
#include "protocol/address_parser.h"

#include <cstring>

#include "context/text.h"
#include "protocol/gate_kinds.h"

namespace {

// REQ_REGISTER_GATE gives 0 and 1 their own meaning: the named addresses
// against everything else, accepted or not.
constexpr int32_t kNamedAddress = 0;
constexpr int32_t kOtherAddress = 1;

// Shapes accepted on a numeric gate that stand for no command of their own.
// "BP" with anything but eight hex digits matches neither these nor a
// kind's rule ("P" is no hex digit), so it ends rejected.
constexpr AddressRule kShapesWithoutKind[] = {
    {"M", 10, {}},
    {"B", 10, {}},
    {"B", 8, {}},
};

// The rule an address matched, and the kind it names (null for a shape
// that names none).
struct AddressMatch {
    const AddressRule* rule;
    const GateKindFacts* kind;
};

bool IsNamed(const AddressRule& rule) {
    return rule.hexCount == 0;
}

bool LeadIsSpelledOut(const AddressRule& rule) {
    return rule.lead[0] != kAnyCharacter;
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

void ApplyKind(DriverContext* context, const GateKindFacts& kind) {
    context->commandKind = kind.kind;
    for (const GroupCut& cut : kind.address.cuts) {
        switch (cut.group) {
            case AddressGroup::kA:
                CutGroup(context->addrA, context->gateAddress, cut);
                break;
            case AddressGroup::kB:
                CutGroup(context->addrB, context->gateAddress, cut);
                break;
            case AddressGroup::kC:
                CutGroup(context->addrC, context->gateAddress, cut);
                break;
            case AddressGroup::kD:
                CutGroup(context->addrD, context->gateAddress, cut);
                break;
            case AddressGroup::kNone:
                break;
        }
    }
}

// The kind of the format whose rule matches, those with a spelled-out lead
// tried before those led by any character.
const GateKindFacts* MatchKind(const char* address, size_t length, uint32_t format, bool spelledOut) {
    for (const GateKindFacts& kind : kGateKinds) {
        if (kind.format == format && LeadIsSpelledOut(kind.address) == spelledOut &&
            Matches(kind.address, address, length)) {
            return &kind;
        }
    }
    return nullptr;
}

// Classifies the address already copied into gateAddress; no rule when none
// of the format matches. A kind's rule that matched has been applied to the
// context.
AddressMatch Classify(DriverContext* context, uint32_t format) {
    const char* address = context->gateAddress;
    const size_t length = std::strlen(address);
    const GateKindFacts* kind = MatchKind(address, length, format, true);
    if (kind == nullptr && format == GATE_FORMAT_NUMERIC) {
        for (const AddressRule& shape : kShapesWithoutKind) {
            if (Matches(shape, address, length)) {
                return {&shape, nullptr};
            }
        }
    }
    if (kind == nullptr) {
        kind = MatchKind(address, length, format, false);
    }
    if (kind == nullptr) {
        return {nullptr, nullptr};
    }
    ApplyKind(context, *kind);
    return {&kind->address, kind};
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

// The rule that accepted the request's address, none when it was rejected.
AddressMatch ParseAccess(DriverRequest* request) {
    // An address cut to fit gateAddress matches no rule, but is refused
    // outright so that its cut form can never be taken for it.
    const bool whole = CopyGateAddress(request);
    const GateAccess* access = DataOf<GateAccess>(request);
    if (!whole || access == nullptr) {
        return {nullptr, nullptr};
    }
    return Classify(ContextOf(request), access->format);
}

}  // namespace

int32_t ParseGateAddress(DriverRequest* request) {
    return ParseAccess(request).rule != nullptr ? kOk : kFailed;
}

bool ParseGateKind(DriverRequest* request) {
    return ParseAccess(request).kind != nullptr;
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
    const AddressRule* rule = Classify(ContextOf(request), registration->format).rule;
    return rule != nullptr && IsNamed(*rule) ? kNamedAddress : kOtherAddress;
}
