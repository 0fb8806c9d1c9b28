// The send-wait-judge sequence of each command kind: which messages go out
// in which order, the waits between them, the reads after them, how often a
// message is tried, and what the request is told.
#include "protocol/transaction.h"

#include <cstdio>
#include <cstring>

#include "context/text.h"
#include "host/host_library.h"
#include "link/line_watch.h"
#include "link/link_io.h"
#include "os/sleep.h"
#include "protocol/address_parser.h"
#include "protocol/command_encoder.h"
#include "protocol/gate_kinds.h"
#include "protocol/gate_value.h"

namespace {

constexpr char kStartOfText = 0x02;

// "P" and its CR: asks the switcher whether it will take a command.
constexpr char kPreamble[] = {'P', kCarriageReturn};
constexpr int32_t kPreambleLength = 2;

constexpr int32_t kHashTries = 3;
constexpr int32_t kShortReply = 5;
// "*", two hex digits, CR and LF.
constexpr int32_t kAcceptanceLineLength = 5;
constexpr int32_t kLongReply = 100;
constexpr size_t kClearedReplyBytes = 200;
// The reply text an "R" gate receives: at most this many characters and NUL.
constexpr size_t kReadTextLimit = 100;

static_assert(kClearedReplyBytes <= sizeof(DriverContext::replyBuffer));
static_assert(kLongReply < static_cast<int32_t>(kClearedReplyBytes), "a long reply must stay NUL-terminated");
static_assert(kLongReply + 6 <= static_cast<int32_t>(kClearedReplyBytes),
              "a reply judged behind a skipped line must have its six bytes cleared");

// The reply as the trace shows it, cut to fit.
constexpr size_t kShownReplySize = 80;

TraceReply Judged(ReplyClass reply, int32_t count) {
    if (count <= 0) {
        return TraceReply::kNone;
    }
    switch (reply) {
        case REPLY_ACCEPTED:
        case REPLY_ACCEPTED_STX:
            return TraceReply::kAccepted;
        case REPLY_REFUSED:
            return TraceReply::kRefused;
        default:
            return TraceReply::kUnrecognised;
    }
}

// Every read after a transmission goes into the trace and the line's watch.
void NoteRead(DriverContext* context, int32_t count, TraceReply judged, ReadVerdict verdict) {
    TraceRead(&context->trace, context->replyBuffer, count, judged);
    WatchRead(context, count, judged == TraceReply::kRefused, verdict);
}

ReadVerdict VerdictOf(TraceReply judged) {
    return judged == TraceReply::kAccepted ? ReadVerdict::kConfirms : ReadVerdict::kDoesNotConfirm;
}

// A read whose bytes decide nothing.
void NoteUnjudged(DriverContext* context) {
    NoteRead(context, context->replyLength, context->replyLength == 0 ? TraceReply::kNone : TraceReply::kNotJudged,
             ReadVerdict::kDecidesNothing);
}

void NoteTry(DriverContext* context, int32_t attempt) {
    TraceTry(&context->trace, attempt + 1, kHashTries);
    if (attempt > 0) {
        WatchRetry(context);
    }
}

// Why the reply in replyBuffer ends the request in 1: `why`, then the reply.
void ExplainReply(DriverContext* context, const char* why) {
    if (!TraceIsOn(&context->trace)) {
        return;
    }
    char shown[kShownReplySize];
    if (context->replyLength == 0) {
        std::snprintf(shown, sizeof shown, "%s", "nothing came within the read time-out");
    } else {
        VisibleBytes(shown, sizeof shown, context->replyBuffer, context->replyLength);
    }
    TraceReason(&context->trace, "%s (%s)", why, shown);
}

const char* WhyNotAccepted(ReplyClass reply) {
    switch (reply) {
        case REPLY_REFUSED:
            return "switcher refused";
        case REPLY_ACCEPTED_STX:
            return "switcher accepted, but with an STX behind its answer";
        default:
            return "no acceptance from the switcher";
    }
}

void Wait(DriverContext* context, uint32_t milliseconds, const char* why) {
    TraceWait(&context->trace, milliseconds, why);
    SleepMilliseconds(milliseconds);
}

int32_t SendCommand(DriverContext* context) {
    return LinkSend(context, context->commandBuffer, context->commandLength);
}

ReplyClass ReadShortReply(DriverContext* context) {
    LinkReceiveFixed(context, context->replyBuffer, kShortReply);
    const ReplyClass reply = ClassifyReply(context->replyBuffer);
    const TraceReply judged = Judged(reply, context->replyLength);
    NoteRead(context, context->replyLength, judged, VerdictOf(judged));
    return reply;
}

// "R" replies end in a checksum digit and CR: both go, and what follows.
void CutReadReply(char* reply) {
    char* end = std::strchr(reply, kCarriageReturn);
    if (end == nullptr) {
        return;
    }
    // A reply that starts with its CR has no digit ahead of it.
    if (end == reply) {
        *end = '\0';
        return;
    }
    end[-1] = '\0';
}

void StoreReadText(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    uint32_t gateId = 0;
    if (HostGetGateIdByAddressStr(context->clientId, 1, context->gateAddress, &gateId) != 0) {
        return;
    }
    char* text = GateText(request);
    size_t length = 0;
    while (length < kReadTextLimit && context->replyBuffer[length] != '\0') {
        text[length] = context->replyBuffer[length];
        ++length;
    }
    text[length] = '\0';
}

// The length of the acceptance line ("*", two hex digits, CR, LF) that opens
// the `count` bytes read, or 0 when they do not open with a whole one.
int32_t LeadingAcceptanceLength(const char* reply, int32_t count) {
    if (count < kAcceptanceLineLength) {
        return 0;
    }
    const ReplyClass opening = ClassifyReply(reply);
    return opening == REPLY_ACCEPTED || opening == REPLY_ACCEPTED_STX ? kAcceptanceLineLength : 0;
}

// A switcher that answers the preamble late (after its read and after the
// purge ahead of the command) puts that answer ahead of the command's reply.
// When the preamble's own read saw no whole acceptance, a whole acceptance
// line that opens the reply is taken for that late answer and dropped: the
// reply is what follows it in the same read, or nothing when nothing does.
// A display text is never an acceptance line. An acceptance split across the
// two reads is not recognised and stays in the reply.
void DropLatePreambleAnswer(DriverContext* context, int32_t count, int32_t skipped) {
    char* reply = context->replyBuffer;
    const int32_t rest = count - skipped;
    TraceSkip(&context->trace, skipped, rest);
    std::memmove(reply, reply + skipped, static_cast<size_t>(rest));
    std::memset(reply + rest, 0, static_cast<size_t>(skipped));
    context->replyLength = static_cast<uint8_t>(rest);
}

// "M", "L" and "R": the preamble first, then the command and its long reply.
int32_t RunWithPreamble(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    if (LinkSend(context, kPreamble, kPreambleLength) != kOk) {
        return kFailed;
    }
    const ReplyClass preambleReply = ReadShortReply(context);
    if (preambleReply == REPLY_REFUSED) {
        ExplainReply(context, "switcher refused the preamble P, so the command was not sent");
        return kFailed;
    }
    const bool preambleAnswered = preambleReply == REPLY_ACCEPTED || preambleReply == REPLY_ACCEPTED_STX;
    if (SendCommand(context) != kOk) {
        return kFailed;
    }
    std::memset(context->replyBuffer, 0, kClearedReplyBytes);
    Wait(context, kLongWaitMs, "before reading the reply");
    const int32_t count = LinkReceive(context, context->replyBuffer, kLongReply) == kOk ? context->replyLength : 0;
    const int32_t skipped = preambleAnswered ? 0 : LeadingAcceptanceLength(context->replyBuffer, count);
    // The buffer is cleared well past the long reply: six bytes behind the
    // skipped line are always there to judge.
    const ReplyClass reply = ClassifyReply(context->replyBuffer + skipped);
    const int32_t rest = count - skipped;
    const TraceReply judged = Judged(reply, rest);
    // An "R" reply is the display's text: any answer but a refusal confirms,
    // as does the preamble's late acceptance.
    const bool replyIsText = FindGateKind(context->commandKind)->replyIsText;
    const bool readText = replyIsText && rest > 0 && reply != REPLY_REFUSED;
    const bool confirms = skipped > 0 || readText || judged == TraceReply::kAccepted;
    NoteRead(context, count, judged, confirms ? ReadVerdict::kConfirms : ReadVerdict::kDoesNotConfirm);
    if (skipped > 0) {
        DropLatePreambleAnswer(context, count, skipped);
    }
    if (reply == REPLY_REFUSED) {
        ExplainReply(context, "switcher refused");
        return kFailed;
    }
    if (replyIsText) {
        CutReadReply(context->replyBuffer);
        StoreReadText(request);
    }
    return kOk;
}

int32_t RunFileCommand(DriverContext* context) {
    if (SendCommand(context) != kOk) {
        return kFailed;
    }
    LinkReceiveFixed(context, context->replyBuffer, kLongReply);
    NoteUnjudged(context);
    return kOk;
}

int32_t RunBangByte(DriverContext* context) {
    Wait(context, kShortWaitMs, "before sending");
    if (SendCommand(context) != kOk) {
        return kFailed;
    }
    const ReplyClass reply = ReadShortReply(context);
    if (reply != REPLY_ACCEPTED) {
        ExplainReply(context, WhyNotAccepted(reply));
        return kFailed;
    }
    return kOk;
}

int32_t RunBangBits(DriverContext* context) {
    if (SendCommand(context) != kOk) {
        return kFailed;
    }
    const ReplyClass reply = ReadShortReply(context);
    if (reply == REPLY_ACCEPTED || reply == REPLY_UNRECOGNISED) {
        return kOk;
    }
    ExplainReply(context, WhyNotAccepted(reply));
    return kFailed;
}

// Bank 1: refused and unrecognised replies are tried again. After the last
// try an unrecognised reply counts as taken: on a line that echoes what it
// receives, the five bytes read are the message itself, not the answer.
int32_t RunHashBankOne(DriverContext* context) {
    ReplyClass reply = REPLY_UNRECOGNISED;
    for (int32_t attempt = 0; attempt < kHashTries; ++attempt) {
        NoteTry(context, attempt);
        if (SendCommand(context) != kOk) {
            return kFailed;
        }
        Wait(context, kShortWaitMs, "before reading the reply");
        reply = ReadShortReply(context);
        if (reply == REPLY_ACCEPTED) {
            return kOk;
        }
        if (reply == REPLY_ACCEPTED_STX) {
            ExplainReply(context, WhyNotAccepted(reply));
            return kFailed;
        }
    }
    if (reply == REPLY_REFUSED) {
        ExplainReply(context, "switcher refused all three tries");
        return kFailed;
    }
    return kOk;
}

// Bank 2: each try sends the preface, then the command. A refusal is final.
int32_t RunHashBankTwo(DriverContext* context) {
    BuildPrefaceCommand(context);
    for (int32_t attempt = 0; attempt < kHashTries; ++attempt) {
        NoteTry(context, attempt);
        if (LinkSend(context, context->prefaceCommand, context->prefaceLength) != kOk) {
            return kFailed;
        }
        Wait(context, kShortWaitMs, "before reading the preface's reply");
        LinkReceiveFixed(context, context->replyBuffer, kShortReply);
        NoteUnjudged(context);
        if (SendCommand(context) != kOk) {
            return kFailed;
        }
        Wait(context, kShortWaitMs, "before reading the reply");
        const ReplyClass reply = ReadShortReply(context);
        if (reply == REPLY_ACCEPTED) {
            return kOk;
        }
        if (reply == REPLY_REFUSED || reply == REPLY_ACCEPTED_STX) {
            ExplainReply(context, WhyNotAccepted(reply));
            return kFailed;
        }
        if (FindGateKind(context->commandKind)->marked) {
            BuildTrailerCommand(context);
            if (LinkSend(context, context->trailerCommand, context->trailerLength) != kOk) {
                return kFailed;
            }
            Wait(context, kShortWaitMs, "after the trailer");
            return kOk;
        }
    }
    return kOk;
}

int32_t RunHash(DriverContext* context) {
    if (g_readyLevel < kReadyLevel) {
        TraceReason(&context->trace, "the driver is not started: \"#\" writes wait for the first REQ_LOAD");
        return kFailed;
    }
    switch (context->bank) {
        case 1:
            return RunHashBankOne(context);
        case 2:
            return RunHashBankTwo(context);
        default:
            TraceReason(&context->trace, "no bank chosen for the \"#\" value");
            return kFailed;
    }
}

}  // namespace

