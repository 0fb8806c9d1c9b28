// Runs a parsed scenario against a driver's QelMain, with the host library
// substitute as the host's process library, and prints what happens.
#pragma once

#include <ostream>
#include <string>

#include "qelkophv/qelkophv.h"
#include "report.h"
#include "scenario.h"

namespace qelhost {

struct RunOptions {
    bool trace = false;               // hex dump of every echo with a time stamp
    std::string defaultPort = "NUL";  // the port of a load without port=
    std::string driverTrace;          // the driver's trace file, read for the reasons of failed requests
};

// Runs every command in order and returns 0 when every check held, 1 when
// one failed. The host library's state is reset first; one run at a time.
int RunScenario(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out);

}  // namespace qelhost
