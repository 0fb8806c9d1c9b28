// What the driver knows of each gate kind, one row each: the gate format it
// is found on, whether its requests go out on the line, which exchange runs
// them, whether a reply can confirm them, and how long its message is. The
// request handlers, the transaction and qelhost's list checker read it; the
// address rules and the message layouts are tables keyed by kind beside it.
#pragma once

#include <cstdint>

#include "context/context.h"

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

struct GateKindFacts {
    CommandKind kind;
    const char* name;  // as summaries and reports show it
    uint32_t format;   // GATE_FORMAT_NUMERIC or GATE_FORMAT_STRING
    bool usesLine;     // its requests go out on the line
    Exchange exchange;
    bool replyConfirms;     // the switcher's reply is judged and can confirm it
    bool replyIsText;       // "R": the reply is the display's text
    bool marked;            // a marked "#": two runs, and a trailer in bank 2
    char lead;              // its message's first character, 0 for none
    int32_t messageLength;  // characters before the CR, without an "L" text
    bool textFollows;       // the message carries a text of its own length
};

// The row of a kind; null for a number no kind has.
const GateKindFacts* FindGateKind(uint32_t kind);
// The rows in kind order, for readers that go by a message's first character.
const GateKindFacts* GateKindRows(int32_t* count);
