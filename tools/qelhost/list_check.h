// qelhost --check-list: a command list file read by the driver's own walk
// (src/cmdlist: pieces of at most 1899 characters, the list between the
// first lines that hold its markers, "number, text ;" entries, the first of
// a number wins), each entry shown as the driver would find it, and what
// would make the driver or the switcher misbehave flagged, with its line and
// column.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qelhost {

struct ListEntry {
    int line = 0;  // the file's line, from 1
    int64_t number = 0;
    std::string text;    // the command text as the driver copies it, before gate values
    bool found = false;  // the driver finds and sends it for its number
};

struct ListRemark {
    int line = 0;  // 0: about the whole file
    bool flagged = false;
    std::string text;   // its control bytes shown as qeltools::Visible shows them
    size_t column = 0;  // where in the line, from 1; 0: the whole line
};

struct ListCheck {
    std::vector<ListEntry> entries;
    std::vector<ListRemark> remarks;  // in the order of the file's lines
    int flagged = 0;
};

// Checks the bytes of a list file.
ListCheck CheckCommandList(std::string_view bytes);

// The report as --check-list prints it: "NAME:LINE: ..." a line for each
// entry and remark, then "check-list: N entries, N flagged".
std::string ListCheckReport(const ListCheck& check, const std::string& name);

}  // namespace qelhost
