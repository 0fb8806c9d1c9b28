// qeltrace --follow: a trace read as the driver writes it. The file is
// polled for growth a few times a second and opened only to read what is
// new, so that the driver can still roll it over (on Windows a file held
// open cannot be renamed); a roll-over or a file put in its place is noticed
// by its size falling or its first bytes changing.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qeltrace {

// What the lines so far say: each instance's line state, the requests and
// failures of the last minute and the last reason; and the lines worth
// showing as they come (line-state changes, failures, refusals).
class FollowState {
  public:
    // The events this line brings, each a line to show.
    std::vector<std::string> Feed(std::string_view text);
    // The status line at `nowUtcMs`.
    std::string Status(int64_t nowUtcMs);

  private:
    struct Current {
        std::string state = "?";
        std::string request, reason;
    };
    std::map<int32_t, Current> instances_;
    std::deque<std::pair<int64_t, bool>> ends_;  // gate requests' ends: time, failed
    std::string lastReason_;
};

// The new whole lines of a file that grows, rolls over to FILE.1 or is
// replaced.
class FileTail {
  public:
    explicit FileTail(std::string path) : path_(std::move(path)) {}
    // Reads what is new; `notes` gets a line for a roll-over or replacement.
    void Poll(std::vector<std::string>* lines, std::vector<std::string>* notes);

  private:
    // Reads `path` from offset_ on.
    void ReadFrom(const std::string& path, std::vector<std::string>* lines);
    // Whether a file's first bytes are those of the file followed.
    bool Ours(const std::string& head) const;
    std::string path_;
    uint64_t offset_ = 0;
    std::string head_;     // the file's first bytes, to know it again
    std::string partial_;  // a line not yet ended
    bool away_ = false;    // the file followed left its name; none is there yet
};

// Runs until Ctrl-C; the exit status.
int Follow(const std::string& path);

}  // namespace qeltrace
