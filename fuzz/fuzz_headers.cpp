// qelhost --headers over any scenario file: it answers 0 with the headers a
// line each, or refuses in one short line of visible bytes that names the
// line at fault. What it prints reads back, split as scripts/run-scenario
// splits it, as the headers it read: every line a known key, a blank and
// the value, with no byte the shell would drop or break a line at.
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "front_end.h"
#include "fuzz_support.h"
#include "report.h"
#include "scenario_headers.h"

namespace {

bool IsKey(std::string_view key) {
    static constexpr std::string_view kKeys[] = {"needs", "switcher", "switcher-shows", "port-held-for",
                                                 "limit", "port",     "workdir"};
    for (std::string_view known : kKeys) {
        if (key == known) {
            return true;
        }
    }
    return false;
}

size_t CountLines(std::string_view text) {
    size_t lines = 0;
    for (char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return lines + (text.empty() || text.back() == '\n' ? 0 : 1);
}

// Runs --headers on the file, with what it prints caught.
int PrintHeadersCaught(std::string* out, std::string* err) {
    std::ostringstream printed;
    std::ostringstream said;
    std::streambuf* coutBuffer = std::cout.rdbuf(printed.rdbuf());
    std::streambuf* cerrBuffer = std::cerr.rdbuf(said.rdbuf());
    const int status = qelhost::PrintHeaders(ScratchFile());
    std::cout.rdbuf(coutBuffer);
    std::cerr.rdbuf(cerrBuffer);
    *out = printed.str();
    *err = said.str();
    return status;
}

void RequireShortRefusal(const std::string& said, size_t lines) {
    Require(said.rfind("qelhost: ", 0) == 0 && !said.empty() && said.back() == '\n', "a refusal is one said line");
    const std::string_view message(said.data(), said.size() - 1);
    Require(message.size() <= qelhost::kMaxShown + 20, "a refusal is short");
    for (char c : message) {
        const unsigned char byte = static_cast<unsigned char>(c);
        Require(byte >= 0x20 && byte != 0x7F, "a refusal shows control bytes, never sends them");
    }
    const size_t at = message.find(": line ");
    Require(at != std::string_view::npos, "a refusal names its line");
    const long line = std::strtol(std::string(message.substr(at + 7)).c_str(), nullptr, 10);
    Require(line >= 1 && static_cast<size_t>(line) <= lines, "a refusal names a line of the file");
}

void RequireReadsBack(const std::string& printed, const qelhost::ScenarioHeaders& headers) {
    Require(printed == qelhost::HeadersReport(headers), "--headers prints the headers read");
    Require(printed.empty() || printed.back() == '\n', "every printed header ends its line");
    size_t lines = 0;
    for (size_t start = 0; start < printed.size(); ++lines) {
        const size_t end = printed.find('\n', start);
        const std::string_view line(printed.data() + start, end - start);
        start = end + 1;
        Require(line.find('\0') == std::string_view::npos, "no NUL in a printed header");
        Require(line.empty() || line.back() != '\r', "a printed header keeps its value to the line end");
        Require(IsKey(line.substr(0, line.find(' '))) && line.find(' ') != std::string_view::npos,
                "a printed header is a known key and its value");
    }
    const size_t expected = (headers.needs.empty() ? 0 : 1) + headers.switcher.size() + headers.switcherShows.size() +
                            (headers.portHeldForMs ? 1 : 0) + (headers.limitSeconds ? 1 : 0) +
                            (headers.portLink ? 1 : 0) + (headers.workdir.empty() ? 0 : 1);
    Require(lines == expected, "one printed line a header");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeScratchFile("headers.scenario");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WriteScratchFile(std::string_view(reinterpret_cast<const char*>(data), size));

    std::string printed;
    std::string said;
    const int status = PrintHeadersCaught(&printed, &said);
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (status != 0) {
        Require(status == qelhost::kExitMalformed, "a refusal exits as malformed");
        Require(printed.empty(), "a refusal prints no headers");
        RequireShortRefusal(said, CountLines(text));
        return 0;
    }
    Require(said.empty(), "headers read say nothing on standard error");
    qelhost::ScenarioHeaders headers;
    std::string problem;
    int line = 0;
    Require(qelhost::ReadHeaders(text, &headers, &problem, &line), "the headers read the same twice");
    RequireReadsBack(printed, headers);
    return 0;
}
