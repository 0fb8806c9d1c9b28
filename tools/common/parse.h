// What both tools' parsers share: the error convention (a parser returns
// false and says why in a std::string* out-parameter), blank trimming and
// bounded unsigned numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qeltools {

// Sets *error and returns false, so a refusal is one line: return Fail(...).
inline bool Fail(std::string* error, std::string message) {
    *error = std::move(message);
    return false;
}

// The text without blanks, tabs, CRs and LFs at either end.
inline std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

enum class Radix {
    kDecimal,       // digits only
    kDecimalOrHex,  // digits, or "0x" / "0X" and hex digits of either case
};

// A number of digits only (no sign, no blanks) of at most max. On false
// *value is left as it was.
inline bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* value, Radix radix = Radix::kDecimal) {
    uint64_t base = 10;
    if (radix == Radix::kDecimalOrHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    uint64_t result = 0;
    for (char c : text) {
        uint64_t digit = base;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A' + 10);
        }
        // Checked before each step, so no length of digits can overflow.
        if (digit >= base || digit > max || result > (max - digit) / base) {
            return false;
        }
        result = result * base + digit;
    }
    *value = result;
    return true;
}

}  // namespace qeltools
