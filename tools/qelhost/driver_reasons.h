// What the driver's trace says of each request: the messages that went out
// (TX), what came back as the driver judged it (RX), why a request failed
// (REASON) and whether a 0 went unconfirmed (NOTE). Lines are found by
// their event word, not by column, so the trace's time stamps may take any
// form; instances that share one trace are told apart by the number the
// driver gave each start (read from its record), not by the port it named.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qelhost {

// One read of a reply: its bytes in the tools' notation, the driver's
// judgement ("accepted", "refused", "unrecognised", "none", "not judged")
// and the milliseconds after the message (-1 when the trace gave none).
struct TraceReply {
    std::string bytes;
    std::string judgement;
    bool refused = false;     // the judgement is the switcher's refusal
    bool judgedNone = false;  // nothing came that could be judged
    long long ms = -1;
};

struct RequestTrace {
    std::vector<std::string> out;  // each message, in the tools' notation
    std::vector<TraceReply> back;
    std::vector<std::string> reasons;  // each once
    std::vector<std::string> traffic;  // "sent ...", "came back ...": out and back in the trace's order
    bool unconfirmed = false;          // the driver noted a 0 no read confirmed
    std::string loadPort;              // the port a start named (LOAD), else empty
    int instance = 0;                  // the trace's instance number of that start

    // The reasons joined by "; ".
    std::string Reason() const;
    // Whether the switcher confirmed the request: empty when nothing went
    // out on the line (nothing to confirm). A failure is unconfirmed; a 0
    // is confirmed unless the driver's NOTE says otherwise (for free text
    // and list commands, it does when nothing at all came back).
    std::optional<bool> Confirmed(int32_t result) const;
};

// Adds what one trace line says to *request; returns the line's instance
// number (0 when it shows none).
int ReadTraceLine(std::string_view line, RequestTrace* request);

// The text after the word REASON in one trace line, trimmed, when REASON
// is the line's event (its first word of capitals alone); else empty.
std::string ReasonOfLine(std::string_view line);

class DriverReasons {
  public:
    // path: the driver's trace file; empty for none. shared: instances share
    // it, so only the lines of this one's instance number count, once a
    // start has named its port.
    explicit DriverReasons(std::string path, bool shared = false);

    // Where the trace ends now: what comes after belongs to the next request.
    void Mark();
    // What the trace says of the request since Mark. After a start: started,
    // the instance number the driver's record gives it (its start line
    // bears it), or else port, the port the start named.
    RequestTrace Take(const std::string& port = std::string(), int32_t started = 0);

  private:
    std::string path_;
    bool shared_;
    int instance_ = 0;
    uint64_t offset_ = 0;
};

// Whether the driver would write its trace to path: only a regular file (a
// new one is made). False with the reason in *problem for a FIFO, a device,
// a folder, or a file that cannot be made; nothing is ever waited on.
bool UsableTraceFile(const std::string& path, std::string* problem);

}  // namespace qelhost
