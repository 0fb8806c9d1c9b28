// Loading the driver library by path, as a host does.
#pragma once

#include <string>

#include "qelkophv/qelkophv.h"

namespace qelhost {

// Loads the library at path and finds its QelMain. Returns nullptr and a
// message in *error when either fails.
QelMainFn LoadDriver(const std::string& path, std::string* error);

// The driver library in the folder of the running program.
std::string DefaultDriverPath();

}  // namespace qelhost
