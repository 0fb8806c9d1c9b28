// Files the driver reads for itself, kept from the programs the host starts.
#pragma once

#include <cstdio>

// Opens `name` for reading as bytes ("rb"), not inherited by child
// processes; null when it cannot be opened.
FILE* OpenPrivateFile(const char* name);
