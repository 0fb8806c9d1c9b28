// The values shared by every context of the loaded library.
#include "context/context.h"

int32_t g_readyLevel = 0;
uint8_t g_clientId = 0;
int32_t g_lastSendLength = 0;
