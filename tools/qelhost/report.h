// What qelhost prints while it runs a scenario, and the counts behind its
// last line and its exit status.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "qelkophv/qelkophv.h"

namespace qelhost {

class Report {
  public:
    explicit Report(std::ostream& out) : out_(out) {}

    // A line of its own, such as the command being run.
    void Line(const std::string& line);
    // A line beneath the command, indented.
    void Detail(const std::string& line);
    // A request's result and time, and beneath a result other than 0 the
    // driver's reason when it gave one; a mismatch with the expected result
    // is a failed check, which quotes the reason.
    void Request(int32_t code, int32_t result, long long elapsedMs, std::optional<int32_t> expect,
                 const std::string& reason = std::string());
    // A check: "ok", or FAIL and the message.
    void Judge(bool held, const std::string& message);
    // A failure found outside a check.
    void Failure(const std::string& message);
    // The last line; returns the exit status: 0 every check held, 1 not.
    int Finish();

  private:
    std::ostream& out_;
    int requests_ = 0;
    int checks_ = 0;
    int failures_ = 0;
};

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
