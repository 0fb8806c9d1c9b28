// Link I/O: one message out with its closing CR, one timed read in, and the
// traffic echoed into the host gates "OUTGOING" and "INCOMING".
#pragma once

#include <cstdint>

#include "context/context.h"

// The longest message LinkSend takes; the transmission adds its CR.
constexpr int32_t kLinkMessageLimit = 1000;

int32_t LinkSend(DriverContext* context, const char* bytes, int32_t length);
int32_t LinkReceive(DriverContext* context, char* buffer, int32_t max);
int32_t LinkReceiveFixed(DriverContext* context, char* buffer, int32_t n);
// Needs room for the marker behind the text's first CR (8 characters more).
void MarkLineEnd(char* text);
