// What qelhost prints while it runs a scenario, and its counts.
#include "report.h"

#include "driver/requests.h"
#include "text_codec.h"
#include "visible.h"

namespace qelhost {

namespace {

const char* const kIndent = "      ";

// Texts the driver hands back (device name, banner) are read up to this.
constexpr size_t kMaxDriverText = 4096;

}  // namespace

// Names and lines as a scenario wrote them may hold control bytes: they
// are shown, never sent to the terminal.
void Report::Line(const std::string& line) {
    out_ << qeltools::Visible(line) << '\n' << std::flush;
}

void Report::Detail(const std::string& line) {
    Line(kIndent + line);
}

void Report::Request(int32_t code, int32_t result, long long elapsedMs, std::optional<int32_t> expect,
                     const std::string& reason) {
    ++requests_;
    Detail(RequestName(code) + " -> " + std::to_string(result) + " (" + std::to_string(elapsedMs) + " ms)");
    const bool explained = result != 0 && !reason.empty();
    if (explained) {
        Detail("reason: " + reason);
    }
    if (expect.has_value()) {
        ++checks_;
        if (*expect != result) {
            Failure("expected result " + std::to_string(*expect) + ", got " + std::to_string(result) +
                    (explained ? ": " + reason : std::string()));
        }
    }
}

void Report::Judge(bool held, const std::string& message) {
    ++checks_;
    if (held) {
        Detail("ok");
    } else {
        Failure(message);
    }
}

void Report::Failure(const std::string& message) {
    ++failures_;
    Detail("FAIL " + message);
}

int Report::Finish() {
    Line("qelhost: " + std::to_string(requests_) + " requests, " + std::to_string(checks_) + " checks, " +
         std::to_string(failures_) + " failed");
    return failures_ == 0 ? 0 : 1;
}

std::string RequestName(int32_t code) {
    const RequestKind* kind = FindRequest(code);
    return kind != nullptr ? std::string("REQ_") + kind->name : "code " + std::to_string(code);
}

std::string LineText(const LineSettings& line) {
    return std::to_string(line.baudRate) + "," + std::to_string(line.dataBits) + "," + std::to_string(line.stopBits) +
           "," + std::to_string(line.parity);
}

std::string DriverText(const char* text) {
    if (text == nullptr) {
        return "(null)";
    }
    size_t length = 0;
    while (length < kMaxDriverText && text[length] != '\0') {
        ++length;
    }
    return Quoted(std::string_view(text, length));
}

std::string BannerText(const char* text) {
    if (text == nullptr) {
        return DriverText(text);
    }
    // Code page 437's shades, box lines and blocks.
    constexpr unsigned char kFirstBoxByte = 0xB0;
    constexpr unsigned char kLastBoxByte = 0xDF;
    std::string shown;
    for (size_t length = 0; length < kMaxDriverText && text[length] != '\0'; ++length) {
        const auto code = static_cast<unsigned char>(text[length]);
        shown += code >= kFirstBoxByte && code <= kLastBoxByte ? '-' : text[length];
    }
    return Quoted(shown);
}

}  // namespace qelhost
