// The numbered command list "qelkophv01.ini" in the working directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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

// Where a read of the list file stands. The driver reads up to the end
// marker's line; a checker may ask for the rest (kAfterEnd, kUnread: past
// a limit, where the driver stops looking).
enum class ListPlace : uint8_t { kBeforeStart, kStart, kInside, kEnd, kAfterEnd, kUnread };

// One read as the driver makes it: a line, or a piece of a longer one.
struct ListRead {
    const char* text;  // up to a NUL; a CR LF end reads as LF
    ListPlace place;
    int32_t line;         // the file's line, from 1
    bool continued;       // a later piece of a line longer than one read
    bool nulCut;          // a NUL byte ended the text before the line's end
    bool entry;           // inside the list (or on its end marker's line) with a comma
    int64_t number;       // an entry's number, as the driver reads it
    const char* command;  // an entry's command text, up to its ";" (or the line's end)
    size_t commandLength;
};

// Called for each read; false stops the walk.
typedef bool (*ListVisitor)(void* user, const ListRead* read);

// Walks the list as the driver reads it, from an open file or from bytes
// in memory (file null), calling the visitor for each read; beyond the end
// marker's line and the driver's limits only when wholeFile is set.
void WalkCommandList(FILE* file, const char* bytes, size_t size, bool wholeFile, ListVisitor visitor, void* user);

// Finds entry `number` and leaves its command text, gate values put in,
// NUL-terminated in `destination` (of `capacity` bytes). Returns 0 when
// found, 1 otherwise with `destination` untouched. The file is read afresh
// on every call. A command longer than 255 characters, before or after its
// gate values are put in, is refused with 1 rather than sent cut short.
// The lookup, and why it failed, go into `trace` when one is given; gate
// values are read as the host client `client` (the instance's own).
int32_t FindCommand(int32_t number, char* destination, size_t capacity, TraceFile* trace = nullptr,
                    uint32_t client = 0);
