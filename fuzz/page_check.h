// What the fuzz targets check of the texts the tools write from a file
// they read: a page holds only its own scripts, and a text for a terminal
// holds no control byte but the line end.
#pragma once

#include <cstddef>
#include <string_view>

// How often `word` (lower case) stands in `text`, in any case: HTML reads
// <SCRIPT as <script.
inline size_t CountNoCase(std::string_view text, std::string_view word) {
    size_t count = 0;
    for (size_t at = 0; at + word.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < word.size() &&
               (text[at + i] >= 'A' && text[at + i] <= 'Z' ? text[at + i] + 32 : text[at + i]) == word[i]) {
            ++i;
        }
        count += i == word.size() ? 1 : 0;
    }
    return count;
}

// No byte that a terminal would act on but the line end and the tab: a
// trace line's ESC or CR shown raw could rewrite what the reader sees.
inline bool TerminalSafe(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F) {
            return false;
        }
    }
    return true;
}
