// What qelhost prints while it runs a scenario, and its counts.
#include "report.h"

#include <cstdio>

#include "driver/requests.h"
#include "json_text.h"
#include "text_codec.h"
#include "visible.h"

namespace qelhost {

namespace {

const char* const kIndent = "      ";

// Texts the driver hands back (device name, banner) are read up to this.
constexpr size_t kMaxDriverText = 4096;

}  // namespace

Totals& Totals::operator+=(const Totals& other) {
    requests += other.requests;
    failed += other.failed;
    unconfirmed += other.unconfirmed;
    checks += other.checks;
    checksFailed += other.checksFailed;
    return *this;
}

void Report::Json(const std::string& type, const std::string& fields) {
    if (json_.out == nullptr) {
        return;
    }
    std::string line = "{\"v\":1,\"type\":\"" + type + "\",\"instance\":" + std::to_string(json_.instance) +
                       ",\"line\":" + std::to_string(line_) + fields + "}\n";
    std::lock_guard<std::mutex> lock(*json_.lock);
    *json_.out << line << std::flush;
}

void Report::Step(int line, const std::string& source) {
    line_ = line;
    step_ = source;
    char number[16];
    std::snprintf(number, sizeof number, "%4d| ", line);
    Line(number + source);
    Json("step", ",\"text\":" + JsonString(qeltools::Visible(source)));
}

// Names and lines as a scenario wrote them may hold control bytes: they
// are shown, never sent to the terminal.
void Report::Line(const std::string& line) {
    out_ << qeltools::Visible(line) << '\n' << std::flush;
}

void Report::Detail(const std::string& line) {
    Line(kIndent + line);
}

namespace {

std::string JsonOptional(const std::optional<std::string>& text) {
    return text.has_value() ? JsonString(*text) : std::string("null");
}

}  // namespace

void Report::Request(const RequestOutcome& outcome) {
    const RequestTrace& trace = outcome.trace;
    const std::optional<bool> confirmed = trace.Confirmed(outcome.result);
    const std::string reason = outcome.result != 0 ? trace.Reason() : std::string();
    ++totals_.requests;
    totals_.failed += outcome.result != 0 ? 1 : 0;
    totals_.unconfirmed += outcome.result == 0 && confirmed == false ? 1 : 0;
    for (const std::string& line : trace.traffic) {
        Detail(line);
    }
    Detail(RequestName(outcome.code) + " -> " + std::to_string(outcome.result) + " (" +
           std::to_string(outcome.elapsedMs) + " ms)");
    if (!reason.empty()) {
        Detail("reason: " + reason);
    }
    if (outcome.result == 0 && confirmed == false) {
        Detail("not confirmed by the switcher");
    }
    if (json_.out != nullptr) {
        std::string out;
        for (const std::string& message : trace.out) {
            out += (out.empty() ? "" : ",") + JsonString(message);
        }
        std::string back;
        for (const TraceReply& reply : trace.back) {
            back += std::string(back.empty() ? "" : ",") + "{\"bytes\":" + JsonString(reply.bytes) +
                    ",\"judgement\":" + JsonString(reply.judgement) +
                    ",\"ms\":" + (reply.ms >= 0 ? std::to_string(reply.ms) : std::string("null")) + "}";
        }
        std::optional<std::string> format;
        if (outcome.numeric.has_value()) {
            format = *outcome.numeric ? "number" : "text";
        }
        Json("request",
             ",\"code\":" + JsonString(RequestName(outcome.code)) + ",\"codeNumber\":" + std::to_string(outcome.code) +
                 ",\"gate\":" + JsonOptional(outcome.gate) + ",\"format\":" + JsonOptional(format) +
                 ",\"value\":" + JsonOptional(outcome.value) + ",\"out\":[" + out + "],\"back\":[" + back +
                 "],\"result\":" + std::to_string(outcome.result) + ",\"ms\":" + std::to_string(outcome.elapsedMs) +
                 ",\"reason\":" + (reason.empty() ? std::string("null") : JsonString(reason)) +
                 ",\"confirmed\":" + (confirmed.has_value() ? (*confirmed ? "true" : "false") : "null"));
    }
    if (outcome.expect.has_value()) {
        const bool held = *outcome.expect == outcome.result;
        Check("expect " + std::to_string(*outcome.expect), held,
              "expected result " + std::to_string(*outcome.expect) + ", got " + std::to_string(outcome.result) +
                  (reason.empty() ? std::string() : ": " + reason));
    }
}

void Report::Log(int32_t level, const std::string& text) {
    Detail("log " + std::to_string(level) + " " + Quoted(text));
    Json("log", ",\"level\":" + std::to_string(level) + ",\"text\":" + JsonString(qeltools::Visible(text)));
}

void Report::Gate(const std::string& name, const std::string& address, const char* kind, const std::string& shown,
                  const std::string& value) {
    Detail(name + " " + kind + " now " + shown);
    Json("gate", ",\"gate\":" + JsonString(qeltools::Visible(address)) +
                     ",\"name\":" + JsonString(qeltools::Visible(name)) + ",\"kind\":\"" + kind +
                     "\",\"value\":" + JsonString(qeltools::Visible(value)));
}

// A check counts whether or not it held; only a failed one is printed
// with its message.
void Report::Check(const std::string& text, bool held, const std::string& message) {
    ++totals_.checks;
    totals_.checksFailed += held ? 0 : 1;
    if (!held) {
        Detail("FAIL " + message);
    }
    Json("check", ",\"text\":" + JsonString(qeltools::Visible(text)) + ",\"passed\":" + (held ? "true" : "false") +
                      ",\"message\":" + (held ? std::string("null") : JsonString(qeltools::Visible(message))));
}

void Report::Judge(bool held, const std::string& message) {
    if (held) {
        Detail("ok");
    }
    Check(step_, held, message);
}

void Report::Failure(const std::string& message) {
    Check(step_, false, message);
}

void Report::Finish() {
    Line("qelhost: " + std::to_string(totals_.requests) + " requests, " + std::to_string(totals_.checks) + " checks, " +
         std::to_string(totals_.checksFailed) + " failed" +
         (totals_.unconfirmed > 0 ? ", " + std::to_string(totals_.unconfirmed) + " not confirmed by the switcher"
                                  : std::string()));
}

int ExitStatus(const Totals& totals, bool oneShot) {
    if (totals.checksFailed > 0) {
        return kExitCheckFailed;
    }
    return oneShot && totals.unconfirmed > 0 ? kExitUnconfirmed : kExitHeld;
}

void JsonEnd(const JsonSink& json, const Totals& totals, int exit) {
    if (json.out == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(*json.lock);
    *json.out << "{\"v\":1,\"type\":\"end\",\"requests\":" << totals.requests << ",\"failed\":" << totals.failed
              << ",\"unconfirmed\":" << totals.unconfirmed << ",\"checks\":" << totals.checks
              << ",\"checksFailed\":" << totals.checksFailed << ",\"exit\":" << exit << "}\n"
              << std::flush;
}

std::string JsonString(const std::string& bytes) {
    std::string json;
    qeltools::AppendJsonString(json, bytes);
    return json;
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
