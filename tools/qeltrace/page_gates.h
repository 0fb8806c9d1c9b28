// The page's part for gates: each gate's history (a numeric gate's values as
// a step plot, a text gate's texts as a list) and the table of the state at
// the moment picked on a timeline.
#pragma once

#include <ostream>
#include <vector>

#include "gate_log.h"

namespace qeltrace {

// The gates' section of the page, with its data and script.
void WriteGatePage(const std::vector<GateRequest>& requests, std::ostream& out);

}  // namespace qeltrace
