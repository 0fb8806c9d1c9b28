// The host library's listeners: log lines and gate texts as they happen.
#include "host_events.h"

#include <cstdio>
#include <cstring>

#include "moxpro_control.h"
#include "text_codec.h"

namespace qelhost {

HostEvents::HostEvents(Report& report, bool trace) : report_(report), trace_(trace), start_(Clock::now()) {
    MoxListenToLog(&HostEvents::OnLog, this);
    MoxListenToPuts(&HostEvents::OnPut, this);
}

HostEvents::~HostEvents() {
    MoxListenToLog(nullptr, nullptr);
    MoxListenToPuts(nullptr, nullptr);
}

void HostEvents::OnLog(void* user, int32_t level, const char* line) {
    HostEvents* self = static_cast<HostEvents*>(user);
    self->log_.emplace_back(line);
    self->report_.Detail("log " + std::to_string(level) + " " + Quoted(line));
}

void HostEvents::OnPut(void* user, const char* address, const char* text) {
    HostEvents* self = static_cast<HostEvents*>(user);
    std::string name = address;
    bool echo = name == "OUTGOING" || name == "INCOMING";
    self->report_.Detail((echo ? name : "put " + name) + " " + Quoted(text));
    if (self->trace_) {
        char stamp[32];
        double seconds = std::chrono::duration<double>(Clock::now() - self->start_).count();
        std::snprintf(stamp, sizeof stamp, "%.3f", seconds);
        self->report_.Detail(std::string("trace ") + stamp + " " + name + " " + std::to_string(std::strlen(text)) +
                             " bytes: " + HexBytes(text));
    }
}

}  // namespace qelhost
