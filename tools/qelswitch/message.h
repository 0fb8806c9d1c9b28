// One line from the driver, split into the fields of its kind and judged:
// layout first, then the checksum, then the fields themselves.
#pragma once

#include <string>
#include <string_view>

#include "visible.h"

namespace qelswitch {

enum class MessageKind {
    kHash,      // "#": crosspoint, two address groups and one digit
    kBits,      // "!" ending in "2": four bit characters
    kByte,      // "!" ending in "1": a byte as two hex digits
    kM,         // "M": a two-digit value under four hex digits
    kL,         // "L": a text for an address
    kR,         // "R": read back the text of an address
    kPreamble,  // "P" alone, sent ahead of "M", "L" and "R"
    kText,      // anything else: free text, as "SEND_STR" or the command list send it
};

struct Message {
    MessageKind kind = MessageKind::kText;
    bool valid = false;   // layout and checksum hold; free text is always valid
    std::string problem;  // why an invalid message is refused
    std::string line;     // as received, without its CR
    std::string addrA;    // "#", "!": positions 1-2
    std::string addrB;    // "#", "!": positions 3-4
    std::string addrC;    // "!" byte form: positions 5-8; "M": positions 1-4
    std::string addrD;    // "L", "R": positions 1-2
    char digit = 0;       // "#": position 5
    std::string bits;     // "!" bit form: positions 7-10, as sent
    std::string byte;     // "!" byte form: positions 9-10
    std::string level;    // "M": positions 7-8
    std::string text;     // "L": the text
};

// A line that begins with a command character is a protocol message and is
// held to its kind's layout; every other line is free text.
bool IsCommandCharacter(char character);
Message ParseMessage(std::string_view line);

// "L" carries its text length as two decimal digits: "0" and the digit below
// 10, both digits below 100, and the first two digits from 100 on.
std::string LengthField(size_t length);

// Bytes as a person reads them: <CR>, <LF>, <hh> (STX is <02>).
using qeltools::Visible;

}  // namespace qelswitch
