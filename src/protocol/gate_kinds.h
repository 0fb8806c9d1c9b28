// What the driver knows of each gate kind, one row each: the gate format it
// is found on, the address rule that names it, whether its requests go out
// on the line, which exchange runs them, whether a reply can confirm them,
// and its message layout. The address parser, the encoder, the request
// handlers, the transaction, qelhost's list checker and qeltrace all read
// this row; a message's first character and length come from its layout.
#pragma once

#include <cstdint>

#include "context/context.h"

// The gate kinds, each its row's index in kGateKinds.
enum CommandKind : uint32_t {
    KIND_HASH = 0,
    KIND_HASH_MARKED = 1,
    KIND_BANG_BYTE = 2,
    KIND_BANG_BITS = 3,
    KIND_OUTGOING = 4,
    KIND_INCOMING = 5,
    KIND_SEND_STR = 6,
    KIND_ACK = 7,
    KIND_R = 8,
    KIND_L = 9,
    KIND_M = 10,
    KIND_FILE = 11,
    KIND_LINE_STATE = 12,
};

// How a gate kind's request meets the switcher.
enum class Exchange : uint8_t {
    kNone,         // answered at once, nothing on the line
    kHash,         // a "#" message, bank 1 or bank 2 with its preface
    kBangByte,     // a "!" message with a byte, one short reply
    kBangBits,     // a "!" message with bits, its reply as "#" bank 1
    kPreamble,     // "P" first, then the message and one long reply
    kListCommand,  // a command of the list file, its answer not judged
    kFreeText,     // the host's text as it stands, its answer not judged
};

// The context's address groups, which a message's fields carry.
enum class AddressGroup : uint8_t { kNone, kA, kB, kC, kD };

// Characters of the address (positions from 1) that go into one group.
struct GroupCut {
    AddressGroup group;
    int32_t position;
    int32_t count;
};

// In a rule's lead, this stands for any one character. Such a rule is tried
// after every rule of its format whose lead is spelled out.
constexpr char kAnyCharacter = '?';

// An address matches when it is exactly `lead` followed by `hexCount` hex
// digits. A rule without hex digits is a named address.
struct AddressRule {
    const char* lead;
    int32_t hexCount;
    GroupCut cuts[3];
};

// What a message takes from the gate's value, checked before anything of
// the message is written.
enum class ValueRule : uint8_t {
    kNone,        // nothing
    kHashNumber,  // 0-30: its bank and the "#" digit
    kByte,        // 0-255
    kBitText,     // four characters, binary digits
    kLoadText,    // a text of at most 99 characters, and its length
    kTwoDigits,   // 0-99
};

// A pattern spells the message up to its checksum digit, which with the CR
// follows every message: "%A" "%B" "%D" the first two characters of addrA,
// addrB, addrD; "%C" the first four of addrC; "%d" the "#" digit; "%x" the
// byte as two hex digits; "%n" the two-digit value or text length; "%b" the
// four bit characters; "%t" the text, as long as "%n" says. Everything else
// goes out as it stands. A null pattern: the kind has no message of its own.
struct MessageLayout {
    const char* pattern;
    ValueRule value;
};

constexpr char kFieldMark = '%';

// The characters a field puts into a message; 0 for "%t", whose length is
// the text's own; -1 for a letter that names no field.
constexpr int32_t FieldWidth(char field) {
    switch (field) {
        case 'A':
        case 'B':
        case 'D':
        case 'x':
        case 'n':
            return 2;
        case 'C':
        case 'b':
            return 4;
        case 'd':
            return 1;
        case 't':
            return 0;
        default:
            return -1;
    }
}

struct GateKindFacts {
    CommandKind kind;
    const char* name;  // as summaries and reports show it
    uint32_t format;   // GATE_FORMAT_NUMERIC or GATE_FORMAT_STRING
    AddressRule address;
    bool usesLine;  // its requests go out on the line
    Exchange exchange;
    bool replyConfirms;  // the switcher's reply is judged and can confirm it
    bool replyIsText;    // "R": the reply is the display's text
    bool marked;         // a marked "#": two runs, and a trailer in bank 2
    MessageLayout layout;
};

// A message's first character; 0 for a kind without a message.
constexpr char MessageLead(const GateKindFacts& facts) {
    return facts.layout.pattern != nullptr ? facts.layout.pattern[0] : '\0';
}

// Whether the message carries a text of its own length.
constexpr bool TextFollows(const GateKindFacts& facts) {
    for (const char* p = facts.layout.pattern; p != nullptr && *p != '\0'; ++p) {
        if (p[0] == kFieldMark && p[1] == 't') {
            return true;
        }
    }
    return false;
}

// Characters before the CR, the checksum digit among them, without a text
// that follows; 0 for a kind without a message.
constexpr int32_t MessageLength(const GateKindFacts& facts) {
    const char* p = facts.layout.pattern;
    if (p == nullptr) {
        return 0;
    }
    int32_t length = 1;  // the checksum digit
    for (; *p != '\0'; ++p) {
        if (p[0] == kFieldMark && p[1] != '\0') {
            ++p;
            length += FieldWidth(*p);
        } else {
            ++length;
        }
    }
    return length;
}

