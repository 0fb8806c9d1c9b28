// Taking a trace line apart without copying it: the stamp by its fixed
// positions, the instance, the event by its first word, and each event's
// fields by the words the driver writes around them.
#include "trace_reader.h"

#include <array>

#include "driver/requests.h"
#include "qel_version.h"
#include "trace/trace_grammar.h"
#include "visible.h"

namespace qeltools {
namespace {

// The reader's kind of each of the grammar's events.
TraceEvent EventOf(::TraceEvent event) {
    switch (event) {
        case ::TraceEvent::kRequest:
            return TraceEvent::kRequest;
        case ::TraceEvent::kEnd:
            return TraceEvent::kEnd;
        case ::TraceEvent::kReason:
            return TraceEvent::kReason;
        case ::TraceEvent::kTx:
            return TraceEvent::kTransmit;
        case ::TraceEvent::kRx:
            return TraceEvent::kRead;
        case ::TraceEvent::kTry:
            return TraceEvent::kTry;
        case ::TraceEvent::kNote:
            return TraceEvent::kNote;
        case ::TraceEvent::kPort:
            return TraceEvent::kPort;
        case ::TraceEvent::kStats:
            return TraceEvent::kStats;
        case ::TraceEvent::kTrace:
            return TraceEvent::kFormat;
        default:
            return TraceEvent::kOther;
    }
}

// A refused format quotes the version that wrote it, shown as bytes are
// shown (the message goes to a terminal) and cut.
constexpr size_t kVersionShown = 40;

// Request codes are small: the driver's table is indexed by them.
constexpr int32_t kRequestCodes = 64;

std::string_view After(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix ? text.substr(prefix.size()) : std::string_view{};
}

bool Digits(std::string_view text, size_t at, size_t count, int64_t* value) {
    int64_t result = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') {
            return false;
        }
        result = result * 10 + (text[i] - '0');
    }
    *value = result;
    return true;
}

// The number at the start of text (an optional '-', at most 15 digits), and
// where it ended.
bool Number(std::string_view text, int64_t* value, size_t* end = nullptr) {
    const bool negative = !text.empty() && text[0] == '-';
    size_t at = negative ? 1 : 0;
    const size_t begin = at;
    int64_t result = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 15) {
        result = result * 10 + (text[at++] - '0');
    }
    if (at == begin) {
        return false;
    }
    *value = negative ? -result : result;
    if (end != nullptr) {
        *end = at;
    }
    return true;
}

// The event of a word, and for a request its code.
void Classify(TraceLine* line) {
    line->request = -1;
    const size_t space = line->body.find(' ');
    line->word = line->body.substr(0, space);
    line->fields = space == std::string_view::npos ? std::string_view{} : line->body.substr(space + 1);
    line->event = TraceEvent::kUnknown;
    if (const TraceEventRow* row = FindTraceEvent(line->word.data(), line->word.size())) {
        line->event = EventOf(row->event);
        return;
    }
    line->request = RequestCode(line->word);
    const std::string_view unknownCode = kTraceUnknownRequest;
    if (line->request >= 0 || (line->word.size() > unknownCode.size() && line->word.starts_with(unknownCode))) {
        line->event = TraceEvent::kRequest;
    }
}

// An event word: a capital, then capitals, digits and '_' (CODE_77).
bool IsEventWord(std::string_view word) {
    if (word.size() < 2 || word[0] < 'A' || word[0] > 'Z') {
        return false;
    }
    for (char c : word) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

}  // namespace

const int64_t kNewestTraceFormat = kTraceFormat;
const std::string_view kStateNoAnswer = kTraceStateNoAnswer;
const std::string_view kStateLost = kTraceStateLost;

bool IsOutage(std::string_view state) {
    return state == kStateNoAnswer || state == kStateLost;
}

int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool ParseStamp(std::string_view text, TimeStamp* time) {
    // 0123456789012345678901234567 8
    // 2026-12-07T17:54:48.171+01:00
    int64_t year, month, day, hour, minute, second, milli, offsetHours, offsetMinutes;
    if (text.size() < kStampLength || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':' || text[19] != '.' || (text[23] != '+' && text[23] != '-') || text[26] != ':' ||
        !Digits(text, 0, 4, &year) || !Digits(text, 5, 2, &month) || !Digits(text, 8, 2, &day) ||
        !Digits(text, 11, 2, &hour) || !Digits(text, 14, 2, &minute) || !Digits(text, 17, 2, &second) ||
        !Digits(text, 20, 3, &milli) || !Digits(text, 24, 2, &offsetHours) || !Digits(text, 27, 2, &offsetMinutes)) {
        return false;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        offsetMinutes > 59) {
        return false;
    }
    const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    time->localMs = (((days * 24 + hour) * 60 + minute) * 60 + second) * 1000 + milli;
    const int64_t offset = (offsetHours * 60 + offsetMinutes) * (text[23] == '-' ? -1 : 1);
    time->utcMs = time->localMs - offset * 60000;
    return true;
}

