// qeltrace over any trace file: it reads the file and writes its text
// summary, its JSON and its page, or refuses a format it does not know in
// one short line. The JSON is one valid JSON value; the page runs only its
// own scripts, whatever the file holds; what goes to a terminal carries no
// control byte.
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "inputs.h"
#include "report.h"
#include "summary.h"
#include "text_checks.h"

namespace {

constexpr size_t kLongestRefusal = 300;

size_t g_pageScripts = 0;
size_t g_pageScriptEnds = 0;

// What qeltrace writes of a trace: its refusal, or its three reports.
struct Written {
    std::string refusal, text, json, page;
};

Written Summarise(std::string_view trace) {
    WriteScratchFile(trace);
    qeltrace::Summary summary({}, true);
    std::string error;
    const bool read = qeltrace::ReadLines(
        ScratchFile(),
        [&](std::string_view line, const std::string& name, uint64_t number) {
            summary.Feed(line, name, number);
            return summary.Refusal().empty();
        },
        &error);
    Require(read, "a trace file is read");
    if (!summary.Refusal().empty()) {
        return {summary.Refusal(), {}, {}, {}};
    }
    summary.Finish();
    const std::vector<std::string> files{ScratchFile()};
    std::ostringstream text, json, page;
    qeltrace::WriteText(summary, files, text);
    qeltrace::WriteJson(summary, files, json);
    qeltrace::WriteHtml(summary, files, page);
    return {{}, text.str(), json.str(), page.str()};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeScratchFile("qeltrace.trace");
    // The page's own scripts: those of a page of one request.
    const Written own = Summarise(
        "2026-12-07T17:54:48.171+01:00 [1] WRITE_GATE 0102 value 5\n"
        "2026-12-07T17:54:48.251+01:00 [1] END WRITE_GATE result 0 after 80 ms\n");
    g_pageScripts = CountNoCase(own.page, "<script");
    g_pageScriptEnds = CountNoCase(own.page, "</script");
    Require(g_pageScripts > 0, "the page has a script of its own");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Written written = Summarise(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!written.refusal.empty()) {
        Require(written.refusal.size() <= kLongestRefusal && TerminalSafe(written.refusal) &&
                    written.refusal.find('\n') == std::string::npos,
                "a refusal is one short line of visible bytes");
        return 0;
    }
    Require(ValidJson(written.json), "the JSON is valid JSON");
    Require(CountNoCase(written.page, "<script") == g_pageScripts &&
                CountNoCase(written.page, "</script") == g_pageScriptEnds,
            "the page holds its own scripts and no other");
    Require(TerminalSafe(written.text), "the text summary sends the terminal no control byte");
    return 0;
}
