// Whatever comes back over the line: the reply is judged without reading
// past its end, and the echo's line-end marker stays within the room its
// text was given.
//
// Input: the reply's bytes; they end at the first NUL as the driver's
// terminated reply buffer does.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "link/link_io.h"
#include "protocol/transaction.h"

namespace {

// MarkLineEnd needs this much room behind its text and NUL.
constexpr size_t kMarkerRoom = 8;

bool IsUpperHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void CheckClass(const std::string& reply, ReplyClass judged) {
    Require(judged >= REPLY_ACCEPTED && judged <= REPLY_ACCEPTED_STX, "a reply is judged one of four ways");
    const bool wellFormed = reply.size() >= 5 && reply[0] == '*' && IsUpperHexDigit(reply[1]) &&
                            IsUpperHexDigit(reply[2]) && reply[3] == '\r' && reply[4] == '\n';
    const ReplyClass expected = wellFormed
                                    ? (reply.size() > 5 && reply[5] == '\x02' ? REPLY_ACCEPTED_STX : REPLY_ACCEPTED)
                                : !reply.empty() && reply[0] == '?' ? REPLY_REFUSED
                                                                    : REPLY_UNRECOGNISED;
    Require(judged == expected, "a reply is judged by its first six characters");
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
