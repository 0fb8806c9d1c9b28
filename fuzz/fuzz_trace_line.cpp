// The tools' one reader of trace lines over any line, strict (qeltrace) and
// loose (qelhost's reasons): what it reads points into the line, the
// instance is the number the line gives, an event's word is the request
// its code names, and each event's fields read within the line. A format
// it does not know is refused in one short line of visible bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text_checks.h"
#include "trace_reader.h"

namespace {

using qeltools::TraceEvent;
using qeltools::TraceLine;

constexpr size_t kLongestRefusal = 300;

bool Within(std::string_view part, std::string_view text) {
    return part.empty() || (part.data() >= text.data() && part.data() + part.size() <= text.data() + text.size());
}

// The number between the brackets of "[N]" at `at`, as written.
bool WrittenInstance(std::string_view text, size_t at, int64_t* number) {
    const size_t close = text.find(']', at);
    if (at >= text.size() || text[at] != '[' || close == std::string_view::npos) {
        return false;
    }
    const std::string digits(text.substr(at + 1, close - at - 1));
    char* end = nullptr;
    *number = std::strtoll(digits.c_str(), &end, 10);
    return end != digits.c_str() && *end == '\0';
}

void RequireFields(const TraceLine& line, std::string_view text) {
    Require(Within(line.stamp, text) && Within(line.body, text) && Within(line.word, text) && Within(line.fields, text),
            "what the reader reads points into the line");
    Require(line.body.substr(0, line.word.size()) == line.word, "the body begins with the event's word");
    Require(line.event != TraceEvent::kRequest || line.request < 0 ||
                line.word == std::string_view(qeltools::RequestName(line.request)),
            "a request's code names its word");
    qeltools::EndFields end{};
    if (qeltools::ReadEnd(line, &end)) {
        Require(Within(end.request, text) && end.ms >= 0, "an end's fields read within the line");
    }
    qeltools::RequestFields request{};
    if (qeltools::ReadRequest(line, &request)) {
        Require(Within(request.subject, text) && Within(request.valueText, text), "a request's fields within the line");
    }
    qeltools::ReadFields read{};
    if (qeltools::ReadRead(line, &read)) {
        Require(Within(read.judgement, text) && Within(read.data, text) && read.afterMs >= -1,
                "a read's fields within the line");
        Require(qeltools::HexBytes(read.data).size() <= read.data.size() / 3,
                "a read's bytes are those its line shows");
    }
    qeltools::TraceFormat format;
    std::string refusal;
    if (!format.Feed(line, &refusal)) {
        Require(!refusal.empty() && refusal.size() <= kLongestRefusal && TerminalSafe(refusal) &&
                    refusal.find('\n') == std::string::npos,
                "a format not known is refused in one short line of visible bytes");
    }
    Require(format.Number() >= 1 && format.Number() <= qeltools::kNewestTraceFormat, "a format the reader knows");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A line as both tools hand it on: up to its LF.
    std::string_view text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\n'));
    TraceLine line{};
    if (qeltools::ParseTraceLine(text, &line)) {
        int64_t written = 0;
        Require(WrittenInstance(text, qeltools::kStampLength + 1, &written) && written == line.instance,
                "the instance is the number the line gives");
        RequireFields(line, text);
    }
    TraceLine loose{};
    if (qeltools::ParseLooseTraceLine(text, &loose)) {
        Require(loose.instance >= 0, "a loose line's instance is a number in brackets or none");
        RequireFields(loose, text);
    }
    return 0;
}
