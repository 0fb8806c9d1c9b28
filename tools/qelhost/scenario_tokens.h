// The scenario scanner: one line into its words, and words as numbers.
//
// Words are separated by blanks. A word in double quotes may hold blanks and
// may be empty. A '#' at the start of a word begins a comment that runs to
// the end of the line (write an address that begins with '#' in quotes, or
// as \#). In every word the text escapes of text_codec.h apply, and $NAME
// (upper-case letters, digits, '_') is replaced by its value from the
// variables (PORT from --port, others from --var NAME=VALUE); an unknown
// $NAME is an error. A word key=value (key in lower case) is an option.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scenario.h"

namespace qelhost {

struct Token {
    std::string text;
    bool quoted = false;
    std::string key;  // "port" of port=COM5; empty for a plain word
    std::string value;
};

// Appends the words of line to *tokens. Returns false with the reason in
// *error for an unclosed quote, a malformed escape or an unknown variable.
bool ScanLine(std::string_view line, const Variables& variables, std::vector<Token>* tokens, std::string* error);

// A variable's name as $NAME writes it: upper-case letters, digits and '_',
// not beginning with a digit.
bool IsVariableName(std::string_view name);

// A word as a number: decimal or 0x hex, at most max.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value);

// A word as a decimal number: an optional '-', digits, and an optional '.'
// with digits after it, such as -3.7.
bool ParseDecimal(std::string_view text, double* value);

// A word as a signed 32-bit number: ParseNumber's forms after an optional '-'.
bool ParseSigned(std::string_view text, int32_t* value);

// "a,b,c" into exactly count numbers of at most max each.
bool ParseList(std::string_view text, size_t count, uint64_t max, std::vector<uint32_t>* values);

}  // namespace qelhost
