// Messages are taken apart by the encoder's own layouts: each kind's pattern
// is walked field by field over the bytes, so a layout the driver changes is
// read the new way without a change here.
#include "decode.h"

#include <cstdint>

#include "context/context.h"
#include "gate_kind.h"
#include "protocol/command_encoder.h"
#include "protocol/gate_kinds.h"
#include "trace/trace_grammar.h"
#include "trace_reader.h"
#include "visible.h"

namespace qeltrace {
namespace {

constexpr std::string_view kPreamble = "P";

// The fields a layout's pattern names, as read from one message.
struct Fields {
    std::string_view a, b, c, d, hex, count, text;
    char digit = 0;
};

bool IsHex(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

bool IsDecimal(std::string_view text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return !text.empty();
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// How many characters the pattern still spells after `p` (each field its own
// width; a text counts nothing), for a text whose length the message does not
// carry.
size_t FixedRest(const char* p) {
    size_t count = 0;
    for (; *p != '\0'; ++p) {
        if (*p != '%' || p[1] == '\0') {
            ++count;
            continue;
        }
        ++p;
        count += *p == 'C' ? 4 : *p == 'd' ? 1 : *p == 't' ? 0 : 2;
    }
    return count;
}

// The message (without checksum and CR) read by `pattern`; false when it does
// not fit.
bool ReadPattern(const char* pattern, std::string_view body, Fields* fields) {
    size_t at = 0;
    auto take = [&](size_t count, std::string_view* out) {
        if (at + count > body.size()) {
            return false;
        }
        *out = body.substr(at, count);
        at += count;
        return true;
    };
    for (const char* p = pattern; *p != '\0'; ++p) {
        std::string_view part;
        if (*p != '%' || p[1] == '\0') {
            if (at >= body.size() || body[at] != *p) {
                return false;
            }
            ++at;
            continue;
        }
        ++p;
        bool ok = true;
        switch (*p) {
            case 'A':
                ok = take(2, &fields->a) && IsHex(fields->a);
                break;
            case 'B':
                ok = take(2, &fields->b) && IsHex(fields->b);
                break;
            case 'C':
                ok = take(4, &fields->c) && IsHex(fields->c);
                break;
            case 'D':
                ok = take(2, &fields->d) && IsHex(fields->d);
                break;
            case 'd':
                ok = take(1, &part) && IsHex(part);
                fields->digit = ok ? part[0] : 0;
                break;
            case 'x':
                ok = take(2, &fields->hex) && IsHex(fields->hex);
                break;
            case 'n':
                ok = take(2, &fields->count) && IsDecimal(fields->count);
                break;
            case 'b':
                ok = take(static_cast<size_t>(FieldWidth('b')), &fields->text);
                break;
            case 't': {
                const size_t rest = FixedRest(p + 1);
                const size_t length = !fields->count.empty()     ? std::stoul(std::string(fields->count))
                                      : body.size() >= at + rest ? body.size() - at - rest
                                                                 : body.size() + 1;
                ok = take(length, &fields->text);
                break;
            }
            default:
                break;
        }
        if (!ok) {
            return false;
        }
    }
    return at == body.size();
}

std::string Quoted(std::string_view text) {
    return "\"" + qeltools::Visible(text) + "\"";
}

std::string Crosspoint(const Fields& f, ExchangeState* state) {
    const std::string where = "crosspoint " + std::string(f.a) + std::string(f.b);
    if (f.digit == 'D') {
        state->afterPreface = true;
        return "bank 2 preface for " + where;
    }
    if (f.digit == 'F') {
        return "bank 2 trailer for " + where;
    }
    const int digit = HexValue(f.digit);
    if (state->afterPreface) {
        return where + ", bank 2 = " + std::to_string(digit) + " (value " + std::to_string(digit + kBankSize) + ")";
    }
    return where + ", bank 1 = " + std::to_string(digit);
}

std::string Meaning(uint32_t kind, const Fields& f, ExchangeState* state) {
    switch (kind) {
        case KIND_HASH:
        case KIND_HASH_MARKED:
            return Crosspoint(f, state);
        case KIND_BANG_BITS:
            return "\"!\" bits " + std::string(f.a) + std::string(f.b) + " = " + std::string(f.text);
        case KIND_BANG_BYTE:
            return "\"!\" byte " + std::string(f.a) + std::string(f.b) + " " + std::string(f.c) + " = " +
                   std::string(f.hex) + " (" + std::to_string(HexValue(f.hex[0]) * 16 + HexValue(f.hex[1])) + ")";
        case KIND_R:
            state->readsText = true;
            return "read display " + std::string(f.d);
        case KIND_L:
            return "display " + std::string(f.d) + " text " + Quoted(f.text);
        case KIND_M:
            return "\"M\" " + std::string(f.c) + " = " + std::to_string(std::stoi(std::string(f.count)));
        default:
            return {};
    }
}

// A message of one of the kinds with a layout, with its checksum checked;
// empty when no layout reads it.
std::string DecodeLaidOut(std::string_view message, ExchangeState* state) {
    if (message.size() < 2) {
        return {};
    }
    const std::string_view body = message.substr(0, message.size() - 1);
    int32_t count = 0;
    const GateKindFacts* rows = GateKindRows(&count);
    for (int32_t i = 0; i < count; ++i) {
        const char* pattern = rows[i].layout.pattern;
        Fields fields;
        if (pattern == nullptr || MessageLead(rows[i]) != message[0] || !ReadPattern(pattern, body, &fields)) {
            continue;
        }
        std::string meaning = Meaning(rows[i].kind, fields, state);
        const std::string payload(body.substr(1));
        const char due = "0123456789ABCDEF"[ChecksumDigit(payload.data(), static_cast<int32_t>(payload.size()))];
        if (message.back() != due) {
            meaning += std::string(", checksum ") + message.back() + " where " + due + " is due";
        }
        return meaning;
    }
    return {};
}

std::string_view WithoutLineEnds(std::string_view bytes) {
    while (!bytes.empty() && (bytes.back() == '\r' || bytes.back() == '\n')) {
        bytes.remove_suffix(1);
    }
    return bytes;
}

}  // namespace

std::string DecodeTransmission(std::string_view bytes, ExchangeState* state) {
    const std::string_view message = WithoutLineEnds(bytes);
    if (message == kPreamble) {
        state->afterPreamble = true;
        return "preamble: will the switcher take a command?";
    }
    state->afterPreamble = false;
    if (state->freeText) {
        return "free text " + Quoted(message);
    }
    const std::string meaning = DecodeLaidOut(message, state);
    if (state->listCommand) {
        return "list command " + Quoted(message) + (meaning.empty() ? "" : ": " + meaning);
    }
    return meaning.empty() ? "text " + Quoted(message) + ", no message of the driver's" : meaning;
}

std::string DecodeReply(std::string_view bytes, std::string_view judged, ExchangeState* state) {
    const bool text = state->readsText;
    state->readsText = false;
    if (bytes.empty()) {
        return "nothing came";
    }
    const std::string shown = qeltools::Visible(bytes);
    std::string meaning;
    if (bytes.size() >= 5 && bytes[0] == '*' && IsHex(bytes.substr(1, 2)) && bytes.substr(3, 2) == "\r\n") {
        meaning = "accepted (" + std::string(bytes.substr(1, 2)) + ")";
        if (state->afterPreamble) {
            meaning += ": the command may follow";
        }
        if (bytes.size() > 5 && bytes[5] == 0x02) {
            meaning += ", with an STX behind it";
        }
        if (text && bytes.size() > 5) {
            meaning += ", then display text " + Quoted(DisplayText(bytes.substr(5)));
        }
    } else if (bytes[0] == '?') {
        meaning = "refused";
    } else if (text) {
        meaning = "display text " + Quoted(DisplayText(bytes));
    } else {
        meaning = "not an answer the driver knows";
    }
    if (judged == kTraceReplyWords[static_cast<size_t>(TraceReply::kNotJudged)]) {
        meaning += ", not judged";
    }
    return meaning;
}

std::string LineMeaning(const qeltools::TraceLine& line, ExchangeState* state) {
    qeltools::ReadFields read{};
    qeltools::RequestFields request{};
    switch (line.event) {
        case qeltools::TraceEvent::kTransmit:
            return DecodeTransmission(qeltools::HexBytes(line.fields), state);
        case qeltools::TraceEvent::kRead:
            if (!qeltools::ReadRead(line, &read)) {
                return {};
            }
            return DecodeReply(qeltools::HexBytes(read.data), read.judgement, state);
        case qeltools::TraceEvent::kRequest:
            *state = ExchangeState{};
            if (qeltools::RequestNamesGate(line.request) && qeltools::ReadRequest(line, &request)) {
                state->freeText = GateKindOf(request.subject, GateFormat::kString) == "SEND_STR";
            }
            return {};
        default:
            state->listCommand = state->listCommand || line.word == "LIST";
            return {};
    }
}

std::string WithMeanings(const std::vector<std::string>& lines) {
    std::string text;
    ExchangeState state;
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
        qeltools::TraceLine parsed;
        if (!qeltools::ParseTraceLine(line, &parsed)) {
            continue;
        }
        const std::string meaning = LineMeaning(parsed, &state);
        if (!meaning.empty()) {
            text += "        = " + meaning + "\n";
        }
    }
    return text;
}

std::string DisplayText(std::string_view reply) {
    const size_t end = reply.find('\r');
    if (end == std::string_view::npos) {
        return std::string(reply);
    }
    return std::string(reply.substr(0, end == 0 ? 0 : end - 1));
}

}  // namespace qeltrace
