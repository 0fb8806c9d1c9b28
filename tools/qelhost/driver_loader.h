// Loading the driver library by path, as a host does.
#pragma once

#include <string>

#include "qelkophv/qelkophv.h"

namespace qelhost {

// Loads the library at path and finds its QelMain. Returns nullptr and a
// message in *error when either fails.
QelMainFn LoadDriver(const std::string& path, std::string* error);

// Sets an environment variable of this process, where the driver loaded
// into it reads it (getenv, GetEnvironmentVariableA).
void SetDriverVariable(const std::string& name, const std::string& value);

// The driver library in the folder of the running program.
std::string DefaultDriverPath();

}  // namespace qelhost
