// qelhost's command-line front end: its usage, what it says when misused,
// the commands that read a file and run nothing, and the driver loaded for
// a run.
#pragma once

#include <cstddef>
#include <iostream>
#include <string>

#include "options.h"
#include "qelkophv/qelkophv.h"

namespace qelhost {

// Problems quote what they were given: control bytes are shown, not sent
// to the terminal.
constexpr size_t kMaxShown = 300;

// A scenario or list larger than this is refused (/dev/zero would never end).
constexpr size_t kMaxInput = 4 * 1024 * 1024;

// --help's whole text.
std::string HelpText();
// The usage lines alone, for a qelhost started with nothing to run.
std::string UsageLines();

// The problem, and where to find the usage: the options were wrong.
int Usage(const std::string& problem);
// The problem alone: what was given cannot be run.
int Refuse(const std::string& problem);

// --check-list FILE.
int CheckList(const std::string& file);
// --headers FILE.
int PrintHeaders(const std::string& file);

// The driver found, its environment set, the trace read for reasons chosen
// and the library loaded: false (said on standard error) when any step fails.
struct LoadedDriver {
    QelMainFn entry = nullptr;
    std::string path;
    std::string trace;      // read for the reasons of failed requests
    std::string temporary;  // qelhost's own trace file, removed at the end
};

bool LoadForRun(const Options& options, LoadedDriver* loaded);
void RemoveOwnTrace(const LoadedDriver& loaded);

// The human text: on standard error when --json has standard output.
inline std::ostream& Human(const Options& options) {
    return options.run.json.out != nullptr ? std::cerr : std::cout;
}

}  // namespace qelhost
