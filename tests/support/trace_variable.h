// Switches the driver's trace for the tests of this process: the variable
// the driver reads at each load, set to a file name or removed.
#pragma once

#include <cstdlib>

#include "trace/trace.h"

inline void SetTraceVariable(const char* value) {
#if defined(_WIN32)
    _putenv_s(kTraceVariable, value == nullptr ? "" : value);
#else
    if (value == nullptr) {
        unsetenv(kTraceVariable);
    } else {
        setenv(kTraceVariable, value, 1);
    }
#endif
}
