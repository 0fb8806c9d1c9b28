// The driver's trace, read from where the last request began.
#include "driver_reasons.h"

#include <filesystem>
#include <fstream>

#include "parse.h"
#include "scenario_tokens.h"
#include "trace/trace_platform.h"
#include "visible.h"

namespace qelhost {

namespace {

// One request's part of the trace is read up to this much: a request
// writes a few kilobytes at most.
constexpr uint64_t kMaxRead = 1 << 20;

// The size without opening: only a regular file is ever opened.
uint64_t FileSize(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return 0;
    }
    uint64_t size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsCapitalWord(std::string_view word) {
    for (char c : word) {
        if (!((c >= 'A' && c <= 'Z') || c == '_')) {
            return false;
        }
    }
    return word.size() >= 2;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// "N bytes HH HH ...  TEXT": the bytes of the hex pairs, in the tools'
// notation (a line the trace cut keeps the pairs it holds).
std::string BytesOf(std::string_view rest) {
    size_t at = rest.find(" bytes");
    if (at == std::string_view::npos) {
        return std::string();
    }
    at += 6;
    std::string bytes;
    while (at + 3 <= rest.size() && rest[at] == ' ' && HexDigit(rest[at + 1]) >= 0 && HexDigit(rest[at + 2]) >= 0 &&
           (at + 3 == rest.size() || rest[at + 3] == ' ')) {
        bytes += static_cast<char>(HexDigit(rest[at + 1]) * 16 + HexDigit(rest[at + 2]));
        at += 3;
    }
    return qeltools::Visible(bytes);
}

// "accepted 80 ms after TX: 5 bytes ...".
TraceReply ReplyOf(std::string_view rest) {
    TraceReply reply;
    size_t colon = rest.find(':');
    std::string_view head = rest.substr(0, colon);
    size_t after = head.find(" ms after TX");
    if (after != std::string_view::npos) {
        size_t number = head.rfind(' ', after - 1);
        number = number == std::string_view::npos ? 0 : number + 1;
        uint64_t ms = 0;
        if (ParseNumber(head.substr(number, after - number), 0xFFFFFFFF, &ms)) {
            reply.ms = static_cast<long long>(ms);
            head = head.substr(0, number);
        }
    }
    reply.judgement = std::string(qeltools::Trim(head));
    reply.bytes = colon == std::string_view::npos ? std::string() : BytesOf(rest.substr(colon + 1));
    return reply;
}

// The line's instance ("[N]") and its event: the first word of capitals
// alone (the time stamp and the instance hold digits, and the traffic,
// where a text may hold any word, comes after it).
struct LineParts {
    int instance = 0;
    std::string_view event;
    std::string_view rest;
};

LineParts Split(std::string_view line) {
    LineParts parts;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        size_t end = at;
        while (end < line.size() && !IsBlank(line[end])) {
            ++end;
        }
        std::string_view word = line.substr(at, end - at);
        uint64_t number = 0;
        if (word.size() > 2 && word.front() == '[' && word.back() == ']' &&
            ParseNumber(word.substr(1, word.size() - 2), 0xFFFF, &number)) {
            parts.instance = static_cast<int>(number);
        } else if (IsCapitalWord(word)) {
            parts.event = word;
            parts.rest = qeltools::Trim(line.substr(end));
            return parts;
        }
        at = end;
    }
    return parts;
}

// A read as an integrator reads it.
std::string ReplyLine(const TraceReply& reply) {
    std::string when = reply.ms >= 0 ? std::to_string(reply.ms) + " ms after the message" : std::string();
    if (reply.bytes.empty()) {
        return "nothing came back" + (when.empty() ? std::string() : " (" + when + ")");
    }
    if (reply.judgement == "refused") {
        return "refused " + reply.bytes + (when.empty() ? std::string() : " (" + when + ")");
    }
    return "came back " + reply.bytes + " (" + reply.judgement + (when.empty() ? std::string() : ", " + when) + ")";
}

}  // namespace

std::string RequestTrace::Reason() const {
    std::string joined;
    for (const std::string& reason : reasons) {
        joined += (joined.empty() ? "" : "; ") + reason;
    }
    return joined;
}

std::optional<bool> RequestTrace::Confirmed(int32_t result) const {
    if (out.empty()) {
        return std::nullopt;
    }
    if (result != 0 || unconfirmed) {
        return false;
    }
    for (const TraceReply& reply : back) {
        if (!reply.bytes.empty() && reply.judgement != "refused" && reply.judgement != "none") {
            return true;
        }
    }
    return false;
}

int ReadTraceLine(std::string_view line, RequestTrace* request) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    LineParts parts = Split(line);
    if (parts.event == "REASON") {
        std::string reason(parts.rest);
        bool seen = reason.empty();
        for (const std::string& other : request->reasons) {
            seen = seen || other == reason;
        }
        if (!seen) {
            request->reasons.push_back(reason);
        }
    } else if (parts.event == "TX") {
        request->out.push_back(BytesOf(parts.rest));
        request->traffic.push_back("sent " + request->out.back());
    } else if (parts.event == "RX") {
        request->back.push_back(ReplyOf(parts.rest));
        request->traffic.push_back(ReplyLine(request->back.back()));
    } else if (parts.event == "NOTE" && parts.rest.find("not confirmed") != std::string_view::npos) {
        request->unconfirmed = true;
    } else if (parts.event == "LOAD") {
        request->loadPort = std::string(parts.rest);
        request->instance = parts.instance;
    }
    return parts.instance;
}

