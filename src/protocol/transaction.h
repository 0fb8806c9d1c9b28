// The send-wait-judge sequence of each command kind.
#pragma once

#include <cstdint>

#include "context/context.h"

enum ReplyClass : int32_t {
    REPLY_ACCEPTED = 0,
    REPLY_REFUSED = 1,
    REPLY_UNRECOGNISED = 2,
    REPLY_ACCEPTED_STX = 3,
};

constexpr uint32_t kShortWaitMs = 80;
constexpr uint32_t kLongWaitMs = 1000;

// Judges the first six bytes of a reply: "*", two hex digits in capitals,
// CR and LF is accepted (REPLY_ACCEPTED_STX when an STX follows); a "?" start
// is refused; anything else unrecognised.
ReplyClass ClassifyReply(const char* buffer);
// Runs the exchange of the context's command kind, its message already in
// commandBuffer. 0 when the kind's rules count the command taken; 1 on a
// refusal, a failed send, a "#" command before the driver is ready, or a
// kind without an exchange.
int32_t RunTransaction(DriverRequest* request);
// Sends a host text as it stands and reads a long reply without judging it:
// 0 when the text went out, 1 when it is longer than kLinkMessageLimit or the
// send failed.
int32_t SendGateText(DriverContext* context, const char* text);