bool ParseTraceLine(std::string_view text, TraceLine* line) {
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    if (!ParseStamp(text, &line->time) || text.size() < kStampLength + 4 || text[kStampLength] != ' ' ||
        text[kStampLength + 1] != '[') {
        return false;
    }
    line->stamp = text.substr(0, kStampLength);
    size_t at = kStampLength + 2;
    int64_t instance = 0;
    size_t digits = 0;
    const bool negative = at < text.size() && text[at] == '-';
    at += negative ? 1 : 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 10) {
        instance = instance * 10 + (text[at] - '0');
        ++at;
        ++digits;
    }
    // An instance beyond 32 bits is a damaged line, not one of a small
    // instance the number would wrap to.
    if (digits == 0 || instance > INT32_MAX || at + 1 >= text.size() || text[at] != ']' || text[at + 1] != ' ') {
        return false;
    }
    line->instance = static_cast<int32_t>(negative ? -instance : instance);
    line->body = text.substr(at + 2);
    Classify(line);
    return true;
}

bool ParseLooseTraceLine(std::string_view text, TraceLine* line) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    *line = TraceLine{};
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
        size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t') {
            ++end;
        }
        const std::string_view word = text.substr(at, end - at);
        int64_t number = 0;
        size_t digitsEnd = 0;
        if (word.size() > 2 && word.front() == '[' && word.back() == ']' &&
            Number(word.substr(1, word.size() - 2), &number, &digitsEnd) && digitsEnd == word.size() - 2 &&
            number >= 0 && number <= INT32_MAX) {
            line->instance = static_cast<int32_t>(number);
        } else if (IsEventWord(word)) {
            line->stamp = text.substr(0, at);
            line->body = text.substr(at);
            Classify(line);
            return true;
        }
        at = end;
    }
    return false;
}

const char* RequestName(int32_t code) {
    const RequestKind* kind = FindRequest(code);
    return kind != nullptr ? kind->name : nullptr;
}

int32_t RequestCode(std::string_view name) {
    for (int32_t code = 0; code < kRequestCodes; ++code) {
        const char* known = RequestName(code);
        if (known != nullptr && name == known) {
            return code;
        }
    }
    return -1;
}

bool RequestNamesGate(int32_t code) {
    const RequestKind* kind = FindRequest(code);
    return kind != nullptr && kind->shows == RequestShows::kGate;
}

bool ReadEnd(const TraceLine& line, EndFields* end) {
    if (line.event != TraceEvent::kEnd) {
        return false;
    }
    const size_t space = line.fields.find(' ');
    end->request = line.fields.substr(0, space);
    const std::string_view rest = space == std::string_view::npos ? std::string_view{} : line.fields.substr(space);
    const std::string_view result = After(rest, " result ");
    size_t at = 0;
    return Number(result, &end->result, &at) && Number(After(result.substr(at), " after "), &end->ms) && end->ms >= 0;
}

bool ReadRequest(const TraceLine& line, RequestFields* request) {
    if (line.event != TraceEvent::kRequest) {
        return false;
    }
    *request = RequestFields{line.fields, GateValue::kNone, {}};
    if (!RequestNamesGate(line.request)) {
        request->subject = line.fields.substr(0, line.fields.find(' '));
        return true;
    }
    // An address may hold blanks; the value comes last.
    size_t at = line.fields.rfind(" value ");
    if (at != std::string_view::npos) {
        request->value = GateValue::kNumber;
        request->valueText = line.fields.substr(at + 7);
    } else if ((at = line.fields.find(" text \"")) != std::string_view::npos) {
        request->value = GateValue::kText;
        std::string_view text = line.fields.substr(at + 7);
        request->valueText = !text.empty() && text.back() == '"' ? text.substr(0, text.size() - 1) : text;
    }
    request->subject = line.fields.substr(0, at);
    return true;
}

