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

struct Entry {
    int64_t number;
    const char* text;
    size_t length;
};

bool MoreToRead(FILE* file) {
    return std::feof(file) == 0 && std::ferror(file) == 0;
}

// A read that delivers nothing gives an empty line. A CR just ahead of the
// closing LF is part of the line end, so a CR LF file reads as an LF file.
void ReadLine(FILE* file, char* line) {
    if (std::fgets(line, kReadLimit, file) == nullptr) {
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
bool SplitEntry(const char* line, Entry* entry) {
    const char* comma = std::strchr(line, ',');
    if (comma == nullptr) {
        return false;
    }
    // Read as atoi would, but a number too large for 32 bits matches no
    // request instead of overflowing.
    entry->number = ReadDecimal(line);
    const char* text = comma + 1;
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    entry->text = text;
    entry->length = std::strcspn(text, ";");
    return true;
}

// Leaves the destination untouched unless the whole command fits.
int32_t DeliverCommand(const Entry& entry, uint32_t client, char* destination, size_t capacity, const char** why) {
    *why = "refused: its command is longer than 255 characters";
    if (entry.length > kCommandTextLimit) {
        return kFailed;
    }
    char command[kWorkAreaSize];
    std::memcpy(command, entry.text, entry.length);
    command[entry.length] = '\0';
    if (std::memchr(command, '@', entry.length) != nullptr &&
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

// Leaves the start marker's line in `line` when it finds it.
bool FindStartMarker(FILE* file, char* line) {
    for (int count = 0; count < kCommandListLineLimit && MoreToRead(file); ++count) {
        ReadLine(file, line);
        if (std::strstr(line, kCommandListStart) != nullptr) {
            return true;
        }
    }
    return false;
}

int32_t SearchList(FILE* file, int32_t number, uint32_t client, char* destination, size_t capacity, const char** why) {
    char line[kLineAreaSize];
    *why = kNoList;
    if (!FindStartMarker(file, line)) {
        return kFailed;
    }
    *why = kNotInList;
    if (std::strstr(line, kCommandListEnd) != nullptr) {
        return kFailed;
    }
    for (int count = 0; count < kCommandListLineLimit && MoreToRead(file); ++count) {
        ReadLine(file, line);
        Entry entry;
        if (SplitEntry(line, &entry) && entry.number == number) {
            return DeliverCommand(entry, client, destination, capacity, why);
        }
        // Checked after the split: the end marker's own line can be an entry.
        if (std::strstr(line, kCommandListEnd) != nullptr) {
            return kFailed;
        }
    }
    return kFailed;
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
    const char* why = nullptr;
    int32_t result = SearchList(file, number, client, destination, capacity, &why);
    std::fclose(file);
    if (result == kOk || why == kNotInList || why == kNoList) {
        TraceListLookup(trace, kCommandListFile, number, result == kOk ? destination : nullptr);
    }
    if (result != kOk) {
        TraceReason(trace, "entry %d %s", static_cast<int>(number), why);
    }
    return result;
}
