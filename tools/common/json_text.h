// JSON strings of the tools' texts, for qelhost's --json lines and
// qeltrace's JSON and page. Header only, as the other shared helpers.
#pragma once

#include <string>
#include <string_view>

namespace qeltools {

// The bytes as one JSON string, quotes included: quote and backslash
// escaped, LF as \n, any other control byte and every byte above 0x7E as
// \u00XX (the texts are bytes, not UTF-8). With `inPage`, <, > and & are
// escaped too, so that the string can stand inside a page's script.
inline void AppendJsonString(std::string& out, std::string_view bytes, bool inPage = false) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (char c : bytes) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (code < 0x20 || code > 0x7E || (inPage && (c == '<' || c == '>' || c == '&'))) {
            out += "\\u00";
            out += kHex[code >> 4];
            out += kHex[code & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace qeltools
