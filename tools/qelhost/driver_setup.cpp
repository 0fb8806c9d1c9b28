// The driver loaded for a run: found, its environment set and the trace
// read for the reasons of failed requests chosen first.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "driver_reasons.h"
#include "front_end.h"
#include "mox_binding.h"
#include "visible.h"

namespace qelhost {

namespace {

// The driver: --driver, else the first of the places qelhost looks that
// holds one.
bool FindDriver(const qelhost::Options& options, std::string* driver) {
    if (!options.driver.empty()) {
        std::error_code error;
        std::string absolute = std::filesystem::absolute(options.driver, error).string();
        *driver = error ? options.driver : absolute;
        return true;
    }
    std::vector<std::string> places = qelhost::DriverCandidates();
    for (const std::string& place : places) {
        if (qelhost::FileExists(place)) {
            *driver = place;
            return true;
        }
    }
    std::cerr << "qelhost: no driver found; looked for it at\n";
    for (const std::string& place : places) {
        std::cerr << "  " << qeltools::VisibleShort(place, kMaxShown) << "\n";
    }
    std::cerr << "name it with --driver PATH\n";
    return false;
}

// The trace file read for the reasons of failed requests: --driver-trace,
// else the QELKOPHV_TRACE of the environment, else a temporary file of
// qelhost's own (*temporary), removed at the end.
std::string ReasonTrace(const qelhost::Options& options, std::string* temporary) {
    std::string given = options.driverTrace;
    if (const char* set = std::getenv(qelhost::kDriverTraceVariable); given.empty() && set != nullptr) {
        given = set;
    }
    std::string problem;
    if (!given.empty()) {
        if (qelhost::UsableTraceFile(given, &problem)) {
            // Absolute: a scenario's "# workdir:" changes the working directory.
            std::error_code error;
            std::string absolute = std::filesystem::absolute(given, error).string();
            given = error ? given : absolute;
            qelhost::SetDriverVariable(qelhost::kDriverTraceVariable, given);
            return given;
        }
        // The driver would refuse it too: said once, and the reasons come
        // from a trace of qelhost's own.
        std::cerr << "qelhost: warning: the driver's trace " << qeltools::VisibleShort(given, kMaxShown)
                  << " cannot be used: " << problem << "\n";
        qelhost::SetDriverVariable(qelhost::kDriverTraceVariable, "");
    }
    if (options.noReasons) {
        return std::string();
    }
    *temporary = qelhost::TemporaryTraceFile(&problem);
    if (temporary->empty()) {
        std::cerr << "qelhost: warning: no reasons for failed requests: " << qeltools::VisibleShort(problem, kMaxShown)
                  << "\n";
        return std::string();
    }
    qelhost::SetDriverVariable(qelhost::kDriverTraceVariable, *temporary);
    return *temporary;
}

}  // namespace

bool LoadForRun(const qelhost::Options& options, LoadedDriver* loaded) {
    if (!FindDriver(options, &loaded->path)) {
        return false;
    }
    std::string missing;
    if (!qelhost::mox::Load(&missing)) {
        std::cerr << "qelhost: " << qeltools::VisibleShort(missing, kMaxShown) << "\n";
        return false;
    }
    qelhost::ApplyDriverEnvironment(options);
    loaded->trace = ReasonTrace(options, &loaded->temporary);
    std::string problem;
    loaded->entry = qelhost::LoadDriver(loaded->path, &problem);
    if (loaded->entry == nullptr) {
        std::cerr << "qelhost: cannot load the driver " << qeltools::VisibleShort(loaded->path, kMaxShown) << ": "
                  << qeltools::VisibleShort(problem, kMaxShown) << "\n";
        std::remove(loaded->temporary.c_str());
        return false;
    }
    return true;
}

void RemoveOwnTrace(const LoadedDriver& loaded) {
    if (!loaded.temporary.empty()) {
        std::remove(loaded.temporary.c_str());
        std::remove((loaded.temporary + ".1").c_str());
    }
}

}  // namespace qelhost
