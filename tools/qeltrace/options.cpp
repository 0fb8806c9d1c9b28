#include "options.h"

#include <cstdint>

#include "parse.h"
#include "trace_reader.h"

namespace qeltrace {
namespace {

using qeltools::Fail;

bool Field(const std::string& text, size_t at, size_t count, int64_t* value) {
    if (at + count > text.size()) {
        return false;
    }
    int64_t result = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        result = result * 10 + (text[i] - '0');
    }
    *value = result;
    return true;
}

}  // namespace

const char* Usage() {
    return "usage: qeltrace [options] FILE...\n"
           "Summarises the driver's trace files (FILE.1 is read before FILE when it is there;\n"
           "several files are read in the order of their time stamps).\n"
           "  --instance N     only instance N (the number in brackets)\n"
           "  --from TIME      only what began at or after TIME\n"
           "  --to TIME        ... and at or before TIME; TIME as the trace writes it\n"
           "                   (2026-12-07T17:54:48), with or without seconds, with an\n"
           "                   offset (+01:00) or in the trace's own local time, or a time\n"
           "                   of day alone (17:54) on the trace's first day\n"
           "  --gate ADDRESS   only the requests of the gate with this address\n"
           "  --json           the same figures as one JSON object\n"
           "  --html OUT.html  also write a page with the tables and a timeline per instance\n"
           "  --version, --help\n";
}

bool ParseTime(const std::string& text, int64_t* ms, bool* hasOffset, bool* hasDate) {
    int64_t year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0, milli = 0;
    size_t at = 0;
    *hasDate = text.size() >= 10 && text[4] == '-';
    if (*hasDate) {
        if (!Field(text, 0, 4, &year) || text[7] != '-' || !Field(text, 5, 2, &month) || !Field(text, 8, 2, &day) ||
            text.size() < 16 || (text[10] != 'T' && text[10] != ' ')) {
            return false;
        }
        at = 11;
    }
    if (!Field(text, at, 2, &hour) || at + 2 >= text.size() || text[at + 2] != ':' ||
        !Field(text, at + 3, 2, &minute)) {
        return false;
    }
    at += 5;
    if (at < text.size() && text[at] == ':') {
        if (!Field(text, at + 1, 2, &second)) {
            return false;
        }
        at += 3;
        if (at < text.size() && text[at] == '.') {
            size_t digits = 0;
            int64_t scale = 100;
            ++at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
                milli += digits < 3 ? (text[at] - '0') * scale : 0;
                scale /= 10;
                ++digits;
                ++at;
            }
        }
    }
    int64_t offset = 0;
    *hasOffset = false;
    if (at < text.size()) {
        int64_t offsetHours = 0, offsetMinutes = 0;
        if ((text[at] != '+' && text[at] != '-') || text.size() != at + 6 || !Field(text, at + 1, 2, &offsetHours) ||
            text[at + 3] != ':' || !Field(text, at + 4, 2, &offsetMinutes)) {
            return false;
        }
        offset = (offsetHours * 60 + offsetMinutes) * (text[at] == '-' ? -1 : 1);
        *hasOffset = true;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    const int64_t days = qeltools::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    *ms = (((days * 24 + hour) * 60 + minute) * 60 + second) * 1000 + milli - offset * 60000;
    return true;
}

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                return Fail(error, arg + ": wants a value");
            }
            *out = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--html") {
            if (!value(&options->html)) return false;
        } else if (arg == "--from") {
            if (!value(&options->from)) return false;
        } else if (arg == "--to") {
            if (!value(&options->to)) return false;
        } else if (arg == "--gate") {
            std::string gate;
            if (!value(&gate)) return false;
            options->filter.gate = gate;
        } else if (arg == "--instance") {
            std::string number;
            uint64_t instance = 0;
            if (!value(&number)) return false;
            if (!qeltools::ParseUnsigned(number, INT32_MAX, &instance)) {
                return Fail(error, "--instance: wants the instance's number, not \"" + number + "\"");
            }
            options->filter.instance = static_cast<int32_t>(instance);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Fail(error, "unknown option " + arg);
        } else {
            options->files.push_back(arg);
        }
    }
    if (!options->help && !options->version && options->files.empty()) {
        return Fail(error, "no trace file given");
    }
    return true;
}

bool ResolveTimes(Options* options, int64_t firstLocalMs, std::string* error) {
    bool anyOffset = false, anyWall = false;
    for (auto [text, limit] :
         {std::pair{&options->from, &options->filter.fromMs}, std::pair{&options->to, &options->filter.toMs}}) {
        if (text->empty()) {
            continue;
        }
        int64_t ms = 0;
        bool hasOffset = false, hasDate = false;
        if (!ParseTime(*text, &ms, &hasOffset, &hasDate)) {
            return Fail(error, "not a time: \"" + *text + "\" (e.g. 2026-12-07T17:54:48, or 17:54)");
        }
        if (!hasDate) {
            constexpr int64_t kDayMs = 86400000;
            ms += (firstLocalMs >= 0 ? firstLocalMs / kDayMs : (firstLocalMs - kDayMs + 1) / kDayMs) * kDayMs;
        }
        (hasOffset ? anyOffset : anyWall) = true;
        *limit = ms;
    }
    if (anyOffset && anyWall) {
        return Fail(error, "--from and --to: give both with an offset from UTC, or both without");
    }
    options->filter.wallTime = anyWall;
    if (options->filter.fromMs && options->filter.toMs && *options->filter.toMs < *options->filter.fromMs) {
        return Fail(error, "--to is before --from");
    }
    return true;
}

}  // namespace qeltrace
