// The replies the switcher gives, in the forms the driver judges.
#pragma once

#include <string>

#include "message.h"
#include "switch_state.h"

namespace qelswitch {

// Refused: the driver looks at the "?" alone.
inline constexpr char kRefusedReply[] = "?\r\n";

// Five bytes that neither start with "*" nor with "?": the driver judges
// them unrecognised.
inline constexpr char kGarbageReply[] = "~X~\r\n";

// Accepted: "*", two upper-case hex digits, CR, LF. The digits repeat the
// two characters after the command character (the first address group of
// "#", "!", "L" and "R", the first half of the "M" address), "00" for the
// preamble and for free text.
std::string AcceptedReply(const Message& message);

// The answer to "R": the text, one checksum character over it, CR, LF. The
// driver drops the character ahead of the CR.
std::string ReadReply(const std::string& text);

// The answer to a valid message with no fault in the way.
std::string ReplyFor(const Message& message, const SwitchState& state);

}  // namespace qelswitch
