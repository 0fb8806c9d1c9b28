// What qelhost prints while it runs a scenario, and its counts.
#include "report.h"

#include <cstdio>
#include <sstream>

#include "driver/requests.h"
#include "json_writer.h"
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

namespace {

// --json's schema version: the first field of every object.
constexpr int kJsonSchema = 1;

// One object a line, written whole under the sink's lock: "v" and "type",
// then what fields adds.
void WriteObject(const JsonSink& sink, const char* type, const std::function<void(qeltools::JsonWriter&)>& fields) {
    std::ostringstream line;
    qeltools::JsonWriter json(line);
    json.Begin('{').Key("v").Number(kJsonSchema).Key("type").String(type);
    fields(json);
    json.End('}');
    line << '\n';
    std::lock_guard<std::mutex> lock(*sink.lock);
    *sink.out << line.str() << std::flush;
}

}  // namespace

void Report::Json(const char* type, const std::function<void(qeltools::JsonWriter&)>& fields) {
    if (json_.out == nullptr) {
        return;
    }
    WriteObject(json_, type, [&](qeltools::JsonWriter& json) {
        json.Key("instance").Number(json_.instance).Key("line").Number(line_);
        fields(json);
    });
}

void Report::Step(int line, const std::string& source) {
    line_ = line;
    step_ = source;
    char number[16];
    std::snprintf(number, sizeof number, "%4d| ", line);
    Line(number + source);
    Json("step", [&](qeltools::JsonWriter& json) { json.Key("text").String(qeltools::Visible(source)); });
}

// Names and lines as a scenario wrote them may hold control bytes: they
// are shown, never sent to the terminal.
void Report::Line(const std::string& line) {
    out_ << qeltools::Visible(line) << '\n' << std::flush;
}

void Report::Detail(const std::string& line) {
    Line(kIndent + line);
}

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
    std::optional<std::string> format;
    if (outcome.numeric.has_value()) {
        format = *outcome.numeric ? "number" : "text";
    }
    Json("request", [&](qeltools::JsonWriter& json) {
        json.Key("code").String(RequestName(outcome.code)).Key("codeNumber").Number(outcome.code);
        json.Key("gate").StringOrNull(outcome.gate).Key("format").StringOrNull(format);
        json.Key("value").StringOrNull(outcome.value).Key("out").Begin('[');
        for (const std::string& message : trace.out) {
            json.String(message);
        }
        json.End(']').Key("back").Begin('[');
        for (const TraceReply& reply : trace.back) {
            json.Begin('{').Key("bytes").String(reply.bytes).Key("judgement").String(reply.judgement).Key("ms");
            reply.ms >= 0 ? json.Number(static_cast<int64_t>(reply.ms)) : json.Null();
            json.End('}');
        }
        json.End(']').Key("result").Number(outcome.result).Key("ms").Number(static_cast<int64_t>(outcome.elapsedMs));
        json.Key("reason").StringOrNull(reason.empty() ? std::nullopt : std::optional<std::string>(reason));
        json.Key("confirmed").BoolOrNull(confirmed);
    });
    if (outcome.expect.has_value()) {
        const bool held = *outcome.expect == outcome.result;
        Check("expect " + std::to_string(*outcome.expect), held,
              "expected result " + std::to_string(*outcome.expect) + ", got " + std::to_string(outcome.result) +
                  (reason.empty() ? std::string() : ": " + reason));
    }
}

void Report::Log(int32_t level, const std::string& text) {
    Detail("log " + std::to_string(level) + " " + Quoted(text));
    Json("log", [&](qeltools::JsonWriter& json) {
        json.Key("level").Number(level).Key("text").String(qeltools::Visible(text));
    });
}

void Report::Gate(const std::string& name, const std::string& address, const char* kind, const std::string& shown,
                  const std::string& value) {
    Detail(name + " " + kind + " now " + shown);
    Json("gate", [&](qeltools::JsonWriter& json) {
        json.Key("gate").String(qeltools::Visible(address)).Key("name").String(qeltools::Visible(name));
        json.Key("kind").String(kind).Key("value").String(qeltools::Visible(value));
    });
}

// A check counts whether or not it held; only a failed one is printed
// with its message.
void Report::Check(const std::string& text, bool held, const std::string& message) {
    ++totals_.checks;
    totals_.checksFailed += held ? 0 : 1;
    if (!held) {
        Detail("FAIL " + message);
    }
    Json("check", [&](qeltools::JsonWriter& json) {
        json.Key("text").String(qeltools::Visible(text)).Key("passed").Bool(held).Key("message");
        held ? json.Null() : json.String(qeltools::Visible(message));
    });
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

void Report::Put(const std::string& address, const std::string& text) {
    Json("put", [&](qeltools::JsonWriter& json) {
        json.Key("gate").String(qeltools::Visible(address)).Key("text").String(qeltools::Visible(text));
    });
}

void JsonEnd(const JsonSink& sink, const Totals& totals, int exit) {
    if (sink.out == nullptr) {
        return;
    }
    WriteObject(sink, "end", [&](qeltools::JsonWriter& json) {
        json.Key("requests").Number(totals.requests).Key("failed").Number(totals.failed);
        json.Key("unconfirmed").Number(totals.unconfirmed).Key("checks").Number(totals.checks);
        json.Key("checksFailed").Number(totals.checksFailed).Key("exit").Number(exit);
    });
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
