// REQ_UPDATE_GATE and REQ_WRITE_GATE: the gate's address is classified, its
// value turned into the command of its kind, and the exchange run.
#include "protocol/gate_requests.h"

#include <cstdio>
#include <cstring>

#include "cmdlist/command_list.h"
#include "context/text.h"
#include "link/port.h"
#include "protocol/address_parser.h"
#include "protocol/command_encoder.h"
#include "protocol/gate_kinds.h"
#include "protocol/gate_value.h"
#include "protocol/transaction.h"

namespace {

bool HasLowerHexLetter(const char* text) {
    for (; *text != '\0'; ++text) {
        if (*text >= 'a' && *text <= 'f') {
            return true;
        }
    }
    return false;
}

// Why the gate's address names no command, for the trace.
void RefuseAddress(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    const GateAccess* access = DataOf<GateAccess>(request);
    if (context == nullptr || access == nullptr || !TraceIsOn(&context->trace)) {
        return;
    }
    if (access->address == nullptr) {
        TraceReason(&context->trace, "the gate has no address");
        return;
    }
    const size_t longest = sizeof context->gateAddress - 1;
    if (BoundedLength(access->address, longest) > longest) {
        TraceReason(&context->trace, "address longer than %u characters", static_cast<unsigned>(longest));
        return;
    }
    char shown[sizeof context->gateAddress * 4];
    VisibleBytes(shown, sizeof shown, context->gateAddress, std::strlen(context->gateAddress));
    char format[24];
    if (access->format == GATE_FORMAT_NUMERIC || access->format == GATE_FORMAT_STRING) {
        std::snprintf(format, sizeof format, "%s", access->format == GATE_FORMAT_NUMERIC ? "numeric" : "string");
    } else {
        std::snprintf(format, sizeof format, "format %u", static_cast<unsigned>(access->format));
    }
    TraceReason(&context->trace, "address %s not recognised for a %s gate%s", shown, format,
                HasLowerHexLetter(context->gateAddress) ? " (hex digits are upper-case)" : "");
}

int32_t RunOnce(DriverRequest* request) {
    return RunTransaction(request) == kFailed ? kFailed : kOk;
}

// A list command goes out as its text alone; commandLength has eight bits.
int32_t RunListCommand(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (FindCommand(GateNumber(request), context->commandBuffer, sizeof context->commandBuffer, &context->trace,
                    context->clientId) != kOk) {
        return kFailed;
    }
    const size_t length = BoundedLength(context->commandBuffer, sizeof context->commandBuffer - 1);
    if (length > UINT8_MAX) {
        TraceReason(&context->trace, "list command longer than %d characters", UINT8_MAX);
        return kFailed;
    }
    context->commandLength = static_cast<uint8_t>(length);
    return RunOnce(request);
}

// Runs the command of the context's kind. `reducedNumber` tells whether the
// encoder took 16 off the gate's number in this request (bank 2).
int32_t RunGateCommand(DriverRequest* request, bool* reducedNumber) {
    DriverContext* context = ContextOf(request);
    *reducedNumber = false;
    const GateKindFacts* facts = FindGateKind(context->commandKind);
    if (facts == nullptr) {
        TraceReason(&context->trace, "gate kind %u is not one the driver serves",
                    static_cast<unsigned>(context->commandKind));
        return kFailed;
    }
    if (facts->usesLine) {
        // Every kind that goes out on the line reads the value, or for "R"
        // writes its text there: without a value area nothing is sent.
        if (GateValueOf(request) == nullptr) {
            TraceReason(&context->trace, "the host gave the gate no value area: nothing sent");
            return kFailed;
        }
        ReviveLostPort(context);
    }
    switch (facts->exchange) {
        case Exchange::kListCommand:
            return RunListCommand(request);
        case Exchange::kFreeText:
            return SendGateText(context, GateText(request));
        case Exchange::kNone:
            return kOk;
        case Exchange::kHash:
        case Exchange::kBangByte:
        case Exchange::kBangBits:
        case Exchange::kPreamble:
            break;
    }
    if (BuildCommand(request) != kOk) {
        return kFailed;
    }
    // For the "#" kinds a built message means SelectBank accepted this very
    // value, so bank is this request's choice, not an earlier write's.
    *reducedNumber = facts->exchange == Exchange::kHash && context->bank == 2;
    if (RunOnce(request) == kFailed) {
        return kFailed;
    }
    // A marked "#" command is run twice on the same message.
    if (facts->marked) {
        TraceRun(&context->trace, 2, 2);
        return RunOnce(request);
    }
    return kOk;
}

}  // namespace

int32_t SendGateCommand(DriverRequest* request) {
    bool reducedNumber = false;
    return RunGateCommand(request, &reducedNumber);
}

int32_t UpdateGate(DriverRequest* request) {
    // Only an address that names a kind describes this gate: after any
    // other, the context still holds an earlier gate's command.
    if (!ParseGateKind(request)) {
        RefuseAddress(request);
        return kFailed;
    }
    // An update reads the switcher's display into the gate: only a kind
    // whose reply is that text has one.
    if (!FindGateKind(ContextOf(request)->commandKind)->replyIsText) {
        TraceReason(&ContextOf(request)->trace, "only \"R\" gates can be updated");
        return kFailed;
    }
    const int32_t result = SendGateCommand(request);
    NoteLostPort(ContextOf(request));
    return result;
}

int32_t WriteGate(DriverRequest* request) {
    if (!ParseGateKind(request)) {
        RefuseAddress(request);
        return kFailed;
    }
    bool reducedNumber = false;
    const int32_t result = RunGateCommand(request, &reducedNumber);
    NoteLostPort(ContextOf(request));
    // The host reads back the value it wrote, whatever the exchange gave.
    if (reducedNumber) {
        SetGateNumber(request, static_cast<uint16_t>(GateNumber(request) + kBankSize));
    }
    return result;
}
