// The host library's listeners: log lines and gate texts as they happen.
#include "host_events.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "mox_binding.h"
#include "text_codec.h"

namespace qelhost {

namespace {

// The host library calls its listeners on the thread that called the
// driver, and each instance's session runs on a thread of its own: the
// thread's own session takes the line. One listener serves them all, set
// while any session listens.
thread_local HostEvents* t_events = nullptr;
std::mutex g_listening;
int g_sessions = 0;

}  // namespace

HostEvents::HostEvents(Report& report, bool trace) : report_(report), trace_(trace), start_(Clock::now()) {
    t_events = this;
    std::lock_guard<std::mutex> lock(g_listening);
    if (g_sessions++ == 0) {
        mox::ListenToLog(&HostEvents::OnLog, nullptr);
        mox::ListenToPuts(&HostEvents::OnPut, nullptr);
    }
}

HostEvents::~HostEvents() {
    t_events = nullptr;
    std::lock_guard<std::mutex> lock(g_listening);
    if (--g_sessions == 0) {
        mox::ListenToLog(nullptr, nullptr);
        mox::ListenToPuts(nullptr, nullptr);
    }
}

void HostEvents::OnLog(void*, int32_t level, const char* line) {
    HostEvents* self = t_events;
    if (self == nullptr) {
        return;
    }
    self->log_.emplace_back(line);
    self->report_.Log(level, line);
}

void HostEvents::OnPut(void*, const char* address, const char* text) {
    HostEvents* self = t_events;
    if (self == nullptr) {
        return;
    }
    std::string name = address;
    Puts& puts = self->puts_[name];
    ++puts.count;
    puts.last = text;
    bool echo = name == "OUTGOING" || name == "INCOMING";
    self->report_.Detail((echo ? name : "put " + name) + " " + Quoted(text));
    self->report_.Put(name, text);
    if (self->trace_) {
        char stamp[32];
        double seconds = std::chrono::duration<double>(Clock::now() - self->start_).count();
        std::snprintf(stamp, sizeof stamp, "%.3f", seconds);
        self->report_.Detail(std::string("trace ") + stamp + " " + name + " " + std::to_string(std::strlen(text)) +
                             " bytes: " + HexBytes(text));
    }
}

}  // namespace qelhost
