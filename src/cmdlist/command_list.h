// The numbered command list "qelkophv01.ini" in the working directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "trace/trace.h"

constexpr const char* kCommandListFile = "qelkophv01.ini";

// How the file is read, for whoever must read it as the driver does: the
// entries stand between the lines that hold these markers; each marker is
// looked for in at most kCommandListLineLimit reads, and one read takes at
// most kCommandListReadLimit characters of a line (a longer line comes in
// pieces, each read as a line of its own).
constexpr const char* kCommandListStart = "StartOfCommandList";
constexpr const char* kCommandListEnd = "EndOfCommandList";
constexpr int kCommandListLineLimit = 10000;
constexpr int kCommandListReadLimit = 1899;

// Finds entry `number` and leaves its command text, gate values put in,
// NUL-terminated in `destination` (of `capacity` bytes). Returns 0 when
// found, 1 otherwise with `destination` untouched. The file is read afresh
// on every call. A command longer than 255 characters, before or after its
// gate values are put in, is refused with 1 rather than sent cut short.
// The lookup, and why it failed, go into `trace` when one is given; gate
// values are read as the host client `client` (the instance's own).
int32_t FindCommand(int32_t number, char* destination, size_t capacity, TraceFile* trace = nullptr,
                    uint32_t client = 0);
