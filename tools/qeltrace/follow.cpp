#include "follow.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "qelkophv/qelkophv.h"
#include "trace/trace_grammar.h"
#include "trace_reader.h"
#include "visible.h"

#ifdef _WIN32
#include <io.h>
#define QEL_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define QEL_ISATTY(fd) isatty(fd)
#endif

namespace qeltrace {
namespace {

constexpr int64_t kMinuteMs = 60000;
constexpr size_t kHeadBytes = 64;
constexpr auto kPollInterval = std::chrono::milliseconds(250);
constexpr auto kStatusInterval = std::chrono::seconds(1);

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int) {
    g_stop.store(true);
}

// The requests that change what a gate shows on the switcher.
bool IsGateRequest(std::string_view request) {
    const int32_t code = qeltools::RequestCode(request);
    return code == REQ_WRITE_GATE || code == REQ_UPDATE_GATE || code == REQ_BLOCK_WRITE;
}

std::string Prefix(const qeltools::TraceLine& line) {
    return std::string(line.stamp) + " [" + std::to_string(line.instance) + "] ";
}

int64_t NowUtcMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Head(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(kHeadBytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<size_t>(in.gcount()));
    return head;
}

}  // namespace

std::vector<std::string> FollowState::Feed(std::string_view text) {
    std::vector<std::string> events;
    qeltools::TraceLine line;
    if (!qeltools::ParseTraceLine(text, &line)) {
        return events;
    }
    Current& current = instances_[line.instance];
    std::string_view state;
    qeltools::ReadFields read{};
    qeltools::EndFields end{};
    const qeltools::PortChange port = qeltools::ReadPort(line);
    if (line.event == qeltools::TraceEvent::kRequest) {
        current.request = std::string(line.body);
        current.reason.clear();
    } else if (line.event == qeltools::TraceEvent::kReason) {
        current.reason = std::string(line.fields);
    } else if (qeltools::ReadStats(line, &state)) {
        if (state != current.state) {
            events.push_back(Prefix(line) + "line " + (current.state == "?" ? "" : current.state + " -> ") +
                             std::string(state));
            current.state = std::string(state);
        }
    } else if (port == qeltools::PortChange::kLost || port == qeltools::PortChange::kReopened) {
        events.push_back(Prefix(line) + std::string(line.body));
    } else if (qeltools::ReadRead(line, &read) &&
               read.judgement == kTraceReplyWords[static_cast<size_t>(TraceReply::kRefused)]) {
        events.push_back(Prefix(line) + "refused: " + current.request);
    } else if (qeltools::ReadEnd(line, &end) && IsGateRequest(end.request)) {
        const bool failed = end.result != 0;
        ends_.emplace_back(line.time.utcMs, failed);
        if (failed) {
            const std::string why = current.reason.empty() ? "" : ": " + current.reason;
            events.push_back(Prefix(line) + "failed: " + current.request + why);
            lastReason_ = current.reason;
        }
    }
    return events;
}

std::string FollowState::Status(int64_t nowUtcMs) {
    while (!ends_.empty() && ends_.front().first < nowUtcMs - kMinuteMs) {
        ends_.pop_front();
    }
    size_t failures = 0;
    for (const auto& end : ends_) {
        failures += end.second ? 1 : 0;
    }
    std::string status = "line";
    for (const auto& [instance, current] : instances_) {
        status += " [" + std::to_string(instance) + "] " + current.state;
    }
    if (instances_.empty()) {
        status += " -";
    }
    status += "; last minute: " + std::to_string(ends_.size()) + " requests, " + std::to_string(failures) + " failed";
    if (!lastReason_.empty()) {
        status += "; last reason: " + qeltools::VisibleShort(lastReason_, 80);
    }
    return status;
}

void FileTail::ReadFrom(const std::string& path, std::vector<std::string>* lines) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return;
    }
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    offset_ += chunk.size();
    size_t start = 0;
    for (size_t end = chunk.find('\n'); end != std::string::npos; end = chunk.find('\n', start)) {
        partial_.append(chunk, start, end - start);
        if (!partial_.empty() && partial_.back() == '\r') {
            partial_.pop_back();
        }
        lines->push_back(std::move(partial_));
        partial_.clear();
        start = end + 1;
    }
    partial_.append(chunk, start, std::string::npos);
}

bool FileTail::Ours(const std::string& head) const {
    return head.substr(0, head_.size()) == head_.substr(0, head.size());
}

void FileTail::Poll(std::vector<std::string>* lines, std::vector<std::string>* notes) {
    std::error_code missing;
    const uint64_t size = std::filesystem::file_size(path_, missing);
    if (!missing && size == offset_ && !away_) {
        return;
    }
    const std::string head = missing ? std::string() : Head(path_);
    if (missing && head_.empty()) {
        return;  // nothing followed yet, and nothing there
    }
    if (!missing && size >= offset_ && (offset_ == 0 || Ours(head))) {
        head_ = head;
        ReadFrom(path_, lines);
        return;
    }
    // The file followed is no longer under its name: its last lines are read
    // under FILE.1 when it went there (a roll-over, or a rename by hand).
    const std::string older = path_ + ".1";
    std::error_code noOlder;
    const uint64_t olderSize = std::filesystem::file_size(older, noOlder);
    const bool rolled = !noOlder && Ours(Head(older));
    if (rolled && olderSize > offset_) {
        ReadFrom(older, lines);
    }
    if (!away_) {
        notes->push_back("-- " + path_ + (rolled ? " was rolled over to " + older : " went away or was replaced"));
        away_ = true;
    }
    if (missing) {
        return;
    }
    notes->push_back("-- following the new " + path_);
    away_ = false;
    partial_.clear();
    offset_ = 0;
    head_ = head;
    ReadFrom(path_, lines);
}

int Follow(const std::string& path) {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
    const bool terminal = QEL_ISATTY(1) != 0;
    FileTail tail(path);
    FollowState state;
    std::vector<std::string> lines, notes;
    // What is already there sets the state; only what comes is shown.
    tail.Poll(&lines, &notes);
    for (const std::string& line : lines) {
        state.Feed(line);
    }
    std::cout << "qeltrace: following " << path << " (Ctrl-C ends)\n";
    std::string shown;
    auto lastStatus = std::chrono::steady_clock::now() - kStatusInterval;
    while (!g_stop.load()) {
        lines.clear();
        notes.clear();
        tail.Poll(&lines, &notes);
        std::vector<std::string> events = std::move(notes);
        for (const std::string& line : lines) {
            for (std::string& event : state.Feed(line)) {
                events.push_back(std::move(event));
            }
        }
        if (!events.empty() && terminal) {
            std::cout << "\r\033[K";
            shown.clear();
        }
        for (const std::string& event : events) {
            std::cout << event << "\n";
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastStatus >= kStatusInterval) {
            const std::string status = state.Status(NowUtcMs());
            if (status != shown || !events.empty()) {
                std::cout << (terminal ? "\r\033[K" : "") << status << (terminal ? "" : "\n");
                shown = status;
            }
            lastStatus = now;
        }
        std::cout.flush();
        std::this_thread::sleep_for(kPollInterval);
    }
    std::cout << (terminal ? "\n" : "") << "qeltrace: stopped following " << path << "\n";
    return 0;
}

}  // namespace qeltrace
