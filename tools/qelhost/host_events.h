// What the driver does through the host library while a scenario runs: each
// log line and each text put into a gate is printed as it happens, and the
// log is kept for the checks. Listens from construction to destruction.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "report.h"

namespace qelhost {

class HostEvents {
  public:
    HostEvents(Report& report, bool trace);
    ~HostEvents();
    HostEvents(const HostEvents&) = delete;
    HostEvents& operator=(const HostEvents&) = delete;

    // Marks where the log of the next request begins.
    void StartRequest() { logBegin_ = log_.size(); }
    // The log lines of the last request.
    std::vector<std::string> RequestLog() const {
        return std::vector<std::string>(log_.begin() + static_cast<std::ptrdiff_t>(logBegin_), log_.end());
    }

  private:
    using Clock = std::chrono::steady_clock;

    static void OnLog(void* user, int32_t level, const char* line);
    static void OnPut(void* user, const char* address, const char* text);

    Report& report_;
    bool trace_;
    Clock::time_point start_;
    std::vector<std::string> log_;
    size_t logBegin_ = 0;
};

}  // namespace qelhost
