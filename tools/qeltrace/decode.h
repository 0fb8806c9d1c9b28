// What a message on the line and a reply to it mean, read by the driver's own
// message layouts and gate kind table: "#010259<CR><CR>" is "crosspoint 0102,
// bank 1 = 5", "*01<CR><LF>" is "accepted".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "trace_reader.h"

namespace qeltrace {

// What the earlier lines of the same request tell about the next message or
// reply. DecodeTransmission and DecodeReply keep it up to date.
struct ExchangeState {
    bool listCommand = false;   // a LIST line named the command: its answer is not judged
    bool freeText = false;      // the host's text as it stands (a SEND_STR gate)
    bool afterPreface = false;  // a bank-2 preface went out: the next "#" digit is in bank 2
    bool readsText = false;     // an "R" went out: its reply is the display's text
    bool afterPreamble = false;
};

// The meaning of a message sent.
std::string DecodeTransmission(std::string_view bytes, ExchangeState* state);
// The meaning of a reply read: `judged` is the driver's word on it (accepted,
// refused, unrecognised, not judged, none).
std::string DecodeReply(std::string_view bytes, std::string_view judged, ExchangeState* state);

// The meaning of one line of a request: a request line starts a new
// exchange, a LIST line marks a list command, TX and RX lines are decoded;
// empty for every other line.
std::string LineMeaning(const qeltools::TraceLine& line, ExchangeState* state);

// A request's lines as the trace wrote them, each TX and RX line followed by
// an indented line with its meaning.
std::string WithMeanings(const std::vector<std::string>& lines);

// An "R" reply as the gate receives it: the text without its checksum digit,
// its CR and what follows.
std::string DisplayText(std::string_view reply);

}  // namespace qeltrace
