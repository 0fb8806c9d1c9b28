#include "text_codec.h"

#include <cstdio>

#include "parse.h"
#include "visible.h"

namespace qelhost {

namespace {

// The ASCII names of the control bytes 0x00 to 0x1F; 0x7F is DEL.
constexpr const char* kControlNames[32] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT", "LF",  "VT",  "FF", "CR", "SO", "SI",
    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM", "SUB", "ESC", "FS", "GS", "RS", "US",
};

int HexValue(char c, bool upperOnly) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (!upperOnly && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The byte a "<NAME>" at text[at] stands for and its length, or -1.
int ByteName(std::string_view text, size_t at, size_t& length) {
    if (at >= text.size() || text[at] != '<') {
        return -1;
    }
    // Names are at most three characters: looking no further keeps a line
    // of many '<' linear.
    constexpr size_t kLongestForm = 5;  // "<NUL>"
    size_t close = text.substr(0, at + kLongestForm).find('>', at + 1);
    if (close == std::string_view::npos) {
        return -1;
    }
    std::string_view name = text.substr(at + 1, close - at - 1);
    length = close - at + 1;
    if (name.size() == 2 && HexValue(name[0], true) >= 0 && HexValue(name[1], true) >= 0) {
        return HexValue(name[0], true) * 16 + HexValue(name[1], true);
    }
    for (int byte = 0; byte < 32; ++byte) {
        if (name == kControlNames[byte]) {
            return byte;
        }
    }
    return name == "DEL" ? 0x7F : -1;
}

bool PutByte(int byte, std::string* out, std::string* error) {
    if (byte == 0) {
        return qeltools::Fail(error, "a text cannot hold a NUL byte");
    }
    *out += static_cast<char>(byte);
    return true;
}

}  // namespace

bool StartsByteName(std::string_view text, size_t at) {
    size_t length = 0;
    return ByteName(text, at, length) >= 0;
}

bool DecodeEscape(std::string_view text, size_t* at, std::string* out, std::string* error) {
    if (text[*at] == '<') {
        size_t length = 0;
        int byte = ByteName(text, *at, length);
        if (byte < 0) {
            *out += '<';
            ++*at;
            return true;
        }
        *at += length;
        return PutByte(byte, out, error);
    }
    // A backslash escape.
    if (*at + 1 >= text.size()) {
        return qeltools::Fail(error, "a backslash ends the text");
    }
    char c = text[*at + 1];
    *at += 2;
    switch (c) {
        case '\\':
        case '"':
        case '<':
        case '$':
        case '#':
            *out += c;
            return true;
        case 'r':
            *out += '\r';
            return true;
        case 'n':
            *out += '\n';
            return true;
        case 't':
            *out += '\t';
            return true;
        case 'x': {
            int high = *at < text.size() ? HexValue(text[*at], false) : -1;
            int low = *at + 1 < text.size() ? HexValue(text[*at + 1], false) : -1;
            if (high < 0 || low < 0) {
                return qeltools::Fail(error, "\\x needs two hex digits");
            }
            *at += 2;
            return PutByte(high * 16 + low, out, error);
        }
        default:
            return qeltools::Fail(error, std::string("unknown escape \\") + c);
    }
}

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '<' && StartsByteName(text, i)) {
            out += "\\<";
        } else if (c == '$' && i + 1 < text.size() &&
                   ((text[i + 1] >= 'A' && text[i + 1] <= 'Z') || text[i + 1] == '_')) {
            out += "\\$";
        } else {
            qeltools::AppendVisible(c, out);
        }
    }
    out += '"';
    return out;
}

std::string HexBytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", c);
        if (!out.empty()) {
            out += ' ';
        }
        out += hex;
    }
    return out;
}

}  // namespace qelhost
