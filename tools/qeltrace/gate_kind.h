// Which command a gate's address stands for, by the driver's own parser.
#pragma once

#include <string>
#include <string_view>

namespace qeltrace {

enum class GateFormat { kNumeric, kString, kUnknown };

// "#", "marked #", "! byte", "! bits", "M", "L", "R", "SEND_STR", "list",
// a named gate's name; "unrecognised" for an address the driver refuses.
// An unknown format tries the string form first (updates are of "R" gates).
std::string GateKindOf(std::string_view address, GateFormat format);

}  // namespace qeltrace
