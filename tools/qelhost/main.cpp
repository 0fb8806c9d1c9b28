// qelhost: a host simulator. Loads the driver library as a host does, acts
// as the host's process library, and runs a scenario against the driver.
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "front_end.h"
#include "one_shot.h"
#include "options.h"
#include "qel_version.h"
#include "read_input.h"
#include "runner.h"
#include "scenario.h"
#include "scenario_headers.h"
#include "visible.h"

namespace {

using qelhost::kExitMalformed;
using qelhost::kExitNoDriver;
using qelhost::kMaxInput;
using qelhost::kMaxShown;
using qelhost::LoadedDriver;
using qelhost::Refuse;

// A scenario's "# workdir:": the run's working directory, where the driver
// looks for its list file; a folder of its own for "empty".
struct Workdir {
    std::filesystem::path before;
    std::filesystem::path path;
    bool made = false;
};

bool EnterWorkdir(const std::string& header, const std::string& scenarioFile, Workdir* workdir, std::string* problem) {
    if (header.empty()) {
        return true;
    }
    std::error_code error;
    workdir->before = std::filesystem::current_path(error);
    if (header == qelhost::kEmptyWorkdir) {
        std::string file = qelhost::TemporaryTraceFile(problem);
        if (file.empty()) {
            return false;
        }
        std::filesystem::remove(file, error);
        workdir->made = std::filesystem::create_directory(file, error);
        workdir->path = file;
    } else {
        const std::string from = scenarioFile.empty() || scenarioFile == "-" ? "." : scenarioFile;
        workdir->path = std::filesystem::absolute(std::filesystem::path(from).parent_path() / header, error);
    }
    std::filesystem::current_path(workdir->path, error);
    if (error) {
        return qeltools::Fail(problem,
                              "the scenario's working directory (\"# workdir: " + qeltools::ShownArgument(header) +
                                  "\") cannot be entered: " + error.message() + ": " +
                                  qeltools::ShownArgument(workdir->path.string()));
    }
    return true;
}

void LeaveWorkdir(const Workdir& workdir) {
    std::error_code error;
    if (!workdir.before.empty()) {
        std::filesystem::current_path(workdir.before, error);
    }
    if (workdir.made) {
        std::filesystem::remove_all(workdir.path, error);
    }
}

// The instances of --instance: every scenario read and checked before the
// driver is loaded.
int RunInstances(const qelhost::Options& options) {
    std::vector<qelhost::Instance> instances;
    std::string problem;
    for (const qelhost::Options::InstanceArgs& given : options.instances) {
        std::string shownName = qeltools::VisibleShort(given.scenario, kMaxShown);
        std::string text;
        if (!qeltools::ReadInput(given.scenario, kMaxInput, &text, &problem)) {
            return Refuse(problem);
        }
        qelhost::Variables variables = options.variables;
        variables["PORT"] = given.port;
        qelhost::Instance instance{{}, options.run};
        instance.options.defaultPort = given.port;
        qelhost::ParseError error;
        if (!qelhost::ParseScenario(text, variables, &instance.scenario, &error)) {
            std::cerr << shownName << ":" << error.line << ": " << error.message << "\n";
            return kExitMalformed;
        }
        if (!instance.scenario.headers.workdir.empty()) {
            return Refuse(shownName +
                          ": \"# workdir:\" is for a scenario run alone: the instances share one "
                          "working directory");
        }
        instances.push_back(std::move(instance));
    }
    LoadedDriver loaded;
    if (!qelhost::LoadForRun(options, &loaded)) {
        return kExitNoDriver;
    }
    for (qelhost::Instance& instance : instances) {
        instance.options.driverTrace = loaded.trace;
    }
    std::ostream& out = qelhost::Human(options);
    out << "qelhost: driver " << qeltools::VisibleShort(loaded.path, kMaxShown) << "\n";
    for (size_t i = 0; i < options.instances.size(); ++i) {
        out << "qelhost: instance " << i + 1 << " on " << qeltools::VisibleShort(options.instances[i].port, kMaxShown)
            << ", scenario " << qeltools::VisibleShort(options.instances[i].scenario, kMaxShown) << "\n";
    }
    out << std::flush;
    int status = qelhost::RunInstances(instances, loaded.entry, out);
    qelhost::RemoveOwnTrace(loaded);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    qelhost::Options options;
    std::string problem;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!qelhost::ParseOptions(arguments, &options, &problem, qelhost::QuotedArguments(arguments.size()))) {
        return qelhost::Usage(problem);
    }
    std::mutex jsonLock;
    if (options.json) {
        options.run.json = qelhost::JsonSink{&std::cout, &jsonLock, 1};
    }
    if (options.help) {
        std::cout << qelhost::HelpText();
        return 0;
    }
    if (options.version) {
        std::cout << "qelhost " QELKOPHV_VERSION "\n";
        return 0;
    }
    if (!options.checkList.empty()) {
        return qelhost::CheckList(options.checkList);
    }
    if (!options.headers.empty()) {
        return qelhost::PrintHeaders(options.headers);
    }

