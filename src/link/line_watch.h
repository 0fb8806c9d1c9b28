// The line's health as the host sees it: every read after a transmission is
// counted, a switcher that stops answering is logged once and shown in the
// gate "LINE_STATE", and the trace gets the counters. Adds nothing to the
// line: no byte, no wait.
#pragma once

#include <cstdint>

#include "context/context.h"

constexpr const char* kLineStateGate = "LINE_STATE";

// Whether a read could confirm the request: the short replies and the "M",
// "L" and "R" replies can; the free text's, the list command's and the
// bank-2 preface's decide nothing.
enum class ReadVerdict : uint8_t { kDecidesNothing, kConfirms, kDoesNotConfirm };

// A start: the counters and the run of silent reads begin anew.
void WatchStart(DriverContext* context);
// The host gave the instance its client: the gate can be written from now on.
void WatchClientReady(DriverContext* context);
// A port was opened (start, open, reconfigure, reopen): OPEN, count anew.
void WatchOpened(DriverContext* context);
void WatchTransmission(DriverContext* context);
// A read that followed a transmission got `count` bytes (0: none).
void WatchRead(DriverContext* context, int32_t count, bool refused, ReadVerdict verdict);
// A try beyond the first of a message.
void WatchRetry(DriverContext* context);
void WatchLost(DriverContext* context);
void WatchReopened(DriverContext* context);

// Around every request: clears what the request noted, then at its end
// notes an unconfirmed 0, logs a silence that began or ended, and puts a
// changed state into "LINE_STATE" with the counters into the trace (at a
// stop, the counters always).
void WatchRequestStart(DriverRequest* request);
void WatchRequestEnd(DriverRequest* request, int32_t result);

// The gate's text of a state.
const char* LineStateText(LineState state);
