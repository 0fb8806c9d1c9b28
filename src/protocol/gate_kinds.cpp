// The gate kind table's checks, made as it compiles, and its look-ups.
#include "protocol/gate_kinds.h"

namespace {

constexpr bool EveryRowAtItsKind() {
    for (int32_t i = 0; i < kGateKindCount; ++i) {
        if (kGateKinds[i].kind != static_cast<uint32_t>(i)) {
            return false;
        }
    }
    return kGateKindCount == KIND_LINE_STATE + 1;
}
static_assert(EveryRowAtItsKind(), "each gate kind needs its row in kGateKinds, at its own index");

// Every field names one the encoder knows, the message starts with a
// character of its own, and "%t" comes only after the "%n" that counts it.
constexpr bool LayoutIsWellFormed(const MessageLayout& layout) {
    const char* p = layout.pattern;
    if (p == nullptr) {
        return layout.value == ValueRule::kNone;
    }
    if (p[0] == '\0' || p[0] == kFieldMark) {
        return false;
    }
    bool counted = false;
    for (; *p != '\0'; ++p) {
        if (*p != kFieldMark) {
            continue;
        }
        ++p;
        if (FieldWidth(*p) < 0 || (*p == 't' && !counted)) {
            return false;
        }
        counted = counted || *p == 'n';
    }
    return true;
}

// A kind with a message sends it on the line; one without has no value to
// read for it.
constexpr bool EveryLayoutWellFormed() {
    for (const GateKindFacts& facts : kGateKinds) {
        if (!LayoutIsWellFormed(facts.layout) || (facts.layout.pattern != nullptr && !facts.usesLine)) {
            return false;
        }
    }
    return true;
}
static_assert(EveryLayoutWellFormed(), "a message layout names a field the encoder does not know");

// A cut takes characters the address has, after its lead, into a group of
// at most four.
constexpr bool EveryCutWithinItsAddress() {
    for (const GateKindFacts& facts : kGateKinds) {
        int32_t leadLength = 0;
        while (facts.address.lead[leadLength] != '\0') {
            ++leadLength;
        }
        for (const GroupCut& cut : facts.address.cuts) {
            if (cut.group != AddressGroup::kNone &&
                (cut.position <= leadLength || cut.count > 4 ||
                 cut.position + cut.count - 1 > leadLength + facts.address.hexCount)) {
                return false;
            }
        }
    }
    return true;
}
static_assert(EveryCutWithinItsAddress(), "an address rule cuts characters its address does not have");

}  // namespace

const GateKindFacts* FindGateKind(uint32_t kind) {
    return kind < static_cast<uint32_t>(kGateKindCount) ? &kGateKinds[kind] : nullptr;
}

const GateKindFacts* GateKindRows(int32_t* count) {
    *count = kGateKindCount;
    return kGateKinds;
}
