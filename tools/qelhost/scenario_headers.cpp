// The scenario headers: one table of their keys.
#include "scenario_headers.h"

#include "parse.h"
#include "scenario_tokens.h"

namespace qelhost {

namespace {

using Apply = bool (*)(std::string_view value, ScenarioHeaders* headers);

struct HeaderKey {
    const char* key;
    Apply apply;
    const char* help;
};

bool Seconds(std::string_view value, std::optional<uint32_t>* out) {
    uint64_t number = 0;
    if (!ParseNumber(value, 0xFFFFFFFF, &number)) {
        return false;
    }
    *out = static_cast<uint32_t>(number);
    return true;
}

constexpr HeaderKey kHeaders[] = {
    {"needs", nullptr,
     "first line only: the scenario needs a switcher (\"# needs: switcher\") on its port: the real one, or the "
     "emulator qelswitch started with the options of the \"# switcher:\" lines"},
    {"switcher",
     [](std::string_view value, ScenarioHeaders* headers) {
         headers->switcher.emplace_back(value);
         return true;
     },
     "options for the emulator, e.g. --refuse 2 or --text \"07=Studio A\"; repeatable"},
    {"switcher-shows",
     [](std::string_view value, ScenarioHeaders* headers) {
         headers->switcherShows.emplace_back(value);
         return !value.empty();
     },
     "the emulator printed a line that contains TEXT (its state report too); repeatable"},
    {"port-held-for",
     [](std::string_view value, ScenarioHeaders* headers) { return Seconds(value, &headers->portHeldForMs); },
     "MS: before the scenario a second host loads the driver on the same port and holds it MS milliseconds"},
    {"limit", [](std::string_view value, ScenarioHeaders* headers) { return Seconds(value, &headers->limitSeconds); },
     "SECONDS: the longest run a runner allows the scenario"},
    {"port",
     [](std::string_view value, ScenarioHeaders* headers) {
         headers->portLink = value == "link";
         return headers->portLink;
     },
     "link: the driver's port is a symbolic link to the emulator's line, whose name outlives a replug"},
    {"workdir",
     [](std::string_view value, ScenarioHeaders* headers) {
         headers->workdir = std::string(value);
         return !value.empty();
     },
     "DIR: the working directory of the run, where the driver looks for qelkophv01.ini, relative to the "
     "scenario's own folder; \"empty\": a new empty folder of the run's own (no list file), removed after it"},
};

}  // namespace

bool ReadHeaders(std::string_view text, ScenarioHeaders* headers, std::string* error, int* errorLine) {
    *headers = ScenarioHeaders{};
    for (int number = 1; !text.empty(); ++number) {
        size_t end = text.find('\n');
        std::string_view line = qeltools::Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line[0] != '#') {
            continue;
        }
        line = qeltools::Trim(line.substr(1));
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        std::string_view key = line.substr(0, colon);
        std::string_view value = qeltools::Trim(line.substr(colon + 1));
        for (const HeaderKey& header : kHeaders) {
            if (key != header.key) {
                continue;
            }
            // The runners read --headers through the shell, which drops a
            // NUL: the value would change on the way.
            if (value.find('\0') != std::string_view::npos) {
                *errorLine = number;
                return qeltools::Fail(error, "\"# " + std::string(key) + ":\" cannot take a NUL byte");
            }
            if (header.apply == nullptr) {
                headers->needs = number == 1 ? std::string(value) : headers->needs;
            } else if (!header.apply(value, headers)) {
                *errorLine = number;
                return qeltools::Fail(error,
                                      "\"# " + std::string(key) + ":\" cannot take \"" + std::string(value) + "\"");
            }
        }
    }
    return true;
}

std::string HeadersReport(const ScenarioHeaders& headers) {
    std::string report;
    const auto line = [&](const char* key, const std::string& value) {
        report += std::string(key) + " " + value + "\n";
    };
    if (!headers.needs.empty()) {
        line("needs", headers.needs);
    }
    for (const std::string& options : headers.switcher) {
        line("switcher", options);
    }
    for (const std::string& shows : headers.switcherShows) {
        line("switcher-shows", shows);
    }
    if (headers.portHeldForMs.has_value()) {
        line("port-held-for", std::to_string(*headers.portHeldForMs));
    }
    if (headers.limitSeconds.has_value()) {
        line("limit", std::to_string(*headers.limitSeconds));
    }
    if (headers.portLink) {
        line("port", "link");
    }
    if (!headers.workdir.empty()) {
        line("workdir", headers.workdir);
    }
    return report;
}

std::string HeadersHelp() {
    std::string help;
    for (const HeaderKey& header : kHeaders) {
        help += "  # " + std::string(header.key) + ": " + header.help + "\n";
    }
    return help;
}

}  // namespace qelhost
