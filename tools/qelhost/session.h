// One run of a scenario: the host's gates, the driver's side of the host
// (context, last info, port), what is printed, and what the driver did
// through the host library. runner.cpp steps through the commands;
// requests.cpp and checks.cpp carry them out.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver_reasons.h"
#include "host_events.h"
#include "host_gates.h"
#include "qelkophv/qelkophv.h"
#include "report.h"
#include "runner.h"
#include "scenario.h"

namespace qelhost {

// What the host holds for the driver across requests.
struct DriverSide {
    std::unique_ptr<unsigned char[]> context;
    size_t contextSize = 0;
    DriverInfo info{};
    std::optional<int32_t> infoResult;
    std::string port;  // the port and line last loaded or reconfigured
    LineSettings line{};
    std::optional<int32_t> lastResult;
    long long lastElapsedMs = 0;  // of the request that gave lastResult
};

struct Session {
    Session(const Scenario& scenario_, QelMainFn entry_, const RunOptions& options_, std::ostream& out)
        : scenario(scenario_),
          entry(entry_),
          options(options_),
          report(out, options_.json),
          events(report, options_.trace),
          reasons(options_.driverTrace, options_.shared) {}

    const Scenario& scenario;
    QelMainFn entry;
    const RunOptions& options;
    Report report;
    HostEvents events;
    DriverReasons reasons;
    std::vector<GateState> gates;
    DriverSide driver;

    GateState& GateOf(const Command& command) { return gates[static_cast<size_t>(command.gate)]; }
};

// A request command (IsRequest): builds its record, calls the driver and
// reports what happened.
void RunRequest(Session& session, const Command& command);

// A check command (IsCheck): judges it against what the last request left.
void RunCheck(Session& session, const Command& command);

}  // namespace qelhost
