// Whatever comes back over the line: the reply is judged without reading
// past its end, and the echo's line-end marker stays within the room its
// text was given.
//
// Input: the reply's bytes; they end at the first NUL as the driver's
// terminated reply buffer does.
#include <cstring>
#include <memory>
#include <regex>
#include <string>

#include "fuzz_support.h"
#include "link/link_io.h"
#include "protocol/transaction.h"

namespace {

// MarkLineEnd needs this much room behind its text and NUL.
constexpr size_t kMarkerRoom = 8;

// The switcher's answers as its protocol describes them, written as a
// pattern rather than the driver's character tests: "*", two upper-case hex
// digits, CR and LF accept, and an STX right behind them marks the
// acceptance; a "?" first refuses; anything else is not recognised.
const std::regex kAcceptance("\\*[0-9A-F]{2}\r\n(\x02)?");

void CheckClass(const std::string& reply, ReplyClass judged) {
    Require(judged >= REPLY_ACCEPTED && judged <= REPLY_ACCEPTED_STX, "a reply is judged one of four ways");
    std::smatch match;
    ReplyClass expected = REPLY_UNRECOGNISED;
    if (std::regex_search(reply, match, kAcceptance, std::regex_constants::match_continuous)) {
        expected = match[1].matched ? REPLY_ACCEPTED_STX : REPLY_ACCEPTED;
    } else if (reply.rfind('?', 0) == 0) {
        expected = REPLY_REFUSED;
    }
    Require(judged == expected, "a reply is judged by the switcher's answer forms");
}

void CheckMarked(const std::string& text, const char* marked) {
    const size_t cr = text.find('\r');
    if (cr == std::string::npos) {
        Require(text == marked, "a text without CR is left as it was");
        return;
    }
    const char* marker = cr + 1 < text.size() && text[cr + 1] == '\n' ? "<CR><LF>" : "<CR>";
    Require(text.compare(0, cr, marked, cr) == 0 && std::strcmp(marked + cr, marker) == 0,
            "the text ends at its first CR, marked");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy exactly as long as the text and its NUL: any read past
    // the NUL is caught.
    const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    auto reply = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(reply.get(), text.c_str(), text.size() + 1);
    CheckClass(text, ClassifyReply(reply.get()));

    auto echo = std::make_unique<char[]>(text.size() + 1 + kMarkerRoom);
    std::memcpy(echo.get(), text.c_str(), text.size() + 1);
    MarkLineEnd(echo.get());
    CheckMarked(text, echo.get());
    return 0;
}
