// Why a request answered 1, as the driver tells it: its trace file holds a
// line with the word REASON for each failure, and qelhost prints the text
// after that word beside the result. Lines are found by the word, not by
// column, so the trace's time stamps may take any form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qelhost {

class DriverReasons {
  public:
    // path: the driver's trace file; empty for none (no reasons then).
    explicit DriverReasons(std::string path);

    // Where the trace ends now: what comes after belongs to the next request.
    void Mark();
    // The reasons written since Mark, each once, joined by "; ".
    std::string Take();

  private:
    std::string path_;
    uint64_t offset_ = 0;
};

// The text after the word REASON in one trace line, trimmed, when REASON
// is the line's event (its first word of capitals alone); else empty.
std::string ReasonOfLine(std::string_view line);

}  // namespace qelhost
