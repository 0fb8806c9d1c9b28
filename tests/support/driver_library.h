// The built driver, loaded the way a host loads it.
#pragma once

#include "qelkophv/qelkophv.h"

// QelMain of the driver library beside the test program; fails the test
// binary loudly when the library cannot be loaded.
QelMainFn LoadedQelMain();
