// Reading the trace's events into figures. Each instance keeps its open
// request and its line state while the lines go by; a request counts when
// its END comes (or, without one, when the next request or the trace's end
// shows it unfinished).
#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gate_kind.h"
#include "visible.h"

namespace qeltrace {
namespace {

struct RequestName {
    std::string_view word;
    const char* kind;
};
constexpr RequestName kRequestNames[] = {
    {"LOAD", "start"},
    {"WARM_START", "warm start"},
    {"REGISTER_GATE", "register"},
    {"NOP", "nop"},
    {"UPDATE_GATE", "update"},
    {"READ_GATE", "read"},
    {"WRITE_GATE", "write"},
    {"BLOCK_WRITE", "block write"},
    {"STOP", "stop"},
    {"CLOSE_PORT", "close"},
    {"OPEN_PORT", "open"},
    {"GET_INFO", "info"},
    {"RECONFIGURE_PORT", "reconfigure"},
};

// Requests that name a gate, and so have a gate kind.
bool NamesGate(std::string_view word) {
    return word == "WRITE_GATE" || word == "UPDATE_GATE" || word == "READ_GATE" || word == "REGISTER_GATE";
}

std::string KindOfRequest(std::string_view word) {
    for (const RequestName& name : kRequestNames) {
        if (name.word == word) {
            return name.kind;
        }
    }
    return std::string(word);  // CODE_n
}

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

// A reason's words: a quoted text is one word, kept with its quotes.
std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && text[at] == ' ') {
            ++at;
        }
        if (at >= text.size()) {
            break;
        }
        size_t end = at;
        if (text[at] == '"') {
            end = text.find("\" ", at + 1);
            end = end == std::string_view::npos ? text.size() : end + 1;
        } else {
            end = text.find(' ', at);
            end = end == std::string_view::npos ? text.size() : end;
        }
        words.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return words;
}

// What varies between reasons of one kind: numbers, names with digits
// (ports, gates), quoted texts. Such words stand for any value in the key.
bool Varies(const std::string& word) {
    return word.find_first_of("0123456789") != std::string::npos || (!word.empty() && word[0] == '"');
}

constexpr size_t kGatesKept = 5;
constexpr size_t kLinesKept = 16;
constexpr size_t kLineShown = 240;
// A malformed line is shown this far, its control and other bytes made visible.
constexpr size_t kNoteShown = 120;
constexpr const char* kAny = "\xE2\x80\xA6";  // …

int ResultClass(std::optional<int32_t> result, bool unconfirmed) {
    if (!result) {
        return 3;
    }
    switch (*result) {
        case 0:
            return unconfirmed ? 1 : 0;
        case 1:
            return 2;
        default:
            return 3;
    }
}

}  // namespace

// What one instance has under way.
struct Summary::Open {
    bool active = false;
    bool counted = false;  // started inside the filter's window
    std::string kind, gate, gateKind;
    When start;
    RequestFigures figures;  // the request's own tries, refusals, reads
    bool unconfirmed = false;
    std::vector<std::pair<std::string, When>> reasons;
    std::vector<std::string> lines;
    // The line state as the STATS lines tell it, and what leads up to a change.
    std::string state;
    When stateSince;
    std::optional<When> silentSince;  // the first read of the current run of reads that brought nothing
    std::optional<When> lostAt;       // the port went away, not yet reopened
    std::optional<When> backAt;       // the first answer after a silence, or the reopen after a loss
};

void Durations::Add(uint32_t ms, const When& start) {
    ++counts[ms];
    ++total;
    if (total == 1 || ms > maxMs) {
        maxMs = ms;
        slowest = start;
    }
}

void Durations::Merge(const Durations& other) {
    for (const auto& [ms, count] : other.counts) {
        counts[ms] += count;
    }
    if (other.total > 0 && (total == 0 || other.maxMs > maxMs)) {
        maxMs = other.maxMs;
        slowest = other.slowest;
    }
    total += other.total;
}