ReplyClass ClassifyReply(const char* buffer) {
    if (buffer[0] == '*') {
        const bool wellFormed = IsUpperHexDigit(buffer[1]) && IsUpperHexDigit(buffer[2]) &&
                                buffer[3] == kCarriageReturn && buffer[4] == kLineFeed;
        if (!wellFormed) {
            return REPLY_UNRECOGNISED;
        }
        return buffer[5] == kStartOfText ? REPLY_ACCEPTED_STX : REPLY_ACCEPTED;
    }
    return buffer[0] == '?' ? REPLY_REFUSED : REPLY_UNRECOGNISED;
}

int32_t RunTransaction(DriverRequest* request) {
    DriverContext* context = ContextOf(request);
    const GateKindFacts* facts = FindGateKind(context->commandKind);
    switch (facts != nullptr ? facts->exchange : Exchange::kNone) {
        case Exchange::kListCommand:
            return RunFileCommand(context);
        case Exchange::kPreamble:
            return RunWithPreamble(request);
        case Exchange::kBangByte:
            return RunBangByte(context);
        case Exchange::kBangBits:
            return RunBangBits(context);
        case Exchange::kHash:
            return RunHash(context);
        case Exchange::kNone:
        case Exchange::kFreeText:
            break;
    }
    TraceReason(&context->trace, "gate kind %u has no exchange with the switcher",
                static_cast<unsigned>(context->commandKind));
    return kFailed;
}

int32_t SendGateText(DriverContext* context, const char* text) {
    // The host's text is measured no further than the link can carry.
    const int32_t length = static_cast<int32_t>(BoundedLength(text, kLinkMessageLimit));
    if (length > kLinkMessageLimit) {
        TraceReason(&context->trace, "text longer than %d characters", static_cast<int>(kLinkMessageLimit));
        return kFailed;
    }
    if (LinkSend(context, text, length) != kOk) {
        return kFailed;
    }
    LinkReceiveFixed(context, context->replyBuffer, kLongReply);
    NoteUnjudged(context);
    return kOk;
}
