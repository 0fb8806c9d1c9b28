#include "views.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <iostream>

#include "inputs.h"
#include "json_writer.h"
#include "protocol/command_encoder.h"
#include "report.h"
#include "state_at.h"
#include "summary.h"
#include "trace_reader.h"

namespace qeltrace {
namespace {

std::string ResultText(const GateRequest& request) {
    return request.result ? std::to_string(*request.result) : "-";
}

std::string Took(const GateRequest& request) {
    return request.result ? std::to_string(request.ms) + " ms" : "-";
}

std::string ValueText(const GateRequest& request) {
    return request.hasValue ? request.value : "-";
}

void RequestJson(qeltools::JsonWriter& json, const GateRequest& request) {
    json.Begin('{').Key("time").String(request.stamp).Key("instance").Number(int64_t{request.instance});
    json.Key("request").String(request.request).Key("gate").String(request.gate);
    json.Key("value").String(ValueText(request));
    if (request.result) {
        json.Key("result").Number(int64_t{*request.result}).Key("ms").Number(uint64_t{request.ms});
    }
    json.Key("switcher").String(OutcomeName(request.outcome));
    if (!request.reason.empty()) {
        json.Key("reason").String(request.reason);
    }
    json.End('}');
}

// As the switcher holds it: bank 2 keeps the value less 16.
std::string BankText(const GateRequest* request, int bank) {
    if (request == nullptr) {
        return "unset";
    }
    const int value = std::atoi(request->value.c_str());
    return bank == 0 ? request->value : std::to_string(value - kBankSize) + " (value " + request->value + ")";
}

void HistoryRow(const GateRequest& request, std::ostream& out) {
    out << request.stamp << "  " << std::left << std::setw(6) << request.request.substr(0, request.request.find('_'))
        << " " << std::setw(16) << ValueText(request) << " result " << std::setw(2) << ResultText(request) << " "
        << std::setw(14) << OutcomeName(request.outcome) << std::right << std::setw(8) << Took(request);
    if (!request.reason.empty()) {
        out << "  " << request.reason;
    }
    out << "\n";
}

}  // namespace

int RunView(const Options& options, const std::vector<std::string>& files, int64_t firstLocalMs) {
    std::string error;
    int64_t atMs = 0;
    bool wallTime = false;
    if (!options.at.empty() && !ResolveTime(options.at, firstLocalMs, &atMs, &wallTime, &error)) {
        std::cerr << "qeltrace: --at: " << error << "\n";
        return 2;
    }
    GateLog log(options.filter, options.decode, options.decode);
    // A format this reader does not know is refused, as the summary does.
    qeltools::TraceFormat format;
    std::string refusal;
    for (const std::string& file : files) {
        format.NewFile();
        const bool read = ReadLines(
            file,
            [&](std::string_view line, const std::string&, uint64_t) {
                qeltools::TraceLine parsed;
                if (qeltools::ParseTraceLine(line, &parsed) && !format.Feed(parsed, &refusal)) {
                    return false;
                }
                log.Feed(line);
                return true;
            },
            &error);
        if (!refusal.empty()) {
            std::cerr << "qeltrace: " << refusal << "\n";
            return 2;
        }
        if (!read) {
            std::cerr << "qeltrace: " << error << "\n";
            return 2;
        }
    }
    log.Finish();
    if (options.decode) {
        WriteDecoded(log.Requests(), std::cout);
    } else if (options.history) {
        WriteHistory(log.Requests(), options.json, std::cout);
    } else {
        WriteStateAt(log.Requests(), atMs, wallTime, options.at, options.json, std::cout);
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
}

std::string RequestTitle(const GateRequest& request) {
    return request.lines.empty() ? request.request + " " + request.gate : request.lines.front().line;
}

std::string ShownLine(std::string_view line) {
    const size_t bytes = line.find(" bytes ");
    const size_t shown = line.find("  ", bytes == std::string_view::npos ? 0 : bytes);
    if (bytes == std::string_view::npos || shown == std::string_view::npos) {
        return std::string(line);
    }
    return std::string(line.substr(0, bytes + 7)) + std::string(line.substr(shown + 2));
}

void WriteDecoded(const std::vector<GateRequest>& requests, std::ostream& out) {
    for (const GateRequest& request : requests) {
        const bool exchanged = std::any_of(request.lines.begin(), request.lines.end(),
                                           [](const DecodedLine& line) { return !line.meaning.empty(); });
        if (!exchanged) {
            continue;
        }
        out << request.stamp << " [" << request.instance << "] " << RequestTitle(request) << "\n";
        for (size_t i = 1; i < request.lines.size(); ++i) {
            const DecodedLine& line = request.lines[i];
            out << "    " << ShownLine(line.line) << "\n";
            if (!line.meaning.empty()) {
                out << "        = " << line.meaning << "\n";
            }
        }
        if (request.result) {
            out << "    switcher: " << OutcomeName(request.outcome) << "\n";
        }
        out << "\n";
    }
}

void WriteHistory(const std::vector<GateRequest>& requests, bool json, std::ostream& out) {
    std::map<std::pair<int32_t, std::string>, std::vector<const GateRequest*>> gates;
    for (const GateRequest& request : requests) {
        gates[{request.instance, request.gate}].push_back(&request);
    }
    if (json) {
        qeltools::JsonWriter writer(out);
        writer.Begin('{').Key("qeltrace").Number(kJsonSchema).Key("gates").Begin('[');
        for (const auto& [key, list] : gates) {
            writer.Begin('{').Key("instance").Number(int64_t{key.first}).Key("gate").String(key.second);
            writer.Key("requests").Begin('[');
            for (const GateRequest* request : list) {
                RequestJson(writer, *request);
            }
            writer.End(']').End('}');
        }
        writer.End(']').End('}');
        out << "\n";
        return;
    }
    if (gates.empty()) {
        out << "no write or update of a gate in the trace (or in the part chosen)\n";
    }
    for (const auto& [key, list] : gates) {
        out << "gate " << key.second << ", instance " << key.first << ": " << list.size()
            << (list.size() == 1 ? " request" : " requests") << "\n";
        for (const GateRequest* request : list) {
            out << "  ";
            HistoryRow(*request, out);
        }
        out << "\n";
    }
}

void WriteStateAt(const std::vector<GateRequest>& requests, int64_t atMs, bool wallTime, std::string_view shown,
                  bool json, std::ostream& out) {
    const std::vector<GateState> states = StateAt(requests, atMs, wallTime);
    if (json) {
        qeltools::JsonWriter writer(out);
        writer.Begin('{').Key("qeltrace").Number(kJsonSchema).Key("gates").Begin('[');
        for (const GateState& state : states) {
            writer.Begin('{').Key("instance").Number(int64_t{state.instance}).Key("gate").String(state.gate);
            writer.Key("kind").String(state.kind);
            if (state.confirmed != nullptr) {
                RequestJson(writer.Key("confirmed"), *state.confirmed);
            }
            for (int bank = 0; bank < 2; ++bank) {
                if (state.bank[bank] != nullptr) {
                    writer.Key(bank == 0 ? "bank1" : "bank2").String(state.bank[bank]->value);
                }
            }
            writer.Key("since").Begin('[');
            for (const GateRequest* request : state.later) {
                RequestJson(writer, *request);
            }
            writer.End(']').End('}');
        }
        writer.End(']').End('}');
        out << "\n";
        return;
    }
    out << "The state at " << shown
        << ", as the driver set it and the switcher confirmed it;\n"
           "what other controllers of the switcher did is not in the trace.\n";
    if (states.empty()) {
        out << "no write or update of a gate before that moment\n";
    }
    for (const GateState& state : states) {
        out << "\ngate " << state.gate << " (" << state.kind << "), instance " << state.instance << ": ";
        if (state.confirmed == nullptr) {
            out << "nothing confirmed\n";
        } else {
            out << ValueText(*state.confirmed) << ", confirmed " << state.confirmed->stamp << "\n";
        }
        if (state.bank[0] != nullptr || state.bank[1] != nullptr) {
            out << "  bank 1 = " << BankText(state.bank[0], 0) << ", bank 2 = " << BankText(state.bank[1], 1) << "\n";
        }
        for (const GateRequest* request : state.later) {
            out << "  since then: ";
            HistoryRow(*request, out);
        }
    }
}

}  // namespace qeltrace