uint32_t Durations::Percentile(double share) const {
    if (total == 0) {
        return 0;
    }
    const auto rank = static_cast<uint64_t>(std::ceil(share * static_cast<double>(total)));
    uint64_t seen = 0;
    for (const auto& [ms, count] : counts) {
        seen += count;
        if (seen >= rank) {
            return ms;
        }
    }
    return maxMs;
}

void RequestFigures::Merge(const RequestFigures& other) {
    requests += other.requests;
    for (int i = 0; i < 3; ++i) {
        results[i] += other.results[i];
    }
    otherResults += other.otherResults;
    unfinished += other.unfinished;
    retries += other.retries;
    refusals += other.refusals;
    silentReads += other.silentReads;
    unconfirmed += other.unconfirmed;
    time.Merge(other.time);
}

std::string ReasonGroup::Text() const {
    std::string text;
    for (const std::string& word : words) {
        text += text.empty() ? "" : " ";
        text += word;
    }
    return text;
}

void Figures::AddReason(std::string_view text, const When& at, std::string_view gate) {
    std::vector<std::string> words = Words(text);
    std::string key;
    for (const std::string& word : words) {
        key += Varies(word) ? std::string("#") : word;
        key += ' ';
    }
    auto group = std::find_if(reasons.begin(), reasons.end(), [&](const ReasonGroup& g) { return g.key == key; });
    if (group == reasons.end()) {
        reasons.push_back(ReasonGroup{key, std::move(words), 0, at, at, {}, 0});
        group = reasons.end() - 1;
    } else {
        for (size_t i = 0; i < group->words.size() && i < words.size(); ++i) {
            if (group->words[i] != words[i]) {
                group->words[i] = kAny;
            }
        }
    }
    ++group->count;
    group->last = at;
    if (!gate.empty() && std::find(group->gates.begin(), group->gates.end(), gate) == group->gates.end()) {
        if (group->gates.size() < kGatesKept) {
            group->gates.emplace_back(gate);
        } else {
            ++group->moreGates;
        }
    }
}

void Figures::Merge(const Figures& other) {
    for (const auto& [name, figures] : other.byRequest) {
        byRequest[name].Merge(figures);
    }
    for (const auto& [name, figures] : other.byGateKind) {
        byGateKind[name].Merge(figures);
    }
    all.Merge(other.all);
    for (const ReasonGroup& theirs : other.reasons) {
        auto group =
            std::find_if(reasons.begin(), reasons.end(), [&](const ReasonGroup& g) { return g.key == theirs.key; });
        if (group == reasons.end()) {
            reasons.push_back(theirs);
            continue;
        }
        for (size_t i = 0; i < group->words.size() && i < theirs.words.size(); ++i) {
            if (group->words[i] != theirs.words[i]) {
                group->words[i] = kAny;
            }
        }
        group->count += theirs.count;
        if (theirs.first.utcMs < group->first.utcMs) {
            group->first = theirs.first;
        }
        if (theirs.last.utcMs > group->last.utcMs) {
            group->last = theirs.last;
        }
        for (const std::string& gate : theirs.gates) {
            if (std::find(group->gates.begin(), group->gates.end(), gate) != group->gates.end()) {
                continue;
            }
            if (group->gates.size() < kGatesKept) {
                group->gates.push_back(gate);
            } else {
                ++group->moreGates;
            }
        }
        group->moreGates += theirs.moreGates;
    }
    for (const auto& [gate, failures] : other.gates) {
        GateFailures& mine = gates[gate];
        mine.requests += failures.requests;
        mine.failed += failures.failed;
        if (failures.lastFailure.utcMs > mine.lastFailure.utcMs) {
            mine.lastFailure = failures.lastFailure;
        }
    }
    starts += other.starts;
    stops += other.stops;
}