bool ReadRead(const TraceLine& line, ReadFields* read) {
    if (line.event != TraceEvent::kRead) {
        return false;
    }
    const size_t colon = line.fields.find(": ");
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string_view head = line.fields.substr(0, colon);
    read->afterMs = -1;
    const size_t after = head.find(" ms after TX");
    if (after != std::string_view::npos) {
        const size_t number = head.rfind(' ', after - 1);
        int64_t ms = 0;
        size_t end = 0;
        if (number != std::string_view::npos && Number(head.substr(number + 1), &ms, &end) &&
            number + 1 + end == after) {
            if (ms < 0) {
                return false;  // no time the driver writes: a damaged line
            }
            read->afterMs = ms;
            head = head.substr(0, number);
        }
    }
    read->judgement = head;
    read->refused = head == kTraceReplyWords[static_cast<size_t>(TraceReply::kRefused)];
    read->judgedNone = head == kTraceReplyWords[static_cast<size_t>(TraceReply::kNone)];
    size_t end = 0;
    const std::string_view rest = line.fields.substr(colon + 2);
    if (!Number(rest, &read->count, &end)) {
        return false;
    }
    read->data = rest.substr(end);
    return true;
}

std::string HexBytes(std::string_view data) {
    size_t at = data.find(" bytes");
    if (at == std::string_view::npos) {
        return std::string();
    }
    at += 6;
    std::string bytes;
    while (at + 3 <= data.size() && data[at] == ' ' && HexDigit(data[at + 1]) >= 0 && HexDigit(data[at + 2]) >= 0 &&
           (at + 3 == data.size() || data[at + 3] == ' ')) {
        bytes += static_cast<char>(HexDigit(data[at + 1]) * 16 + HexDigit(data[at + 2]));
        at += 3;
    }
    return bytes;
}

bool ReadTry(const TraceLine& line, int64_t* attempt) {
    return line.event == TraceEvent::kTry && Number(line.fields, attempt);
}

bool IsUnconfirmedNote(const TraceLine& line) {
    return line.event == TraceEvent::kNote &&
           line.fields == kTraceNoteWords[static_cast<size_t>(TraceNote::kNotConfirmed)];
}

PortChange ReadPort(const TraceLine& line) {
    if (line.event != TraceEvent::kPort) {
        return PortChange::kOther;
    }
    // PORT NAME EVENT[ (OS error ...)]: the name may hold blanks, the event
    // is the longest of the words that ends the rest.
    const std::string_view rest = line.fields.substr(0, line.fields.find(" (OS error"));
    size_t found = std::size(kTracePortEventWords);
    size_t longest = 0;
    for (size_t i = 0; i < std::size(kTracePortEventWords); ++i) {
        const std::string_view word = kTracePortEventWords[i];
        if (rest.size() > word.size() && rest.ends_with(word) && rest[rest.size() - word.size() - 1] == ' ' &&
            word.size() > longest) {
            found = i;
            longest = word.size();
        }
    }
    switch (static_cast<TracePortEvent>(found)) {
        case TracePortEvent::kOpened:
            return PortChange::kOpened;
        case TracePortEvent::kLost:
            return PortChange::kLost;
        case TracePortEvent::kReopened:
            return PortChange::kReopened;
        case TracePortEvent::kReopenFailed:
            return PortChange::kReopenFailed;
        default:
            return PortChange::kOther;
    }
}

bool ReadStats(const TraceLine& line, std::string_view* state) {
    const std::string_view rest = After(line.fields, "line ");
    const size_t since = rest.find(" since the start");
    if (line.event != TraceEvent::kStats || since == std::string_view::npos) {
        return false;
    }
    *state = rest.substr(0, since);
    return true;
}

bool ReadFormat(const TraceLine& line, FormatFields* format) {
    const std::string_view rest = After(After(line.fields, kTraceFormatWord), " ");
    size_t end = 0;
    if (line.event != TraceEvent::kFormat || !Number(rest, &format->number, &end)) {
        return false;
    }
    format->version = rest.substr(end).substr(rest.size() > end && rest[end] == ' ' ? 1 : 0);
    return true;
}

bool TraceFormat::Feed(const TraceLine& line, std::string* error) {
    FormatFields format{};
    if (!ReadFormat(line, &format)) {
        return true;
    }
    if (format.number < 1 || format.number > kNewestTraceFormat) {
        *error = "the trace is in format " + std::to_string(format.number) + " (written by " +
                 VisibleShort(format.version, kVersionShown) +
                 "), which this reader (" QELKOPHV_VERSION ") does not know: it reads formats 1 to " +
                 std::to_string(kNewestTraceFormat);
        return false;
    }
    number_ = format.number;
    return true;
}

}  // namespace qeltools
