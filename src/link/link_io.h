// Link I/O: one message out with its closing CR, one timed read in, and the
// traffic echoed into the host gates "OUTGOING" and "INCOMING".
#pragma once

#include <cstdint>

#include "context/context.h"

// The longest message LinkSend takes; the transmission adds its CR.
constexpr int32_t kLinkMessageLimit = 1000;

// Purges the port's input, then writes the bytes and a CR as one
// transmission and echoes it into "OUTGOING". 0 when all of it went; 1 when
// `length` is outside 0..kLinkMessageLimit or the write failed or fell short.
int32_t LinkSend(DriverContext* context, const char* bytes, int32_t length);
// One timed read of up to `max` bytes. 0 when something came: replyLength is
// set and the reply, its line end marked, echoed into "INCOMING"; 1 when
// nothing came, with the context and the gates untouched.
int32_t LinkReceive(DriverContext* context, char* buffer, int32_t max);
// Fills the first 20 bytes of `buffer` (which holds at least that many) with
// '0', then reads up to `n` bytes; replyLength is what came. "INCOMING" gets
// what followed the line's echo of the transmission, up to its CR (empty when
// nothing did). Always 0: the caller judges the bytes.
int32_t LinkReceiveFixed(DriverContext* context, char* buffer, int32_t n);
// Replaces the text's first CR (and an LF behind it) by "<CR>" or
// "<CR><LF>". Needs room for the marker behind the CR (8 characters more).
void MarkLineEnd(char* text);