void Timeline::Add(int64_t atMs, int resultClass, uint32_t durationMs, std::string title,
                   std::vector<std::string> lines) {
    if (slots.empty()) {
        slots.resize(kSlots);
        originMs = atMs;
    }
    if (atMs < originMs) {
        atMs = originMs;  // a clock set back: the mark stays at the start
    }
    while ((atMs - originMs) / slotMs >= static_cast<int64_t>(kSlots)) {
        // Twice the time per slot: neighbours merge into the first half.
        for (size_t i = 0; i < kSlots / 2; ++i) {
            Mark merged = std::move(slots[2 * i]);
            Mark& next = slots[2 * i + 1];
            if (merged.rank < 0) {
                merged = std::move(next);
            } else if (next.rank >= 0) {
                for (int k = 0; k < 4; ++k) {
                    merged.counts[k] += next.counts[k];
                }
                merged.maxMs = std::max(merged.maxMs, next.maxMs);
                if (next.rank > merged.rank) {
                    merged.rank = next.rank;
                    merged.title = std::move(next.title);
                    merged.lines = std::move(next.lines);
                }
            }
            slots[i] = std::move(merged);
        }
        for (size_t i = kSlots / 2; i < kSlots; ++i) {
            slots[i] = Mark{};
        }
        slotMs *= 2;
    }
    Mark& mark = slots[static_cast<size_t>((atMs - originMs) / slotMs)];
    if (mark.rank < 0) {
        mark.startMs = atMs;
    }
    ++mark.counts[resultClass];
    mark.maxMs = std::max(mark.maxMs, durationMs);
    // The worst result first; among equals the slowest request.
    const int weighed = resultClass * 1000000 + static_cast<int>(std::min<uint32_t>(durationMs, 999999));
    if (weighed > mark.rank) {
        mark.rank = weighed;
        mark.title = std::move(title);
        mark.lines = std::move(lines);
    }
}

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
    TraceLine line;
    if (!ParseLine(text, &line)) {
        if (text.find_first_not_of(" \t") == std::string_view::npos) {
            return;  // a blank line says nothing
        }
        if (malformed_++ < kNotesKept) {
            malformedNotes_.push_back({file, lineNumber, qeltools::Visible(text.substr(0, kNoteShown))});
        }
        return;
    }
    if (line.kind == LineKind::kUnknown) {
        if (unknown_++ < kNotesKept) {
            unknownNotes_.push_back({file, lineNumber, qeltools::Visible(text.substr(0, kNoteShown))});
        }
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
                if (malformed_++ < kNotesKept) {
                    malformedNotes_.push_back({file, lineNumber, qeltools::Visible(text.substr(0, kNoteShown))});
                }
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

void Summary::Request(Instance& instance, Open& open, const TraceLine& line, const When& at) {
    if (open.active) {
        CloseRequest(instance, open, std::nullopt, 0);
    }
    open.active = true;
    open.counted = InWindow(line);
    open.kind = KindOfRequest(line.word);
    open.gate.clear();
    open.gateKind.clear();
    open.start = at;
    open.figures = RequestFigures{};
    open.unconfirmed = false;
    open.reasons.clear();
    open.lines.clear();
    if (NamesGate(line.word) && line.body.size() > line.word.size() + 1) {
        std::string_view rest = line.body.substr(line.word.size() + 1);
        GateFormat format = GateFormat::kUnknown;
        size_t end = rest.rfind(" value ");
        if (end != std::string_view::npos) {
            format = GateFormat::kNumeric;
        } else if ((end = rest.find(" text \"")) != std::string_view::npos) {
            format = GateFormat::kString;
        }
        open.gate = std::string(rest.substr(0, end));
        open.gateKind = line.word == "REGISTER_GATE" ? "" : GateKindOf(open.gate, format);
    }
    if (open.counted && line.word == "LOAD") {
        ++instance.figures.starts;
    } else if (open.counted && line.word == "STOP") {
        ++instance.figures.stops;
    }
}

void Summary::CloseRequest(Instance& instance, Open& open, std::optional<int32_t> result, uint32_t durationMs) {
    open.active = false;
    if (!open.counted || (filter_.gate && *filter_.gate != open.gate)) {
        return;
    }
    RequestFigures one = open.figures;
    one.requests = 1;
    if (!result) {
        one.unfinished = 1;
    } else if (*result >= 0 && *result <= 2) {
        one.results[*result] = 1;
    } else {
        one.otherResults = 1;
    }
    one.unconfirmed = result && *result == 0 && open.unconfirmed ? 1 : 0;
    if (result) {
        one.time.Add(durationMs, open.start);
    }
    Figures& figures = instance.figures;
    figures.byRequest[open.kind].Merge(one);
    if (!open.gateKind.empty()) {
        figures.byGateKind[open.gateKind].Merge(one);
    }
    figures.all.Merge(one);
    for (const auto& [reason, at] : open.reasons) {
        figures.AddReason(reason, at, open.gate);
    }
    // Registration answers 1 for every ordinary gate: no failure.
    if (!open.gate.empty() && open.kind != "register") {
        GateFailures& gate = figures.gates[open.gate];
        ++gate.requests;
        if (!result || *result != 0) {
            ++gate.failed;
            gate.lastFailure = open.start;
        }
    }
    if (timeline_) {
        std::string title =
            open.start.stamp + " " + open.kind + (open.gate.empty() ? "" : " " + open.gate) + ": " +
            (result ? "result " + std::to_string(*result) + " after " + std::to_string(durationMs) + " ms"
                    : "no end in the trace");
        instance.timeline.Add(open.start.utcMs, ResultClass(result, open.unconfirmed), durationMs, std::move(title),
                              std::move(open.lines));
    }
    open.lines.clear();
}

void Summary::State(Instance& instance, Open& open, std::string_view state, const When& at) {
    if (open.state == state) {
        return;
    }
    // The silence began with the first read that brought nothing, the loss
    // at the port's failure: both come before the request's STATS line.
    When boundary = at;
    if (state == "NO ANSWER" && open.silentSince && open.silentSince->utcMs >= open.stateSince.utcMs) {
        boundary = *open.silentSince;
    } else if (state == "LOST" && open.lostAt && open.lostAt->utcMs >= open.stateSince.utcMs) {
        boundary = *open.lostAt;
    } else if (open.backAt && open.backAt->utcMs >= open.stateSince.utcMs) {
        // The silence or the loss ended with the answer or the reopen.
        boundary = *open.backAt;
    }
    open.backAt.reset();
    if (!open.state.empty()) {
        instance.states.push_back(Period{open.state, open.stateSince, boundary, false, instance.number, instance.port});
    }
    open.state = std::string(state);
    open.stateSince = boundary;
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

std::vector<Period> Summary::Outages() const {
    std::vector<Period> outages;
    for (const Instance& instance : instances_) {
        for (const Period& period : instance.states) {
            if (period.state == "NO ANSWER" || period.state == "LOST") {
                outages.push_back(period);
            }
        }
    }
    std::stable_sort(outages.begin(), outages.end(),
                     [](const Period& a, const Period& b) { return a.start.utcMs < b.start.utcMs; });
    return outages;
}

std::vector<Reopen> Summary::Reopens() const {
    std::vector<Reopen> reopens;
    for (const Instance& instance : instances_) {
        reopens.insert(reopens.end(), instance.reopens.begin(), instance.reopens.end());
    }
    std::stable_sort(reopens.begin(), reopens.end(),
                     [](const Reopen& a, const Reopen& b) { return a.lost.utcMs < b.lost.utcMs; });
    return reopens;
}

uint64_t Summary::ReopenFailures() const {
    uint64_t count = 0;
    for (const Instance& instance : instances_) {
        count += instance.reopenFailures;
    }
    return count;
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
