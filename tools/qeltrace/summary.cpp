// Reading the trace's events into figures. Each instance keeps its open
// request and its line state while the lines go by; a request counts when
// its END comes (or, without one, when the next request or the trace's end
// shows it unfinished).
#include "summary.h"

#include <cstdint>
#include <cstdio>

#include "summary_open.h"
#include "visible.h"

namespace qeltrace {
namespace {

std::string_view After(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix ? text.substr(prefix.size()) : std::string_view{};
}

// The number at the start of text (digits only), and where it ended.
bool Number(std::string_view text, int64_t* value, size_t* end = nullptr) {
    size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    at += negative ? 1 : 0;
    int64_t result = 0;
    const size_t begin = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - begin < 15) {
        result = result * 10 + (text[at++] - '0');
    }
    if (at == begin) {
        return false;
    }
    *value = negative ? -result : result;
    if (end != nullptr) {
        *end = at;
    }
    return true;
}

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

Instance& Summary::InstanceFor(const TraceLine& line) {
    auto found = current_.find(line.instance);
    // A start names its port; the same number on another port (a host that
    // was restarted) is another line.
    std::string port;
    if (line.word == "LOAD") {
        port = std::string(After(line.body, "LOAD ").substr(0, After(line.body, "LOAD ").find(' ')));
    }
    if (found != current_.end()) {
        Instance& instance = instances_[found->second];
        if (port.empty() || instance.port == port) {
            return instance;
        }
        if (instance.port.empty()) {
            instance.port = port;
            return instance;
        }
    }
    for (size_t i = 0; i < instances_.size(); ++i) {
        if (instances_[i].number == line.instance && instances_[i].port == port) {
            current_[line.instance] = i;
            return instances_[i];
        }
    }
    instances_.push_back(Instance{});
    open_.emplace_back();
    instances_.back().number = line.instance;
    instances_.back().port = port;
    current_[line.instance] = instances_.size() - 1;
    return instances_.back();
}

void Summary::Feed(std::string_view text, const std::string& file, uint64_t lineNumber) {
    ++lines_;
    if (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    // Every line counts; only the first few are kept to show.
    auto keepNote = [&](uint64_t& count, std::vector<LineNote>& notes) {
        if (count++ < kNotesKept) {
            notes.push_back({file, lineNumber, qeltools::Visible(text.substr(0, kNoteShown))});
        }
    };
    TraceLine line;
    if (!ParseLine(text, &line)) {
        if (text.find_first_not_of(" \t") == std::string_view::npos) {
            return;  // a blank line says nothing
        }
        keepNote(malformed_, malformedNotes_);
        return;
    }
    if (line.kind == LineKind::kUnknown) {
        keepNote(unknown_, unknownNotes_);
    }
    if (line.kind == LineKind::kFile) {
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

    switch (line.kind) {
        case LineKind::kRequest:
            Request(instance, open, line, at);
            if (timeline_ && open.active) {
                open.lines.emplace_back(text.substr(0, kLineShown));
            }
            break;
        case LineKind::kEnd: {
            // END NAME result R after T ms
            std::string_view rest = After(line.body, "END ");
            const size_t space = rest.find(' ');
            const std::string_view name = rest.substr(0, space);
            rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
            int64_t result = 0, ms = 0;
            size_t end = 0;
            std::string_view after = After(rest, "result ");
            if (!Number(after, &result, &end) || !Number(After(after.substr(end), " after "), &ms) || ms < 0) {
                keepNote(malformed_, malformedNotes_);
                break;
            }
            if (!open.active) {
                // Its request line went with the part of the trace before this one.
                TraceLine begun = line;
                begun.word = name;
                begun.body = name;
                Request(instance, open, begun, at);
            }
            CloseRequest(instance, open, static_cast<int32_t>(result), static_cast<uint32_t>(ms));
            break;
        }
        case LineKind::kReason: {
            const std::string_view reason = After(line.body, "REASON ");
            if (open.active) {
                open.reasons.emplace_back(std::string(reason), at);
            } else if (!filter_.gate && InWindow(line)) {
                instance.figures.AddReason(reason, at, "");
            }
            break;
        }
        case LineKind::kRead: {
            // RX JUDGED [N ms after TX]: COUNT bytes ...
            const size_t colon = line.body.find(": ");
            int64_t count = 0;
            if (colon == std::string_view::npos || !Number(line.body.substr(colon + 2), &count)) {
                break;
            }
            if (line.body.substr(0, 11) == "RX refused ") {
                ++open.figures.refusals;
            }
            if (count == 0) {
                ++open.figures.silentReads;
                if (!open.silentSince) {
                    open.silentSince = at;
                }
            } else {
                open.silentSince.reset();
                if (open.state == "NO ANSWER" && !open.backAt) {
                    open.backAt = at;
                }
            }
            break;
        }
        case LineKind::kTry: {
            int64_t attempt = 0;
            if (Number(After(line.body, "TRY "), &attempt) && attempt > 1) {
                ++open.figures.retries;
            }
            break;
        }
        case LineKind::kNote:
            if (line.body.find("not confirmed") != std::string_view::npos) {
                open.unconfirmed = true;
            }
            break;
        case LineKind::kPort: {
            std::string_view rest = line.body;
            const size_t error = rest.find(" (OS error");
            rest = rest.substr(0, error);
            auto endsWith = [&](std::string_view tail) {
                return rest.size() > tail.size() && rest.substr(rest.size() - tail.size()) == tail;
            };
            if (endsWith(" reopen failed")) {
                ++instance.reopenFailures;
            } else if (endsWith(" reopened")) {
                if (open.lostAt) {
                    instance.reopens.push_back(Reopen{*open.lostAt, at, instance.number, instance.port});
                }
                if (open.state == "LOST" && !open.backAt) {
                    open.backAt = at;
                }
                open.lostAt.reset();
                open.silentSince.reset();
            } else if (endsWith(" lost")) {
                open.lostAt = at;
            } else if (endsWith(" opened")) {
                open.lostAt.reset();
                open.silentSince.reset();
            }
            break;
        }
        case LineKind::kStats: {
            // STATS line STATE since the start: ...
            const std::string_view rest = After(line.body, "STATS line ");
            const size_t since = rest.find(" since the start");
            if (since != std::string_view::npos) {
                State(instance, open, rest.substr(0, since), at);
            }
            break;
        }
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
                TimeStamp local{};
                if (ParseStamp(period.start.stamp, &local)) {
                    start.time = local;
                }
                if (ParseStamp(period.end.stamp, &local)) {
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
