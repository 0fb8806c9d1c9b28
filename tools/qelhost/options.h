// qelhost's command line: what it asks for, checked before anything runs.
#pragma once

#include <string>
#include <vector>

#include "one_shot.h"
#include "runner.h"
#include "scenario.h"

namespace qelhost {

// The environment variable that switches the driver's trace on.
constexpr const char* kDriverTraceVariable = "QELKOPHV_TRACE";

struct Options {
    bool help = false;
    bool version = false;
    std::string driver;     // empty: the one beside qelhost
    std::string scenario;   // empty or "-": standard input
    std::string checkList;  // --check-list FILE: check it, run nothing
    std::string headers;    // --headers FILE: print its headers, run nothing
    std::string driverTrace;
    bool json = false;              // --json: one object a line on standard output
    bool noReasons = false;         // --no-reasons: no trace of qelhost's own for the reasons
    std::vector<Argument> oneShot;  // one-shot commands' words, from the first write, update, list or send
    std::string timeout;            // --timeout, --line: the load of one-shot commands
    std::string line;
    bool portGiven = false;
    // --instance PORT SCENARIO, given again for each further line: the
    // driver instances run at once, each on a thread of its own.
    struct InstanceArgs {
        std::string port;
        std::string scenario;
    };
    std::vector<InstanceArgs> instances;
    Variables variables;
    RunOptions run;
};

// Reads the arguments after the program's name; quoted says which the
// command line held in quotes (QuotedArguments), none when empty. Returns
// false with the problem in *error; nothing is run then.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error,
                  const std::vector<bool>& quoted = {});

// What the options ask of the driver's environment (--driver-trace), set
// before the driver is loaded.
void ApplyDriverEnvironment(const Options& options);

// A scenario that the default port NUL would not serve: its first line says
// "# needs: switcher" and some load takes the default port. Says why in
// *error.
bool RefuseDefaultPort(const Options& options, const Scenario& scenario, std::string* error);

// A load takes the default port NUL: the warning to print, else empty.
std::string DefaultPortWarning(const Options& options, const Scenario& scenario);

}  // namespace qelhost
