// The reasons in the driver's trace, read from where the last request began.
#include "driver_reasons.h"

#include <fstream>
#include <vector>

#include "parse.h"

namespace qelhost {

namespace {

// One request's part of the trace is read up to this much: a request
// writes a few kilobytes at most.
constexpr uint64_t kMaxRead = 1 << 20;

uint64_t FileSize(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<uint64_t>(file.tellg()) : 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

DriverReasons::DriverReasons(std::string path) : path_(std::move(path)) {
    Mark();
}

void DriverReasons::Mark() {
    offset_ = path_.empty() ? 0 : FileSize(path_);
}

std::string DriverReasons::Take() {
    if (path_.empty()) {
        return std::string();
    }
    uint64_t size = FileSize(path_);
    // A trace that rolled over to FILE.1 began a new file.
    uint64_t from = size < offset_ ? 0 : offset_;
    offset_ = size;
    std::ifstream file(path_, std::ios::binary);
    if (!file || size <= from) {
        return std::string();
    }
    // Line by line: instances that share the trace file add their lines
    // too, and the host's memory should not follow how much they wrote.
    file.seekg(static_cast<std::streamoff>(from));
    uint64_t left = std::min(size - from, kMaxRead);
    std::vector<std::string> reasons;
    std::string line;
    while (left > 0 && std::getline(file, line)) {
        left -= std::min<uint64_t>(left, line.size() + 1);
        std::string reason = ReasonOfLine(line);
        bool seen = false;
        for (const std::string& other : reasons) {
            seen = seen || other == reason;
        }
        if (!reason.empty() && !seen) {
            reasons.push_back(reason);
        }
    }
    std::string joined;
    for (const std::string& reason : reasons) {
        joined += (joined.empty() ? "" : "; ") + reason;
    }
    return joined;
}

std::string ReasonOfLine(std::string_view line) {
    // The event's word is the line's first word of capitals alone: the time
    // stamp and the instance before it hold digits, and the traffic after it
    // (where a text may say REASON) comes later.
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        size_t end = at;
        bool capitals = true;
        while (end < line.size() && !IsBlank(line[end])) {
            capitals = capitals && ((line[end] >= 'A' && line[end] <= 'Z') || line[end] == '_');
            ++end;
        }
        if (capitals && end - at >= 2) {
            return line.substr(at, end - at) == "REASON" ? std::string(qeltools::Trim(line.substr(end)))
                                                         : std::string();
        }
        at = end;
    }
    return std::string();
}

}  // namespace qelhost
