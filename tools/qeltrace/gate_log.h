// Each write and update of a gate as the trace tells it: when, what, the
// result, whether the switcher confirmed it and how long it took; with the
// request's lines decoded when they are wanted. The history, the state at a
// moment, --decode and the page read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode.h"
#include "summary.h"
#include "trace_reader.h"

namespace qeltrace {

enum class Outcome {
    kConfirmed,     // result 0 and the switcher's reply confirmed it
    kNotConfirmed,  // result 0 without a confirming reply
    kNotJudged,     // result 0 for a list command or free text: the answer is not judged
    kFailed,        // result 1 or 2
    kUnfinished,    // no END line
};
const char* OutcomeName(Outcome outcome);

struct DecodedLine {
    std::string line;     // as written, without the stamp and instance
    std::string meaning;  // empty for a line that carries no bytes
};

struct GateRequest {
    int32_t instance = 0;
    std::string stamp;
    qeltools::TimeStamp time{};
    std::string request;  // WRITE_GATE, UPDATE_GATE ...
    std::string gate;     // empty for a request without a gate
    std::string value;    // the number, the text quoted, a list entry's command, an "R" reply's text
    bool hasValue = false;
    bool isText = false;  // a text written, or read by an update
    std::optional<int32_t> result;
    uint32_t ms = 0;
    bool noteUnconfirmed = false, confirmingReply = false, unjudged = false;
    std::string reason;  // the first REASON line
    std::vector<DecodedLine> lines;
    Outcome outcome = Outcome::kUnfinished;
};

// Collects requests fed one trace line at a time. Only gate requests are kept
// unless `everyRequest`; lines and their meaning only with `keepLines`.
class GateLog {
  public:
    GateLog(Filter filter, bool keepLines, bool everyRequest);
    void Feed(std::string_view text);
    void Finish();
    const std::vector<GateRequest>& Requests() const { return done_; }

  private:
    struct Open {
        int32_t instance = 0;
        std::optional<GateRequest> request;
        ExchangeState state;
    };
    void Close(Open& open);
    bool Wanted(const GateRequest& request) const;

    Filter filter_;
    bool keepLines_, everyRequest_;
    std::vector<Open> open_;
    std::vector<GateRequest> done_;
};

}  // namespace qeltrace
