// What the emulator prints, on both builds.
#include "say.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "time_stamp.h"

namespace qelswitch {

namespace {

std::atomic<bool> g_timeStamps{false};

}  // namespace

void SetTimeStamps(bool on) {
    g_timeStamps = on;
}

void Say(const char* format, ...) {
    if (g_timeStamps) std::fputs(qeltools::TimeStamp().c_str(), stdout);
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

void Print(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) Say("%s\n", line.c_str());
}

void SayDiscarded(size_t bytes) {
    Say("NOTE %llu bytes were waiting on the line before it was opened: discarded, not carried out\n",
        static_cast<unsigned long long>(bytes));
}

}  // namespace qelswitch