// The place (from 0) of a field's first character in the message; -1 when
// the layout has no such field.
constexpr int32_t FieldOffset(const GateKindFacts& facts, char field) {
    int32_t offset = 0;
    for (const char* p = facts.layout.pattern; p != nullptr && *p != '\0'; ++p) {
        if (p[0] != kFieldMark || p[1] == '\0') {
            ++offset;
            continue;
        }
        ++p;
        if (*p == field) {
            return offset;
        }
        offset += FieldWidth(*p);
    }
    return -1;
}

// The rows, indexed by kind. A new gate kind is its number in CommandKind
// and its row here; only a new field letter or value rule needs the encoder
// too.
inline constexpr GateKindFacts kGateKinds[] = {
    {.kind = KIND_HASH,
     .name = "#",
     .format = GATE_FORMAT_NUMERIC,
     .address = {"", 4, {{AddressGroup::kA, 1, 2}, {AddressGroup::kB, 3, 2}}},
     .usesLine = true,
     .exchange = Exchange::kHash,
     .replyConfirms = true,
     .layout = {"#%A%B%d", ValueRule::kHashNumber}},
    {.kind = KIND_HASH_MARKED,
     .name = "marked #",
     .format = GATE_FORMAT_NUMERIC,
     .address = {"?", 4, {{AddressGroup::kA, 2, 2}, {AddressGroup::kB, 4, 2}}},
     .usesLine = true,
     .exchange = Exchange::kHash,
     .replyConfirms = true,
     .marked = true,
     .layout = {"#%A%B%d", ValueRule::kHashNumber}},
    {.kind = KIND_BANG_BYTE,
     .name = "! byte",
     .format = GATE_FORMAT_NUMERIC,
     .address = {"BP", 8, {{AddressGroup::kA, 3, 2}, {AddressGroup::kB, 5, 2}, {AddressGroup::kC, 7, 4}}},
     .usesLine = true,
     .exchange = Exchange::kBangByte,
     .replyConfirms = true,
     .layout = {"!%A%B%C%x1", ValueRule::kByte}},
    {.kind = KIND_BANG_BITS,
     .name = "! bits",
     .format = GATE_FORMAT_STRING,
     .address = {"?", 4, {{AddressGroup::kA, 2, 2}, {AddressGroup::kB, 4, 2}}},
     .usesLine = true,
     .exchange = Exchange::kBangBits,
     .replyConfirms = true,
     .layout = {"!%A%B00%b2", ValueRule::kBitText}},
    {.kind = KIND_OUTGOING, .name = "OUTGOING", .format = GATE_FORMAT_STRING, .address = {"OUTGOING", 0, {}}},
    {.kind = KIND_INCOMING, .name = "INCOMING", .format = GATE_FORMAT_STRING, .address = {"INCOMING", 0, {}}},
    {.kind = KIND_SEND_STR,
     .name = "SEND_STR",
     .format = GATE_FORMAT_STRING,
     .address = {"SEND_STR", 0, {}},
     .usesLine = true,
     .exchange = Exchange::kFreeText},
    {.kind = KIND_ACK, .name = "ACK", .format = GATE_FORMAT_NUMERIC, .address = {"ACK", 0, {}}},
    {.kind = KIND_R,
     .name = "R",
     .format = GATE_FORMAT_STRING,
     .address = {"R", 2, {{AddressGroup::kD, 2, 2}}},
     .usesLine = true,
     .exchange = Exchange::kPreamble,
     .replyConfirms = true,
     .replyIsText = true,
     .layout = {"R%D", ValueRule::kNone}},
    {.kind = KIND_L,
     .name = "L",
     .format = GATE_FORMAT_STRING,
     .address = {"L", 2, {{AddressGroup::kD, 2, 2}}},
     .usesLine = true,
     .exchange = Exchange::kPreamble,
     .replyConfirms = true,
     .layout = {"L%D%n%t", ValueRule::kLoadText}},
    {.kind = KIND_M,
     .name = "M",
     .format = GATE_FORMAT_NUMERIC,
     .address = {"M", 4, {{AddressGroup::kC, 2, 4}}},
     .usesLine = true,
     .exchange = Exchange::kPreamble,
     .replyConfirms = true,
     .layout = {"M%C01%n", ValueRule::kTwoDigits}},
    {.kind = KIND_FILE,
     .name = "list",
     .format = GATE_FORMAT_NUMERIC,
     .address = {"GET_STR_FROM_FILE", 0, {}},
     .usesLine = true,
     .exchange = Exchange::kListCommand},
    {.kind = KIND_LINE_STATE, .name = "LINE_STATE", .format = GATE_FORMAT_STRING, .address = {"LINE_STATE", 0, {}}},
};
inline constexpr int32_t kGateKindCount = static_cast<int32_t>(sizeof kGateKinds / sizeof kGateKinds[0]);

// The row of a kind; null for a number no kind has.
const GateKindFacts* FindGateKind(uint32_t kind);
// The rows in kind order, for readers that go by a message's first character.
const GateKindFacts* GateKindRows(int32_t* count);
