// What the driver does through the host library while a scenario runs: each
// log line and each text put into a gate is printed as it happens, and the
// log is kept for the checks. Listens from construction to destruction.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
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

    // Begins the log of the next request; only the last request's is kept.
    void StartRequest() { log_.clear(); }
    // The log lines of the last request.
    std::vector<std::string> RequestLog() const { return log_; }

    // The texts this instance's driver put, by gate address: how many, and
    // the last. Instances share the host library's gates by address; these
    // are the instance's own.
    int PutCount(const std::string& address) const {
        auto found = puts_.find(address);
        return found == puts_.end() ? 0 : found->second.count;
    }
    std::string LastPut(const std::string& address) const {
        auto found = puts_.find(address);
        return found == puts_.end() ? std::string() : found->second.last;
    }

  private:
    struct Puts {
        int count = 0;
        std::string last;
    };
    using Clock = std::chrono::steady_clock;

    static void OnLog(void* user, int32_t level, const char* line);
    static void OnPut(void* user, const char* address, const char* text);

    Report& report_;
    bool trace_;
    Clock::time_point start_;
    std::vector<std::string> log_;
    std::map<std::string, Puts> puts_;
};

}  // namespace qelhost
