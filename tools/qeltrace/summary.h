// The figures of a trace: fed one line at a time (memory grows with the
// number of instances, gates, distinct reasons and outages, never with the
// number of lines), then read per instance and in total.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "trace_reader.h"

namespace qeltrace {

using qeltools::PortChange;
using qeltools::RequestFields;
using qeltools::TraceEvent;
using qeltools::TraceLine;

// A time as the trace wrote it, and as milliseconds for sums and order.
struct When {
    std::string stamp;
    int64_t utcMs = 0;
};

// How long requests took: a count per millisecond value, so that the median
// and the 95th percentile are exact in bounded memory.
struct Durations {
    std::map<uint32_t, uint64_t> counts;
    uint64_t total = 0;
    uint32_t maxMs = 0;
    When slowest;  // the start of the slowest request
    void Add(uint32_t ms, const When& start);
    void Merge(const Durations& other);
    // The nearest-rank percentile (0 < share <= 1); 0 when empty.
    uint32_t Percentile(double share) const;
};

struct RequestFigures {
    uint64_t requests = 0;
    uint64_t results[3] = {0, 0, 0};  // 0, 1, 2
    uint64_t otherResults = 0;
    uint64_t unfinished = 0;   // no END line: the trace was cut, or the host stopped mid-request
    uint64_t retries = 0;      // tries beyond the first
    uint64_t refusals = 0;     // reads the driver judged refused
    uint64_t silentReads = 0;  // reads that brought nothing
    uint64_t unconfirmed = 0;  // results 0 that no reply confirmed
    Durations time;
    void Merge(const RequestFigures& other);
};

struct ReasonGroup {
    std::string key;
    std::vector<std::string> words;  // the first reason's words; "…" where the group's reasons differ
    uint64_t count = 0;
    When first, last;
    std::vector<std::string> gates;  // the first few gates it was given for
    uint64_t moreGates = 0;          // how many other gates
    std::set<std::string> otherGates;
    std::string Text() const;
};

// A period of one line state: CLOSED, OPEN, OK, NO ANSWER or LOST.
struct Period {
    std::string state;
    When start, end;
    bool ongoing = false;  // the trace ends in it
    int32_t instance = 0;
    std::string port;
    bool endedByStop = false;  // a close or stop ended it, not the line
    int64_t LengthMs() const { return end.utcMs - start.utcMs; }
    // How an outage ended where the line did not end it: " (still lost at
    // the end of the trace)", " (ended by the stop)"; else empty.
    std::string EndNote() const;
};

struct Reopen {
    When lost, reopened;
    int32_t instance = 0;
    std::string port;
};

struct GateFailures {
    uint64_t requests = 0;
    uint64_t failed = 0;
    When lastFailure;
};

// One request's mark on the timeline, or several requests in one mark.
struct Mark {
    int64_t startMs = 0;
    uint64_t counts[4] = {0, 0, 0, 0};  // confirmed 0, unconfirmed 0, 1, 2 and other
    uint32_t maxMs = 0;
    uint64_t refused = 0;  // requests the switcher refused at least once
    // The mark's most telling request (the worst result, then the slowest).
    int rank = -1;
    std::string title;
    std::vector<std::string> lines;
};

// Marks at a fixed number of time slots: when the trace outgrows them, each
// slot takes twice the time and neighbours merge.
struct Timeline {
    static constexpr size_t kSlots = 2048;
    int64_t originMs = 0;
    int64_t slotMs = 250;
    std::vector<Mark> slots;  // empty ones have rank -1
    void Add(int64_t atMs, int resultClass, uint32_t durationMs, std::string title, std::vector<std::string> lines,
             bool refused = false);
};

struct Figures {
    std::map<std::string, RequestFigures> byRequest;   // "write", "update", "start" ...
    std::map<std::string, RequestFigures> byGateKind;  // "#", "! bits", "R" ...
    RequestFigures all;
    std::vector<ReasonGroup> reasons;
    std::map<std::string, GateFailures> gates;
    uint64_t starts = 0, stops = 0;
    void AddReason(std::string_view text, const When& at, std::string_view gate);
    void Merge(const Figures& other);
};

struct Instance {
    int32_t number = 0;
    std::string port;
    When first, last;
    Figures figures;
    std::vector<Period> states;  // every state in order (the timeline's bands)
    std::vector<Reopen> reopens;
    uint64_t reopenFailures = 0;
    Timeline timeline;
};

struct Filter {
    std::optional<int32_t> instance;
    std::optional<std::string> gate;
    // Limits in UTC, or in the trace's wall time when given without an offset.
    std::optional<int64_t> fromMs, toMs;
    bool wallTime = false;
};

struct LineNote {
    std::string file;
    uint64_t line = 0;
    std::string text;
};

class Summary {
  public:
    explicit Summary(Filter filter = {}, bool timeline = false);
    ~Summary();
    // One line of the named file (line numbers from 1), without its line end.
    void Feed(std::string_view text, const std::string& file, uint64_t lineNumber);
    // Ends what is still open (requests, states) at the last line.
    void Finish();

    const std::vector<Instance>& Instances() const { return instances_; }
    Figures Total() const;
    std::vector<Period> Outages() const;  // NO ANSWER and LOST periods of every instance, in time order
    std::vector<Reopen> Reopens() const;
    uint64_t ReopenFailures() const;
    When First() const;
    When Last() const;
    uint64_t Lines() const { return lines_; }
    uint64_t Malformed() const { return malformed_; }
    const std::vector<LineNote>& MalformedLines() const { return malformedNotes_; }
    uint64_t UnknownKinds() const { return unknown_; }
    const std::vector<LineNote>& UnknownLines() const { return unknownNotes_; }
    const Filter& GetFilter() const { return filter_; }
    // Why the trace cannot be read (a format this reader does not know);
    // empty when it can. Its figures are not to be shown then.
    const std::string& Refusal() const { return refusal_; }

    // At most this many malformed and unknown lines are kept to show.
    static constexpr size_t kNotesKept = 20;

  private:
    struct Open;
    struct InstanceKey {
        int32_t number;
        std::string port;
        bool operator==(const InstanceKey&) const = default;
        struct Hash {
            size_t operator()(const InstanceKey& key) const;
        };
    };
    Instance& InstanceFor(const TraceLine& line);
    // What one parsed line adds: false when its fields do not read.
    bool Count(Instance& instance, Open& open, const TraceLine& line, const When& at);
    bool End(Instance& instance, Open& open, const TraceLine& line, const When& at);
    void Read(Open& open, const TraceLine& line, const When& at);
    void Port(Instance& instance, Open& open, const TraceLine& line, const When& at);
    void Request(Instance& instance, Open& open, const TraceLine& line, const When& at);
    void CloseRequest(Instance& instance, Open& open, std::optional<int32_t> result, uint32_t durationMs);
    void State(Instance& instance, Open& open, std::string_view state, const When& at);
    bool InWindow(const TraceLine& line) const;

    Filter filter_;
    bool timeline_;
    std::vector<Instance> instances_;
    std::vector<Open> open_;
    std::unordered_map<int32_t, size_t> current_;  // instance number -> index of its latest start
    std::unordered_map<InstanceKey, size_t, InstanceKey::Hash> byKey_;
    std::string file_;
    qeltools::TraceFormat format_;
    std::string refusal_;
    uint64_t lines_ = 0, malformed_ = 0, unknown_ = 0;
    std::vector<LineNote> malformedNotes_, unknownNotes_;
};

// "2 min 0 s", "3.2 s", "812 ms": a length as people read it.
std::string Length(int64_t ms);

}  // namespace qeltrace
