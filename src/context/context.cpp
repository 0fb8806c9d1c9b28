// The values shared by every context of the loaded library.
#include "context/context.h"

std::atomic<int32_t> g_readyLevel{0};
