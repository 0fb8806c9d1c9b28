// What qelhost prints while it runs a scenario, and the counts behind its
// last line and its exit status. Beside the human text, --json writes one
// object a line for scripts (schema version 1, in the guide).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "driver_reasons.h"
#include "json_writer.h"
#include "qelkophv/qelkophv.h"

namespace qelhost {

// The exit statuses.
constexpr int kExitHeld = 0;
constexpr int kExitCheckFailed = 1;
constexpr int kExitMalformed = 2;
constexpr int kExitNoDriver = 3;
constexpr int kExitUnconfirmed = 4;  // one-shot: every 0, but not each confirmed

// Where --json's lines go: one stream for every instance, written a whole
// line at a time under the lock.
struct JsonSink {
    std::ostream* out = nullptr;  // none: no JSON
    std::mutex* lock = nullptr;
    int instance = 1;
};

// What a request was and what came of it.
struct RequestOutcome {
    int32_t code = 0;
    int32_t result = 0;
    long long elapsedMs = 0;
    std::optional<int32_t> expect;
    RequestTrace trace;
    std::optional<std::string> gate;   // the gate's address, for a gate's request
    std::optional<bool> numeric;       // its format
    std::optional<std::string> value;  // what a write wrote, in the tools' notation
};

struct Totals {
    int requests = 0;
    int failed = 0;       // requests that answered other than 0
    int unconfirmed = 0;  // requests that answered 0 that no reply confirmed
    int checks = 0;
    int checksFailed = 0;
    Totals& operator+=(const Totals& other);
};

class Report {
  public:
    explicit Report(std::ostream& out, JsonSink json = {}) : out_(out), json_(json) {}

    // A scenario line (or one-shot command) about to run.
    void Step(int line, const std::string& source);
    // A line of its own.
    void Line(const std::string& line);
    // A line beneath the command, indented.
    void Detail(const std::string& line);
    // A request: the messages that went out and what came back, its result
    // and time, beneath a 1 or 2 the driver's reason, beneath a 0 whether
    // the switcher confirmed it; a mismatch with the expected result is a
    // failed check, which quotes the reason.
    void Request(const RequestOutcome& outcome);
    // A host log line the driver wrote.
    void Log(int32_t level, const std::string& text);
    // A host gate the driver changed: kind "number", "text" or "address".
    void Gate(const std::string& name, const std::string& address, const char* kind, const std::string& shown,
              const std::string& value);
    // A text the driver put to a host gate (LINE_STATE, OUTGOING, INCOMING,
    // an update's text), for --json; the human text shows it as it comes.
    void Put(const std::string& address, const std::string& text);
    // A check: "ok", or FAIL and the message.
    void Judge(bool held, const std::string& message);
    // A failure found outside a check.
    void Failure(const std::string& message);
    // The last line of the human text.
    void Finish();

    const Totals& Counts() const { return totals_; }

  private:
    void Json(const char* type, const std::function<void(qeltools::JsonWriter&)>& fields);
    void Check(const std::string& text, bool held, const std::string& message);

    std::ostream& out_;
    JsonSink json_;
    int line_ = 0;
    std::string step_;
    Totals totals_;
};

// The exit status of a run with these counts: 1 a check failed; one-shot
// commands 4 when every request answered 0 but one went unconfirmed.
int ExitStatus(const Totals& totals, bool oneShot);

// --json's last line.
void JsonEnd(const JsonSink& json, const Totals& totals, int exit);

// The name of a request code, such as "REQ_WRITE_GATE", or "code N".
std::string RequestName(int32_t code);

// "BAUD,DATA,STOP,PARITY".
std::string LineText(const LineSettings& line);

// A text the driver handed back (device name, banner), quoted, or "(null)".
std::string DriverText(const char* text);

// The banner as DriverText shows it, but the shades, lines and blocks of
// its box (code page 437 bytes) shown as '-': a console of another code
// page would show other letters, and a quoted byte each is unreadable.
std::string BannerText(const char* text);

}  // namespace qelhost
