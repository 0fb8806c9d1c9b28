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

ReplyClass ClassifyReply(const char* buffer);
int32_t RunTransaction(DriverRequest* request);
int32_t SendGateText(DriverContext* context, const char* text);
