// The command list file: the entry of a number found and its command delivered.
#include "cmdlist/command_list.h"

#include <cstdio>
#include <cstring>

#include "cmdlist/substitution.h"
#include "context/context.h"
#include "context/text.h"
#include "os/private_file.h"

namespace {

constexpr size_t kLineAreaSize = 2000;
// fgets keeps one place for the NUL.
constexpr int kReadLimit = kCommandListReadLimit + 1;

// The command goes out whole or not at all; the context keeps its length in
// 8 bits and substitution works in 255 characters.
constexpr size_t kCommandTextLimit = kWorkAreaSize - 1;

// Why a lookup failed, for the trace: it follows "entry N ".
constexpr const char* kNotInList = "not in the list";
constexpr const char* kNoList = "not in the list: the file has no line with StartOfCommandList";

// Where the reads come from: the file, or bytes read as fgets reads a file.
struct ListSource {
    FILE* file;
    const char* bytes;
    size_t size;
    size_t at;
    bool ended;  // a read met the end of the bytes
};

bool MoreToRead(const ListSource& source) {
    if (source.file != nullptr) {
        return std::feof(source.file) == 0 && std::ferror(source.file) == 0;
    }
    return !source.ended;
}

// Up to kReadLimit - 1 bytes, through the first LF.
bool ReadBytes(ListSource& source, char* line) {
    if (source.file != nullptr) {
        return std::fgets(line, kReadLimit, source.file) != nullptr;
    }
    size_t count = 0;
    while (count + 1 < static_cast<size_t>(kReadLimit) && source.at < source.size) {
        line[count++] = source.bytes[source.at++];
        if (line[count - 1] == kLineFeed) {
            break;
        }
    }
    if (count == 0 ||
        (source.at == source.size && line[count - 1] != kLineFeed && count + 1 < static_cast<size_t>(kReadLimit))) {
        source.ended = true;
    }
    line[count] = '\0';
    return count > 0;
}

// A read that delivers nothing gives an empty line. A CR just ahead of the
// closing LF is part of the line end, so a CR LF file reads as an LF file.
void ReadLine(ListSource& source, char* line) {
    if (!ReadBytes(source, line)) {
        line[0] = '\0';
        return;
    }
    size_t length = std::strlen(line);
    if (length >= 2 && line[length - 2] == kCarriageReturn && line[length - 1] == kLineFeed) {
        line[length - 2] = kLineFeed;
        line[length - 1] = '\0';
    }
}

// Number, comma, blanks, command text up to ";" or the line's end (its LF
// included). A line without a comma is no entry.
bool SplitEntry(const char* line, ListRead* read) {
    const char* comma = std::strchr(line, ',');
    if (comma == nullptr) {
        return false;
    }
    // Read as atoi would, but a number too large for 32 bits matches no
    // request instead of overflowing.
    read->number = ReadDecimal(line);
    const char* text = comma + 1;
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    read->command = text;
    read->commandLength = std::strcspn(text, ";");
    return true;
}

// The walk's state: the read in hand and the file's line it belongs to.
struct Walk {
    ListSource source;
    ListVisitor visitor;
    void* user;
    char line[kLineAreaSize];
    int32_t lineNumber;
    bool lineOpen;  // the last read ended within a line
};

// Reads once: the read's text and its line, its place not yet known.
ListRead Next(Walk& walk) {
    ReadLine(walk.source, walk.line);
    ListRead read{};
    read.text = walk.line;
    read.continued = walk.lineOpen;
    walk.lineNumber += walk.lineOpen ? 0 : 1;
    read.line = walk.lineNumber;
    const size_t length = std::strlen(walk.line);
    const bool endsLine = length > 0 && walk.line[length - 1] == kLineFeed;
    // A read stops at an LF, a full area or the end: short of all three, a
    // NUL hid the rest of the line.
    read.nulCut = !endsLine && length + 1 < static_cast<size_t>(kReadLimit) && MoreToRead(walk.source);
    walk.lineOpen = !endsLine && !read.nulCut;
    return read;
}

// Hands the read to the visitor; false when it says stop.
bool Hand(Walk& walk, ListRead& read, ListPlace place, bool inList) {
    read.place = place;
    read.entry = inList && SplitEntry(walk.line, &read);
    return walk.visitor(walk.user, &read);
}

bool Holds(const Walk& walk, const char* marker) {
    return std::strstr(walk.line, marker) != nullptr;
}

// The rest of the file, which the driver never reads.
void HandRest(Walk& walk, bool wholeFile, ListPlace place) {
    while (wholeFile && MoreToRead(walk.source)) {
        ListRead read = Next(walk);
        if (!Hand(walk, read, place, false)) {
            return;
        }
    }
}

}  // namespace

