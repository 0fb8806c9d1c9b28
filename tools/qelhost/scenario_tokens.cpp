// The scenario scanner: quotes, escapes, variables, key=value options, numbers.
#include "scenario_tokens.h"

#include <cstdlib>

#include "parse.h"
#include "text_codec.h"

namespace qelhost {

namespace {

bool IsKeyChar(char c, bool first) {
    return (c >= 'a' && c <= 'z') || (!first && ((c >= '0' && c <= '9') || c == '_'));
}

bool IsVariableChar(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || c == '_' || (!first && c >= '0' && c <= '9');
}

// $NAME at line[*at] into out; a '$' that starts no name stands as itself.
bool Substitute(std::string_view line, size_t* at, const Variables& variables, std::string* out, std::string* error) {
    size_t end = *at + 1;
    while (end < line.size() && IsVariableChar(line[end], end == *at + 1)) {
        ++end;
    }
    if (end == *at + 1) {
        *out += '$';
        ++*at;
        return true;
    }
    std::string_view name = line.substr(*at + 1, end - *at - 1);
    auto found = variables.find(name);
    if (found == variables.end()) {
        return qeltools::Fail(
            error, "unknown variable $" + std::string(name) +
                       (name == "PORT" ? " (give it with --port NAME)" : " (give it with --var NAME=VALUE)"));
    }
    *out += found->second;
    *at = end;
    return true;
}

// One character of a word: an escape, a variable or itself.
bool TakeCharacter(std::string_view line, size_t* at, const Variables& variables, std::string* out,
                   std::string* error) {
    char c = line[*at];
    if (c == '\\' || c == '<') {
        return DecodeEscape(line, at, out, error);
    }
    if (c == '$') {
        return Substitute(line, at, variables, out, error);
    }
    *out += c;
    ++*at;
    return true;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool ScanLine(std::string_view line, const Variables& variables, std::vector<Token>* tokens, std::string* error) {
    size_t at = 0;
    while (true) {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        if (at >= line.size() || line[at] == '#') {
            return true;
        }
        Token token;
        bool plain = true;  // nothing but key characters so far: may still become key=
        while (at < line.size() && !IsBlank(line[at])) {
            char c = line[at];
            if (c == '"') {
                plain = false;
                token.quoted = true;
                ++at;
                while (at < line.size() && line[at] != '"') {
                    if (!TakeCharacter(line, &at, variables, &token.text, error)) {
                        return false;
                    }
                }
                if (at >= line.size()) {
                    return qeltools::Fail(error, "a quoted text is not closed");
                }
                ++at;
            } else if (c == '=' && plain && token.key.empty() && !token.text.empty()) {
                token.key = token.text;
                token.text += '=';
                ++at;
                plain = false;
            } else {
                plain = plain && IsKeyChar(c, token.text.empty());
                if (!TakeCharacter(line, &at, variables, &token.text, error)) {
                    return false;
                }
            }
        }
        if (!token.key.empty()) {
            token.value = token.text.substr(token.key.size() + 1);
        }
        tokens->push_back(std::move(token));
    }
}

bool IsVariableName(std::string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        if (!IsVariableChar(name[i], i == 0)) {
            return false;
        }
    }
    return !name.empty();
}

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
    return qeltools::ParseUnsigned(text, max, value, qeltools::Radix::kDecimalOrHex);
}

bool ParseDecimal(std::string_view text, double* value) {
    constexpr size_t kLongest = 40;  // ample for any value a host gate holds
    size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
    const auto digits = [&text, &at] {
        size_t begin = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        return at > begin;
    };
    if (text.size() > kLongest || !digits() || (at < text.size() && (text[at++] != '.' || !digits())) ||
        at != text.size()) {
        return false;
    }
    *value = std::strtod(std::string(text).c_str(), nullptr);
    return true;
}

bool ParseSigned(std::string_view text, int32_t* value) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!ParseNumber(negative ? text.substr(1) : text, negative ? 0x80000000ULL : 0x7FFFFFFFULL, &magnitude)) {
        return false;
    }
    *value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

// "a,b,c" into exactly count numbers of at most max each.
bool ParseList(std::string_view text, size_t count, uint64_t max, std::vector<uint32_t>* values) {
    values->clear();
    while (true) {
        size_t comma = text.find(',');
        uint64_t value = 0;
        if (!ParseNumber(text.substr(0, comma), max, &value)) {
            return false;
        }
        values->push_back(static_cast<uint32_t>(value));
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return values->size() == count;
}

}  // namespace qelhost
