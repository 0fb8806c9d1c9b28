// qeltrace's command line.
#pragma once

#include <string>
#include <vector>

#include "summary.h"

namespace qeltrace {

struct Options {
    std::vector<std::string> files;
    Filter filter;
    std::string from, to;  // as given; read against the trace's first day
    bool json = false;
    std::string html;  // the page to write, if any
    bool help = false, version = false;
    bool decode = false, history = false, follow = false;
    std::string at;  // as given
};

// False, with the reason, for a command line qeltrace cannot run.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);
// --from and --to into the filter; a time without a date is on the day of
// `firstLocalMs` (the trace's first line, in its wall time).
bool ResolveTimes(Options* options, int64_t firstLocalMs, std::string* error);
// One such time: milliseconds, and whether they are wall time (no offset given).
bool ResolveTime(const std::string& text, int64_t firstLocalMs, int64_t* ms, bool* wallTime, std::string* error);
// "2026-12-07T17:54", "2026-12-07 17:54:48.5+01:00", "17:54": milliseconds
// (UTC when an offset is given, else wall time), and whether a date was given.
bool ParseTime(const std::string& text, int64_t* ms, bool* hasOffset, bool* hasDate);

const char* Usage();

}  // namespace qeltrace
