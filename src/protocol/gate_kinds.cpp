// The gate kind table.
#include "protocol/gate_kinds.h"

namespace {

using enum Exchange;
constexpr uint32_t kNumeric = GATE_FORMAT_NUMERIC;
constexpr uint32_t kString = GATE_FORMAT_STRING;

// Indexed by kind.
constexpr GateKindFacts kKinds[] = {
    {KIND_HASH, "#", kNumeric, true, kHash, true, false, false, '#', 7, false},
    {KIND_HASH_MARKED, "marked #", kNumeric, true, kHash, true, false, true, '#', 7, false},
    {KIND_BANG_BYTE, "! byte", kNumeric, true, kBangByte, true, false, false, '!', 13, false},
    {KIND_BANG_BITS, "! bits", kString, true, kBangBits, true, false, false, '!', 13, false},
    {KIND_OUTGOING, "OUTGOING", kString, false, kNone, false, false, false, 0, 0, false},
    {KIND_INCOMING, "INCOMING", kString, false, kNone, false, false, false, 0, 0, false},
    {KIND_SEND_STR, "SEND_STR", kString, true, kFreeText, false, false, false, 0, 0, false},
    {KIND_ACK, "ACK", kNumeric, false, kNone, false, false, false, 0, 0, false},
    {KIND_R, "R", kString, true, kPreamble, true, true, false, 'R', 4, false},
    {KIND_L, "L", kString, true, kPreamble, true, false, false, 'L', 6, true},
    {KIND_M, "M", kNumeric, true, kPreamble, true, false, false, 'M', 10, false},
    {KIND_FILE, "list", kNumeric, true, kListCommand, false, false, false, 0, 0, false},
    {KIND_LINE_STATE, "LINE_STATE", kString, false, kNone, false, false, false, 0, 0, false},
};
constexpr int32_t kKindCount = static_cast<int32_t>(sizeof kKinds / sizeof kKinds[0]);

constexpr bool EveryRowAtItsKind() {
    for (int32_t i = 0; i < kKindCount; ++i) {
        if (kKinds[i].kind != static_cast<uint32_t>(i)) {
            return false;
        }
    }
    return kKindCount == KIND_LINE_STATE + 1;
}
static_assert(EveryRowAtItsKind(), "each gate kind needs its row in kKinds, at its own index");

}  // namespace

const GateKindFacts* FindGateKind(uint32_t kind) {
    return kind < static_cast<uint32_t>(kKindCount) ? &kKinds[kind] : nullptr;
}

const GateKindFacts* GateKindRows(int32_t* count) {
    *count = kKindCount;
    return kKinds;
}