    if (!options.instances.empty()) {
        return RunInstances(options);
    }

    if (options.scenario.empty() && options.oneShot.empty() && qelhost::StandardInputIsTerminal()) {
        // Nothing to run but what would be typed: the usage, not a silent wait.
        std::cerr << qelhost::UsageLines()
                  << "(qelhost --help for the whole usage; \"qelhost -\" reads a scenario typed here)\n";
        return kExitMalformed;
    }

    qelhost::Scenario scenario;
    std::string shownName = "(command line)";
    if (!options.oneShot.empty()) {
        if (!qelhost::ParseOneShot(options.oneShot, options.timeout, options.line, options.variables, &scenario,
                                   &problem)) {
            return qelhost::Usage(problem);
        }
    } else {
        std::string file = options.scenario.empty() ? "-" : options.scenario;
        shownName = file == "-" ? "(standard input)" : qeltools::VisibleShort(file, kMaxShown);
        std::string text;
        if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
            // A bare word that names no file was meant as a command.
            const bool bareWord = file.find_first_of("./\\") == std::string::npos;
            return Refuse(problem + (bareWord ? "; nor is it a command: " + qelhost::OneShotWords() : std::string()));
        }
        qelhost::ParseError error;
        if (!qelhost::ParseScenario(text, options.variables, &scenario, &error)) {
            std::cerr << shownName << ":" << error.line << ": " << error.message << "\n";
            return kExitMalformed;
        }
    }
    if (qelhost::RefuseDefaultPort(options, scenario, &problem)) {
        return Refuse(problem);
    }
    if (std::string warning = qelhost::DefaultPortWarning(options, scenario); !warning.empty()) {
        std::cerr << "qelhost: " << warning << "\n";
    }

    LoadedDriver loaded;
    if (!qelhost::LoadForRun(options, &loaded)) {
        return kExitNoDriver;
    }
    options.run.driverTrace = loaded.trace;
    options.run.oneShot = !options.oneShot.empty();
    std::ostream& out = qelhost::Human(options);
    out << "qelhost: driver " << qeltools::VisibleShort(loaded.path, kMaxShown) << "\nqelhost: scenario " << shownName
        << "\n"
        << std::flush;
    Workdir workdir;
    if (!EnterWorkdir(scenario.headers.workdir, options.scenario, &workdir, &problem)) {
        qelhost::RemoveOwnTrace(loaded);
        return Refuse(problem);
    }
    if (!scenario.headers.workdir.empty()) {
        out << "qelhost: working directory " << qeltools::VisibleShort(workdir.path.string(), kMaxShown) << "\n";
    }
    int status = qelhost::RunScenario(scenario, loaded.entry, options.run, out);
    LeaveWorkdir(workdir);
    qelhost::RemoveOwnTrace(loaded);
    return status;
}
