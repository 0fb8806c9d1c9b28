// A scenario's headers: comment lines "# KEY: VALUE" that say how the
// scenario is to be run. qelhost is their one reader: it applies
// "# workdir:" itself, and prints them all for scripts/run-scenario and the
// build (qelhost --headers FILE), which start the switcher emulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelhost {

struct ScenarioHeaders {
    std::string needs;                       // first line only: "switcher", or ""
    std::vector<std::string> switcher;       // each line's options for the emulator, as written
    std::vector<std::string> switcherShows;  // texts the emulator must have printed
    std::optional<uint32_t> portHeldForMs;   // a second host holds the port this long first
    std::optional<uint32_t> limitSeconds;    // longest run allowed
    bool portLink = false;                   // the driver's port is a link to the line
    std::string workdir;                     // "empty", or a folder relative to the scenario's
};

// The word "empty" of "# workdir: empty": a new empty folder of the run's
// own (no qelkophv01.ini in it), removed afterwards.
constexpr std::string_view kEmptyWorkdir = "empty";

// Reads the headers; false with the problem in *error and its line (from 1)
// in *errorLine for a header whose value is malformed (a limit that is no
// number, ...).
bool ReadHeaders(std::string_view text, ScenarioHeaders* headers, std::string* error, int* errorLine);

// The headers a line each, "KEY VALUE", as --headers prints them.
std::string HeadersReport(const ScenarioHeaders& headers);

// Each header with what it does, for --help.
std::string HeadersHelp();

}  // namespace qelhost
