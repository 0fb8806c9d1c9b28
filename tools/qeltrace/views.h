// The views of single requests and gates: --decode, --history and --at, as
// text or JSON.
#pragma once

#include <cstdint>
#include <ostream>

#include "gate_log.h"
#include "options.h"

namespace qeltrace {

// --decode, --history or --at over the files; the exit status.
int RunView(const Options& options, const std::vector<std::string>& files, int64_t firstLocalMs);

void WriteDecoded(const std::vector<GateRequest>& requests, std::ostream& out);
void WriteHistory(const std::vector<GateRequest>& requests, bool json, std::ostream& out);
// `shown` is the moment as it was given.
void WriteStateAt(const std::vector<GateRequest>& requests, int64_t atMs, bool wallTime, std::string_view shown,
                  bool json, std::ostream& out);

// One request's head as the views show it: "WRITE_GATE 0102 value 5".
std::string RequestTitle(const GateRequest& request);
// A TX or RX line with its hex bytes left out: what the user reads.
std::string ShownLine(std::string_view line);

}  // namespace qeltrace
