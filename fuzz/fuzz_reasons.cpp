// qelhost's reading of the driver's trace for the reasons of a request, over
// any trace file: each reason once, every message out and every read back
// in the traffic, a request's --json line valid JSON and its text lines
// free of control bytes. Read in two takes (the trace growing between two
// requests), a trace gives the same messages, reads and reasons as in one:
// nothing lost, nothing counted twice.
//
// Input: "N PORT" (N: the started instance's number in its low three bits,
// 8 added for instances sharing the trace), an LF, then the trace's bytes.
#include <unistd.h>

#include <mutex>
#include <set>
#include <sstream>
#include <string>

#include "driver_reasons.h"
#include "fuzz_support.h"
#include "report.h"
#include "text_checks.h"

namespace {

std::set<std::string> Reasons(const qelhost::RequestTrace& trace) {
    return std::set<std::string>(trace.reasons.begin(), trace.reasons.end());
}

void RequireSound(const qelhost::RequestTrace& trace) {
    Require(Reasons(trace).size() == trace.reasons.size(), "each reason once");
    for (const std::string& reason : trace.reasons) {
        Require(!reason.empty(), "no empty reason");
    }
    Require(trace.traffic.size() == trace.out.size() + trace.back.size(), "every message and read in the traffic");
    Require(trace.out.empty() || trace.Confirmed(1) == false, "a failure is never confirmed");
}

// The request as qelhost reports it, a failure with the trace's reasons.
void RequireReported(const qelhost::RequestTrace& trace) {
    std::ostringstream human;
    std::ostringstream json;
    std::mutex lock;
    qelhost::Report report(human, qelhost::JsonSink{&json, &lock, 1});
    qelhost::RequestOutcome outcome;
    outcome.code = REQ_WRITE_GATE;
    outcome.result = 1;
    outcome.expect = 0;
    outcome.trace = trace;
    outcome.gate = "0102";
    report.Request(outcome);
    Require(TerminalSafe(human.str()), "the report sends the terminal no control byte");
    const std::string lines = json.str();
    for (size_t at = 0; at < lines.size();) {
        const size_t end = lines.find('\n', at);
        Require(end != std::string::npos, "every JSON line ends");
        Require(ValidJson(std::string_view(lines).substr(at, end - at)), "every JSON line is valid JSON");
        at = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeScratchFile("reasons.trace");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string head;
    std::string text;
    SplitFirstLine(data, size, &head, &text);
    const int64_t mode = HeadNumber(head, 0, 15);
    const int32_t started = static_cast<int32_t>(mode & 7);
    const bool shared = (mode & 8) != 0;
    const size_t blank = head.find(' ');
    const std::string port = blank == std::string::npos ? std::string() : head.substr(blank + 1);

    WriteScratchFile("", "wb");
    qelhost::DriverReasons whole(ScratchFile(), shared);
    WriteScratchFile(text, "wb");
    const qelhost::RequestTrace all = whole.Take(port, started);
    RequireSound(all);
    RequireReported(all);
    if (shared) {
        return 0;  // which lines count may rest on a start in the second take
    }

    // The same trace in two takes, cut at the line end nearest its middle.
    const size_t cut = text.find('\n', text.size() / 2);
    const std::string_view first = std::string_view(text).substr(0, cut == std::string::npos ? text.size() : cut + 1);
    WriteScratchFile("", "wb");
    qelhost::DriverReasons parts(ScratchFile(), false);
    WriteScratchFile(first, "wb");
    const qelhost::RequestTrace one = parts.Take(port, started);
    WriteScratchFile(std::string_view(text).substr(first.size()), "ab");
    const qelhost::RequestTrace two = parts.Take(port, started);
    Require(one.out.size() + two.out.size() == all.out.size() && one.back.size() + two.back.size() == all.back.size(),
            "two takes read every message and read once");
    std::set<std::string> reasons = Reasons(one);
    reasons.merge(Reasons(two));
    Require(reasons == Reasons(all), "two takes give the reasons of one");
    return 0;
}