void WalkCommandList(FILE* file, const char* bytes, size_t size, bool wholeFile, ListVisitor visitor, void* user) {
    Walk walk{{file, bytes, size, 0, false}, visitor, user, {}, 0, false};
    bool started = false;
    for (int count = 0; count < kCommandListLineLimit && MoreToRead(walk.source) && !started; ++count) {
        ListRead read = Next(walk);
        started = Holds(walk, kCommandListStart);
        if (!Hand(walk, read, started ? ListPlace::kStart : ListPlace::kBeforeStart, false)) {
            return;
        }
    }
    if (!started) {
        return HandRest(walk, wholeFile, ListPlace::kUnread);
    }
    if (Holds(walk, kCommandListEnd)) {
        return HandRest(walk, wholeFile, ListPlace::kAfterEnd);
    }
    for (int count = 0; count < kCommandListLineLimit && MoreToRead(walk.source); ++count) {
        ListRead read = Next(walk);
        // The end marker's own line can be an entry.
        const bool end = Holds(walk, kCommandListEnd);
        if (!Hand(walk, read, end ? ListPlace::kEnd : ListPlace::kInside, true)) {
            return;
        }
        if (end) {
            return HandRest(walk, wholeFile, ListPlace::kAfterEnd);
        }
    }
    HandRest(walk, wholeFile, ListPlace::kUnread);
}

namespace {

// Leaves the destination untouched unless the whole command fits.
int32_t DeliverCommand(const ListRead& entry, uint32_t client, char* destination, size_t capacity, const char** why) {
    *why = "refused: its command is longer than 255 characters";
    if (entry.commandLength > kCommandTextLimit) {
        return kFailed;
    }
    char command[kWorkAreaSize];
    std::memcpy(command, entry.command, entry.commandLength);
    command[entry.commandLength] = '\0';
    if (std::memchr(command, '@', entry.commandLength) != nullptr &&
        SubstituteGateValues(command, sizeof command, client) != kOk) {
        *why = "refused: its command is longer than 255 characters once the gate values are put in";
        return kFailed;
    }
    size_t length = std::strlen(command);
    if (length >= capacity) {
        return kFailed;
    }
    std::memcpy(destination, command, length + 1);
    return kOk;
}

// A search for one entry: the first of its number is delivered.
struct Search {
    int32_t number;
    uint32_t client;
    char* destination;
    size_t capacity;
    const char* why;
    int32_t result;
};

bool SearchRead(void* user, const ListRead* read) {
    Search* search = static_cast<Search*>(user);
    if (read->place == ListPlace::kStart) {
        search->why = kNotInList;
    }
    if (!read->entry || read->number != search->number) {
        return true;
    }
    search->result = DeliverCommand(*read, search->client, search->destination, search->capacity, &search->why);
    return false;
}

}  // namespace

int32_t FindCommand(int32_t number, char* destination, size_t capacity, TraceFile* trace, uint32_t client) {
    // As bytes on every build: Windows' text mode would fold CR LF a second
    // time and end the file at a Ctrl-Z.
    FILE* file = OpenPrivateFile(kCommandListFile);
    if (file == nullptr) {
        TraceMissingFile(trace, kCommandListFile);
        return kFailed;
    }
    Search search{number, client, destination, capacity, kNoList, kFailed};
    WalkCommandList(file, nullptr, 0, false, SearchRead, &search);
    std::fclose(file);
    const char* why = search.why;
    const int32_t result = search.result;
    if (result == kOk || why == kNotInList || why == kNoList) {
        TraceListLookup(trace, kCommandListFile, number, result == kOk ? destination : nullptr);
    }
    if (result != kOk) {
        TraceReason(trace, "entry %d %s", static_cast<int>(number), why);
    }
    return result;
}
