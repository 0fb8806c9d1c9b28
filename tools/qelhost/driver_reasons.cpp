// The driver's trace, read from where the last request began.
#include "driver_reasons.h"

#include <filesystem>
#include <fstream>

#include "parse.h"
#include "qelkophv/qelkophv.h"
#include "scenario_tokens.h"
#include "trace/trace_platform.h"
#include "trace_reader.h"
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

// A read as the reader gives it, its bytes in the tools' notation.
TraceReply ReplyOf(const qeltools::ReadFields& read) {
    TraceReply reply;
    reply.judgement = std::string(read.judgement);
    reply.refused = read.refused;
    reply.judgedNone = read.judgedNone;
    reply.ms = read.afterMs;
    reply.bytes = qeltools::Visible(qeltools::HexBytes(read.data));
    return reply;
}

// A read as an integrator reads it.
std::string ReplyLine(const TraceReply& reply) {
    std::string when = reply.ms >= 0 ? std::to_string(reply.ms) + " ms after the message" : std::string();
    if (reply.bytes.empty()) {
        return "nothing came back" + (when.empty() ? std::string() : " (" + when + ")");
    }
    if (reply.refused) {
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
    // The driver decides: its NOTE marks a 0 no reply confirmed.
    return result == 0 && !unconfirmed;
}

int ReadTraceLine(std::string_view text, RequestTrace* request) {
    qeltools::TraceLine line{};
    if (!qeltools::ParseLooseTraceLine(text, &line)) {
        return line.instance;
    }
    qeltools::ReadFields read{};
    qeltools::RequestFields start{};
    if (line.event == qeltools::TraceEvent::kReason) {
        std::string reason(qeltools::Trim(line.fields));
        bool seen = reason.empty();
        for (const std::string& other : request->reasons) {
            seen = seen || other == reason;
        }
        if (!seen) {
            request->reasons.push_back(reason);
        }
    } else if (line.event == qeltools::TraceEvent::kTransmit) {
        request->out.push_back(qeltools::Visible(qeltools::HexBytes(line.fields)));
        request->traffic.push_back("sent " + request->out.back());
    } else if (qeltools::ReadRead(line, &read)) {
        request->back.push_back(ReplyOf(read));
        request->traffic.push_back(ReplyLine(request->back.back()));
    } else if (qeltools::IsUnconfirmedNote(line)) {
        request->unconfirmed = true;
    } else if (line.request == REQ_LOAD && qeltools::ReadRequest(line, &start)) {
        request->loadPort = std::string(qeltools::Trim(line.fields));
        request->instance = line.instance;
    }
    return line.instance;
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

RequestTrace DriverReasons::Take(const std::string& port, int32_t started) {
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
    bool startSeen = false;
    int byPort = 0;
    while (left > 0 && std::getline(file, line)) {
        left -= std::min<uint64_t>(left, line.size() + 1);
        RequestTrace probe;
        int instance = ReadTraceLine(line, &probe);
        startSeen = startSeen || (started > 0 && instance == started && !probe.loadPort.empty());
        if (!port.empty() && probe.loadPort == port) {
            byPort = instance;
        }
        lines.push_back(std::move(line));
    }
    // The port is the word of a driver whose record does not say; another
    // start on the same port may have written the line it finds.
    if (startSeen) {
        instance_ = started;
    } else if (byPort != 0) {
        instance_ = byPort;
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
