// Taking a trace line apart without copying it: the stamp by its fixed
// positions, the instance, and the event's kind by its first word.
#include "trace_line.h"

#include <array>

namespace qeltrace {
namespace {

struct KindWord {
    std::string_view word;
    LineKind kind;
};
// The request names as the driver writes them; a request code the driver
// does not know shows as CODE_n.
constexpr std::array kKindWords = {
    KindWord{"LOAD", LineKind::kRequest},
    KindWord{"WARM_START", LineKind::kRequest},
    KindWord{"REGISTER_GATE", LineKind::kRequest},
    KindWord{"NOP", LineKind::kRequest},
    KindWord{"UPDATE_GATE", LineKind::kRequest},
    KindWord{"READ_GATE", LineKind::kRequest},
    KindWord{"WRITE_GATE", LineKind::kRequest},
    KindWord{"BLOCK_WRITE", LineKind::kRequest},
    KindWord{"STOP", LineKind::kRequest},
    KindWord{"CLOSE_PORT", LineKind::kRequest},
    KindWord{"OPEN_PORT", LineKind::kRequest},
    KindWord{"GET_INFO", LineKind::kRequest},
    KindWord{"RECONFIGURE_PORT", LineKind::kRequest},
    KindWord{"END", LineKind::kEnd},
    KindWord{"REASON", LineKind::kReason},
    KindWord{"TX", LineKind::kTransmit},
    KindWord{"RX", LineKind::kRead},
    KindWord{"TRY", LineKind::kTry},
    KindWord{"NOTE", LineKind::kNote},
    KindWord{"PORT", LineKind::kPort},
    KindWord{"STATS", LineKind::kStats},
    KindWord{"WAIT", LineKind::kOther},
    KindWord{"LIST", LineKind::kOther},
    KindWord{"LINE", LineKind::kOther},
    KindWord{"SKIP", LineKind::kOther},
    KindWord{"RUN", LineKind::kOther},
    KindWord{"TRACE", LineKind::kFile},
};

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

LineKind KindOf(std::string_view word) {
    for (const KindWord& known : kKindWords) {
        if (known.word == word) {
            return known.kind;
        }
    }
    if (word.size() > 5 && word.substr(0, 5) == "CODE_") {
        return LineKind::kRequest;
    }
    return LineKind::kUnknown;
}

}  // namespace

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

bool ParseLine(std::string_view text, TraceLine* line) {
    if (!ParseStamp(text, &line->time) || text.size() < kStampLength + 4 || text[kStampLength] != ' ' ||
        text[kStampLength + 1] != '[') {
        return false;
    }
    line->stamp = text.substr(0, kStampLength);
    size_t at = kStampLength + 2;
    int64_t instance = 0;
    size_t digits = 0;
    bool negative = at < text.size() && text[at] == '-';
    at += negative ? 1 : 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 10) {
        instance = instance * 10 + (text[at] - '0');
        ++at;
        ++digits;
    }
    if (digits == 0 || at + 1 >= text.size() || text[at] != ']' || text[at + 1] != ' ') {
        return false;
    }
    line->instance = static_cast<int32_t>(negative ? -instance : instance);
    line->body = text.substr(at + 2);
    const size_t space = line->body.find(' ');
    line->word = line->body.substr(0, space);
    line->kind = KindOf(line->word);
    return true;
}

}  // namespace qeltrace