std::string ReasonOfLine(std::string_view line) {
    RequestTrace request;
    ReadTraceLine(line, &request);
    return request.Reason();
}

DriverReasons::DriverReasons(std::string path, bool shared) : path_(std::move(path)), shared_(shared) {
    Mark();
}

void DriverReasons::Mark() {
    offset_ = path_.empty() ? 0 : FileSize(path_);
}

RequestTrace DriverReasons::Take(const std::string& port) {
    RequestTrace request;
    if (path_.empty()) {
        return request;
    }
    uint64_t size = FileSize(path_);
    // A trace that rolled over to FILE.1 began a new file.
    uint64_t from = size < offset_ ? 0 : offset_;
    offset_ = size;
    if (size <= from) {
        return request;
    }
    std::ifstream file(path_, std::ios::binary);
    if (!file) {
        return request;
    }
    // Line by line: instances that share the trace file add their lines
    // too, and the host's memory should not follow how much they wrote.
    file.seekg(static_cast<std::streamoff>(from));
    uint64_t left = std::min(size - from, kMaxRead);
    std::vector<std::string> lines;
    std::string line;
    while (left > 0 && std::getline(file, line)) {
        left -= std::min<uint64_t>(left, line.size() + 1);
        RequestTrace probe;
        int instance = ReadTraceLine(line, &probe);
        if (!port.empty() && probe.loadPort == port) {
            instance_ = instance;
        }
        lines.push_back(std::move(line));
    }
    for (const std::string& each : lines) {
        RequestTrace probe;
        if (!shared_ || (instance_ != 0 && ReadTraceLine(each, &probe) == instance_)) {
            ReadTraceLine(each, &request);
        }
    }
    return request;
}

bool UsableTraceFile(const std::string& path, std::string* problem) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return qeltools::Fail(problem, "it is a folder");
    }
    // The driver's own rules: a device name refused by its form, anything
    // but a regular file refused without waiting on it.
    intptr_t handle = TraceNameIsDevice(path.c_str()) ? kNoTraceHandle : TraceFileOpen(path.c_str());
    if (handle == kNoTraceHandle) {
        return qeltools::Fail(problem, "the driver cannot write it there (a device, a FIFO, or no such folder)");
    }
    TraceFileClose(handle);
    return true;
}

}  // namespace qelhost
