// The summary as people and programs read it: text, JSON, and one
// self-contained HTML page with a timeline per instance.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "gate_log.h"
#include "summary.h"

namespace qeltrace {

// The schema version of qeltrace's JSON: the "qeltrace" field that opens
// every object it writes.
constexpr int64_t kJsonSchema = 1;

void WriteText(const Summary& summary, const std::vector<std::string>& files, std::ostream& out);
void WriteJson(const Summary& summary, const std::vector<std::string>& files, std::ostream& out);
// With `gates`, the page also shows each gate's history and the state at a
// moment picked on the timeline.
void WriteHtml(const Summary& summary, const std::vector<std::string>& files, std::ostream& out,
               const std::vector<GateRequest>* gates = nullptr);

// The gates with the most failures, most first (at most `count`).
std::vector<std::pair<std::string, GateFailures>> WorstGates(const Figures& figures, size_t count);

}  // namespace qeltrace
