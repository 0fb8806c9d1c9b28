// qelhost's command line.
#include "options.h"

#include <filesystem>

#include "driver_loader.h"
#include "parse.h"
#include "scenario_tokens.h"
#include "visible.h"

namespace qelhost {

namespace {

// A load without port=, or a reconfigure without one before any port was
// set, takes the default port.
bool UsesDefaultPort(const Scenario& scenario) {
    bool portSet = false;
    for (const Command& command : scenario.commands) {
        if (command.op == Op::Load && !command.port.has_value()) {
            return true;
        }
        if (command.op == Op::Reconfigure && !command.port.has_value() && !portSet) {
            return true;
        }
        portSet = portSet || command.op == Op::Load || command.op == Op::Reconfigure;
    }
    return false;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error,
                  const std::vector<bool>& quoted) {
    using qeltools::Fail;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const bool hasNext = i + 1 < arguments.size();
        const bool argQuoted = i < quoted.size() && quoted[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg == "--version") {
            options->version = true;
        } else if (arg == "--trace") {
            options->run.trace = true;
        } else if (arg == "--driver" && hasNext) {
            options->driver = arguments[++i];
        } else if (arg == "--check-list" && hasNext) {
            options->checkList = arguments[++i];
        } else if (arg == "--json") {
            options->json = true;
        } else if (arg == "--headers" && hasNext) {
            options->headers = arguments[++i];
        } else if (arg == "--no-reasons") {
            options->noReasons = true;
        } else if (arg == "--driver-trace" && hasNext) {
            options->driverTrace = arguments[++i];
            if (options->driverTrace.empty()) {
                return Fail(error, "--driver-trace needs a FILE");
            }
        } else if (arg == "--port" && hasNext) {
            const std::string& port = arguments[++i];
            if (port.size() > kMaxPortName) {
                return Fail(error, PortNameTooLong(port));
            }
            options->variables["PORT"] = port;
            options->run.defaultPort = port;
            options->portGiven = true;
        } else if (arg == "--instance" && i + 2 < arguments.size()) {
            const std::string& port = arguments[i + 1];
            const std::string& scenario = arguments[i + 2];
            i += 2;
            if (port.empty() || port.size() > kMaxPortName) {
                return Fail(error, "--instance needs a PORT of 1 to " + std::to_string(kMaxPortName) +
                                       " bytes, not \"" + qeltools::ShownArgument(port) + "\"");
            }
            if (scenario.empty() || scenario == "-") {
                return Fail(error, "--instance needs a SCENARIO file (standard input serves one scenario only)");
            }
            options->instances.push_back({port, scenario});
        } else if (arg == "--var" && hasNext) {
            const std::string& definition = arguments[++i];
            size_t equals = definition.find('=');
            if (equals == std::string::npos) {
                return Fail(error, "--var needs NAME=VALUE");
            }
            std::string name = definition.substr(0, equals);
            if (!IsVariableName(name)) {
                return Fail(error, "--var " + qeltools::ShownArgument(name) +
                                       "=: a variable's NAME is upper-case letters, digits and '_', "
                                       "not beginning with a digit, as $NAME is written");
            }
            options->variables[name] = definition.substr(equals + 1);
        } else if (arg == "--timeout" && hasNext) {
            options->timeout = arguments[++i];
            uint64_t units = 0;
            if (!ParseNumber(options->timeout, 0xFFFFFFFF, &units)) {
                return Fail(error, "--timeout needs the read time-out in units of 10 ms, not " +
                                       qeltools::ShownArgument(options->timeout));
            }
        } else if (arg == "--line" && hasNext) {
            options->line = arguments[++i];
            std::vector<uint32_t> values;
            if (!ParseList(options->line, 4, 0xFFFF, &values)) {
                return Fail(error, "--line needs BAUD,DATA,STOP,PARITY, not " + qeltools::ShownArgument(options->line));
            }
        } else if (!options->oneShot.empty() || (options->scenario.empty() && !argQuoted && IsOneShotWord(arg))) {
            options->oneShot.push_back(Argument{arg, argQuoted});
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Fail(error, "unexpected argument " + qeltools::ShownArgument(arg));
        } else if (!options->scenario.empty()) {
            // A word followed by more that names no file was meant as a command.
            std::error_code missing;
            if (!std::filesystem::exists(options->scenario, missing)) {
                return Fail(error, "unknown command '" + qeltools::ShownArgument(options->scenario) +
                                       "'; commands: " + OneShotWords());
            }
            return Fail(error, "unexpected argument " + qeltools::ShownArgument(arg) + " after the scenario " +
                                   qeltools::ShownArgument(options->scenario));
        } else if (arg.empty()) {
            return Fail(error, "the scenario's name is empty: give a file, or - for standard input");
        } else {
            options->scenario = arg;
        }
    }
    if (!options->checkList.empty() && (!options->scenario.empty() || !options->oneShot.empty())) {
        return Fail(error, "--check-list runs no scenario: give one or the other");
    }
    if (!options->instances.empty() && (options->portGiven || !options->scenario.empty() || !options->oneShot.empty() ||
                                        !options->checkList.empty())) {
        return Fail(error,
                    "--instance runs each instance's own scenario on its own port: give no --port, "
                    "SCENARIO, one-shot command or --check-list with it");
    }
    if (options->oneShot.empty() && (!options->timeout.empty() || !options->line.empty())) {
        return Fail(error, "--timeout and --line are for one-shot commands: a scenario's load sets its own");
    }
    return true;
}

void ApplyDriverEnvironment(const Options& options) {
    if (!options.driverTrace.empty()) {
        SetDriverVariable(kDriverTraceVariable, options.driverTrace);
    }
}

bool RefuseDefaultPort(const Options& options, const Scenario& scenario, std::string* error) {
    if (options.portGiven || scenario.headers.needs != "switcher" || !UsesDefaultPort(scenario)) {
        return false;
    }
    *error =
        "the scenario needs a switcher (\"# needs: switcher\"), but no --port names its line: its load would "
        "take NUL, the null device, where every write succeeds and no reply comes. Give --port NAME: the line "
        "of the switcher, or of qelswitch started with the scenario's \"# switcher:\" options";
    return true;
}

std::string DefaultPortWarning(const Options& options, const Scenario& scenario) {
    if (options.portGiven || !UsesDefaultPort(scenario)) {
        return std::string();
    }
    return "warning: no --port: the load takes NUL, the null device, where every write succeeds and no reply "
           "comes";
}

}  // namespace qelhost
