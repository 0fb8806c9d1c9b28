// The command list checker's look at one command that may be a switcher
// message.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qelhost {

struct MessageRemark {
    std::string text;
    size_t at;  // the column within the command, SIZE_MAX for the whole of it
};

// What the command looks like, for the entry's line (" (a "#" message:
// length and checksum right)"), or empty; a remark for each thing the
// switcher would not take as the writer meant.
std::string CheckListMessage(std::string_view text, std::vector<MessageRemark>* remarks);

// A text as the checker's remarks quote it.
std::string Shown(std::string_view text);

template <typename Test>
bool All(std::string_view text, Test test) {
    return std::all_of(text.begin(), text.end(), test);
}

}  // namespace qelhost
