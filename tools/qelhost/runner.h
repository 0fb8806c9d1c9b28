// Runs a parsed scenario against a driver's QelMain, with the host library
// substitute as the host's process library, and prints what happens.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "qelkophv/qelkophv.h"
#include "report.h"
#include "scenario.h"

namespace qelhost {

struct RunOptions {
    bool trace = false;               // hex dump of every echo with a time stamp
    std::string defaultPort = "NUL";  // the port of a load without port=
    std::string driverTrace;          // the driver's trace file, read for the reasons of failed requests
    bool shared = false;              // one of several instances on one host library (RunInstances)
    bool oneShot = false;             // one-shot commands: a 0 no reply confirmed makes the exit status 4
    JsonSink json;                    // --json: where its lines go
};

// One driver instance of a multi-line host: its scenario, its options (its
// port as the default port).
struct Instance {
    Scenario scenario;
    RunOptions options;
};

// Runs every command in order and returns the exit status: 0 when every
// check held, 1 when one failed (one-shot commands: 4 when every request
// answered 0 but one went unconfirmed). The host library's state is reset first; one run at a time.
int RunScenario(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out);

// Runs each instance's scenario at the same time, each on a thread of its
// own with its own record, in the one loaded driver: a host with a driver
// instance per line. The host library is reset once and hands each
// registration a client of its own; its gates are shared by address. Every
// line an instance prints goes out whole, led by "[N] " (N from 1, in the
// order given). Returns 0 when every instance's checks held, 1 when not.
int RunInstances(std::vector<Instance>& instances, QelMainFn entry, std::ostream& out);

}  // namespace qelhost
