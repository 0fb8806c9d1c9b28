// Reading the trace's events into figures. Each instance keeps its open
// request and its line state while the lines go by; a request counts when
// its END comes (or, without one, when the next request or the trace's end
// shows it unfinished).
#include "summary.h"

#include <cstdint>
#include <cstdio>

#include "qelkophv/qelkophv.h"
#include "summary_open.h"
#include "visible.h"

namespace qeltrace {
namespace {

constexpr size_t kLinesKept = 16;
constexpr size_t kLineShown = 240;
// A malformed line is shown this far, its control and other bytes made visible.
constexpr size_t kNoteShown = 120;

}  // namespace

Summary::Summary(Filter filter, bool timeline) : filter_(std::move(filter)), timeline_(timeline) {}
Summary::~Summary() = default;

bool Summary::InWindow(const TraceLine& line) const {
    const int64_t at = filter_.wallTime ? line.time.localMs : line.time.utcMs;
    return (!filter_.fromMs || at >= *filter_.fromMs) && (!filter_.toMs || at <= *filter_.toMs);
}

size_t Summary::InstanceKey::Hash::operator()(const InstanceKey& key) const {
    return std::hash<std::string>()(key.port) * 31 + std::hash<int32_t>()(key.number);
}

Instance& Summary::InstanceFor(const TraceLine& line) {
    // A start names its port; the same number on another port (a host that
    // was restarted) is another line.
    std::string port;
    RequestFields start{};
    if (line.request == REQ_LOAD && ReadRequest(line, &start)) {
        port = std::string(start.subject);
    }
    auto found = current_.find(line.instance);
    if (found != current_.end()) {
        Instance& instance = instances_[found->second];
        if (port.empty() || instance.port == port) {
            return instance;
        }
        if (instance.port.empty()) {
            instance.port = port;
            byKey_.emplace(InstanceKey{instance.number, port}, found->second);
            return instance;
        }
    }
    const auto [known, added] = byKey_.emplace(InstanceKey{line.instance, port}, instances_.size());
    if (added) {
        instances_.push_back(Instance{});
        open_.emplace_back();
        instances_.back().number = line.instance;
        instances_.back().port = port;
    }
    current_[line.instance] = known->second;
    return instances_[known->second];
}

void Summary::Feed(std::string_view text, const std::string& file, uint64_t lineNumber) {
    ++lines_;
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    if (file != file_) {
        file_ = file;
        format_.NewFile();
    }
    // Every line counts; only the first few are kept to show.
    auto keepNote = [&](uint64_t& count, std::vector<LineNote>& notes) {
        if (count++ < kNotesKept) {
            notes.push_back({file, lineNumber, qeltools::Visible(text.substr(0, kNoteShown))});
        }
    };
    TraceLine line;
    if (!qeltools::ParseTraceLine(text, &line)) {
        if (text.find_first_not_of(" \t") != std::string_view::npos) {
            keepNote(malformed_, malformedNotes_);
        }
        return;
    }
    if (refusal_.empty() && !format_.Feed(line, &refusal_)) {
        refusal_ = file + ": " + refusal_;
    }
    if (line.event == TraceEvent::kUnknown) {
        keepNote(unknown_, unknownNotes_);
    }
    // The format line is the file's, not an instance's.
    if (line.event == TraceEvent::kFormat) {
        return;
    }
    if (filter_.instance && line.instance != *filter_.instance) {
        return;
    }
    Instance& instance = InstanceFor(line);
    Open& open = open_[static_cast<size_t>(&instance - instances_.data())];
    const When at{std::string(line.stamp), line.time.utcMs};
    if (instance.first.stamp.empty()) {
        instance.first = at;
    }
    instance.last = at;
    if (timeline_ && open.active && open.lines.size() < kLinesKept) {
        open.lines.emplace_back(text.substr(0, kLineShown));
    }
    if (!Count(instance, open, line, at)) {
        keepNote(malformed_, malformedNotes_);
    }
    if (timeline_ && line.event == TraceEvent::kRequest && open.active) {
        open.lines.emplace_back(text.substr(0, kLineShown));
    }
}

bool Summary::Count(Instance& instance, Open& open, const TraceLine& line, const When& at) {
    switch (line.event) {
        case TraceEvent::kRequest:
            Request(instance, open, line, at);
            return true;
        case TraceEvent::kEnd:
            return End(instance, open, line, at);
        case TraceEvent::kReason:
            if (open.active) {
                open.reasons.emplace_back(std::string(line.fields), at);
            } else if (!filter_.gate && InWindow(line)) {
                instance.figures.AddReason(line.fields, at, "");
            }
            return true;
        case TraceEvent::kRead:
            Read(open, line, at);
            return true;
        case TraceEvent::kTry: {
            int64_t attempt = 0;
            if (qeltools::ReadTry(line, &attempt) && attempt > 1) {
                ++open.figures.retries;
            }
            return true;
        }
        case TraceEvent::kNote:
            open.unconfirmed = open.unconfirmed || qeltools::IsUnconfirmedNote(line);
            return true;
        case TraceEvent::kPort:
            Port(instance, open, line, at);
            return true;
        case TraceEvent::kStats: {
            std::string_view state;
            if (qeltools::ReadStats(line, &state)) {
                State(instance, open, state, at);
            }
            return true;
        }
        default:
            return true;
    }
}

bool Summary::End(Instance& instance, Open& open, const TraceLine& line, const When& at) {
    qeltools::EndFields end{};
    if (!qeltools::ReadEnd(line, &end)) {
        return false;
    }
    if (!open.active) {
        // Its request line went with the part of the trace before this one.
        TraceLine begun = line;
        begun.word = end.request;
        begun.body = end.request;
        begun.fields = {};
        begun.request = qeltools::RequestCode(end.request);
        Request(instance, open, begun, at);
    }
    CloseRequest(instance, open, static_cast<int32_t>(end.result), static_cast<uint32_t>(end.ms));
    return true;
}

void Summary::Read(Open& open, const TraceLine& line, const When& at) {
    qeltools::ReadFields read{};
    if (!qeltools::ReadRead(line, &read)) {
        return;
    }
    if (read.refused) {
        ++open.figures.refusals;
    }
    if (read.count == 0) {
        ++open.figures.silentReads;
        if (!open.silentSince) {
            open.silentSince = at;
        }
        return;
    }
    open.silentSince.reset();
    if (open.state == qeltools::kStateNoAnswer && !open.backAt) {
        open.backAt = at;
    }
}

void Summary::Port(Instance& instance, Open& open, const TraceLine& line, const When& at) {
    switch (qeltools::ReadPort(line)) {
        case PortChange::kReopenFailed:
            ++instance.reopenFailures;
            break;
        case PortChange::kReopened:
            if (open.lostAt) {
                instance.reopens.push_back(Reopen{*open.lostAt, at, instance.number, instance.port});
            }
            if (open.state == qeltools::kStateLost && !open.backAt) {
                open.backAt = at;
            }
            open.lostAt.reset();
            open.silentSince.reset();
            break;
        case PortChange::kLost:
            open.lostAt = at;
            break;
        case PortChange::kOpened:
            open.lostAt.reset();
            open.silentSince.reset();
            break;
        default:
            break;
    }
}

void Summary::Finish() {
    for (size_t i = 0; i < instances_.size(); ++i) {
        Instance& instance = instances_[i];
        Open& open = open_[i];
        if (open.active) {
            CloseRequest(instance, open, std::nullopt, 0);
        }
        if (!open.state.empty()) {
            const When end = instance.last.utcMs >= open.stateSince.utcMs ? instance.last : open.stateSince;
            instance.states.push_back(Period{open.state, open.stateSince, end, true, instance.number, instance.port});
            open.state.clear();
        }
        // Periods are kept only where they meet the window.
        if (filter_.fromMs || filter_.toMs) {
            std::vector<Period> kept;
            for (const Period& period : instance.states) {
                TraceLine start{}, end{};
                start.time = {period.start.utcMs, period.start.utcMs};
                end.time = {period.end.utcMs, period.end.utcMs};
                qeltools::TimeStamp local{};
                if (qeltools::ParseStamp(period.start.stamp, &local)) {
                    start.time = local;
                }
                if (qeltools::ParseStamp(period.end.stamp, &local)) {
                    end.time = local;
                }
                const int64_t from = filter_.fromMs.value_or(INT64_MIN);
                const int64_t to = filter_.toMs.value_or(INT64_MAX);
                const int64_t a = filter_.wallTime ? start.time.localMs : start.time.utcMs;
                const int64_t b = filter_.wallTime ? end.time.localMs : end.time.utcMs;
                if (b >= from && a <= to) {
                    kept.push_back(period);
                }
            }
            instance.states = std::move(kept);
        }
    }
}

Figures Summary::Total() const {
    Figures total;
    for (const Instance& instance : instances_) {
        total.Merge(instance.figures);
    }
    return total;
}

When Summary::First() const {
    When first;
    for (const Instance& instance : instances_) {
        if (first.stamp.empty() || instance.first.utcMs < first.utcMs) {
            first = instance.first;
        }
    }
    return first;
}

When Summary::Last() const {
    When last;
    for (const Instance& instance : instances_) {
        if (last.stamp.empty() || instance.last.utcMs > last.utcMs) {
            last = instance.last;
        }
    }
    return last;
}

std::string Period::EndNote() const {
    if (ongoing) {
        std::string shown = state;
        for (char& c : shown) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        return " (still " + shown + " at the end of the trace)";
    }
    return endedByStop ? " (ended by the stop)" : "";
}

std::string Length(int64_t ms) {
    char text[64];
    if (ms < 0) {
        ms = 0;
    }
    if (ms < 1000) {
        std::snprintf(text, sizeof text, "%lld ms", static_cast<long long>(ms));
    } else if (ms < 60000) {
        std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
    } else if (ms < 3600000 - 500) {
        // Whole seconds, rounded: a silence of 119.6 s reads as 2 min 0 s.
        const long long seconds = static_cast<long long>((ms + 500) / 1000);
        std::snprintf(text, sizeof text, "%lld min %lld s", seconds / 60, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %lld min", static_cast<long long>(ms / 3600000),
                      static_cast<long long>(ms % 3600000 / 60000));
    }
    return text;
}

}  // namespace qeltrace
