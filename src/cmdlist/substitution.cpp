// Gate references "@name$" in a command text replaced by the gates' current values.
#include "cmdlist/substitution.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "context/context.h"
#include "host/host_library.h"

namespace {

// Passed to the host unchanged; their meaning is the host library's.
constexpr int32_t kGateTextCall = 13;
constexpr int32_t kGateValueCall = 11;
// The host writes a gate's text into an area of this size.
constexpr size_t kHostTextSize = 100;

// The integer part of a gate's number, wrapped to its low 32 bits as a
// 32-bit host keeps it. Worked out in floating point (fmod is exact), so no
// number, however large, goes through an out-of-range conversion. A number
// that is not finite has no integer part.
bool LowWordOf(double number, int32_t* word) {
    if (!std::isfinite(number)) {
        return false;
    }
    constexpr double kWordRange = 4294967296.0;
    double wrapped = std::fmod(std::trunc(number), kWordRange);
    if (wrapped < 0) {
        wrapped += kWordRange;
    }
    *word = static_cast<int32_t>(static_cast<uint32_t>(wrapped));
    return true;
}

// Appends `count` characters if they fit before the NUL of an area of
// `areaSize` bytes.
bool Append(char* area, size_t areaSize, size_t* length, const char* characters, size_t count) {
    if (*length + count + 1 > areaSize) {
        return false;
    }
    std::memcpy(area + *length, characters, count);
    *length += count;
    return true;
}

// The value of the reference whose name runs from `name` to `close`. A name
// too long for the name area cannot be looked up and reads as no gate.
void ReferenceValue(uint32_t client, const char* name, const char* close, char* value) {
    value[0] = '\0';
    size_t length = static_cast<size_t>(close - name);
    if (length >= kWorkAreaSize) {
        return;
    }
    char gateName[kWorkAreaSize];
    std::memcpy(gateName, name, length);
    gateName[length] = '\0';
    LookupGateValue(client, gateName, value);
}

}  // namespace

void LookupGateValue(uint32_t client, const char* name, char* value) {
    value[0] = '\0';
    uint32_t gateId = 0;
    if (HostGetGateId(client, name, &gateId) != 0) {
        return;
    }
    uint32_t format = 0;
    if (HostGetGateFormat(client, gateId, &format) != 0) {
        return;
    }
    uint32_t unused32 = 0;
    uint16_t unused16 = 0;
    if (format == GATE_FORMAT_STRING) {
        char text[kHostTextSize] = {};
        if (HostGetGateStr(client, kGateTextCall, gateId, text, &unused32, &unused16) != 0) {
            return;
        }
        text[kHostTextSize - 1] = '\0';  // in case the host filled the area to its end
        std::snprintf(value, kWorkAreaSize, "%s", text);
        return;
    }
    double number = 0;
    int32_t word = 0;
    if (HostGetGateVal(client, kGateValueCall, gateId, &number, &unused32, &unused16) != 0 ||
        !LowWordOf(number, &word)) {
        return;
    }
    std::snprintf(value, kWorkAreaSize, "%d", static_cast<int>(word));
}

int32_t SubstituteGateValues(char* text, size_t capacity, uint32_t client) {
    const size_t areaSize = capacity < kWorkAreaSize ? capacity : kWorkAreaSize;
    char result[kWorkAreaSize];
    size_t length = 0;
    const char* walk = text;
    while (*walk != '\0') {
        if (*walk != '@') {
            if (!Append(result, areaSize, &length, walk, 1)) {
                return kFailed;
            }
            ++walk;
            continue;
        }
        const char* close = std::strchr(walk + 1, '$');
        if (close == nullptr) {
            break;  // an unclosed reference cuts the command here
        }
        char value[kWorkAreaSize];
        ReferenceValue(client, walk + 1, close, value);
        if (value[0] == '\0') {
            // Only the "@" goes: the name and "$" stay as plain text, and an
            // "@" inside the name may still open a reference of its own.
            ++walk;
            continue;
        }
        if (!Append(result, areaSize, &length, value, std::strlen(value))) {
            return kFailed;
        }
        walk = close + 1;
    }
    if (length + 1 > areaSize) {
        return kFailed;  // only when the caller's area has no room even for the NUL
    }
    result[length] = '\0';
    std::memcpy(text, result, length + 1);
    return kOk;
}
