#include "json_writer.h"

namespace qeltools {

size_t Utf8Length(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    const unsigned lead = byte(at);
    const auto follows = [&](size_t i, unsigned low = 0x80, unsigned high = 0xBF) {
        return byte(i) >= low && byte(i) <= high;
    };
    if (lead >= 0xC2 && lead <= 0xDF) {
        return follows(at + 1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;
        return follows(at + 1, low, high) && follows(at + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
        return follows(at + 1, low, high) && follows(at + 2) && follows(at + 3) ? 4 : 0;
    }
    return 0;
}

void AppendJsonString(std::string& out, std::string_view bytes, bool inPage) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t at = 0; at < bytes.size();) {
        const char c = bytes[at];
        const auto code = static_cast<unsigned char>(c);
        if (code >= 0x80) {
            const size_t length = Utf8Length(bytes, at);
            if (length > 0) {
                out.append(bytes.substr(at, length));
                at += length;
                continue;
            }
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (code < 0x20 || code >= 0x7F || (inPage && (c == '<' || c == '>' || c == '&'))) {
            // A byte that is no UTF-8 stands for the code point of its value.
            out += "\\u00";
            out += kHex[code >> 4];
            out += kHex[code & 0xF];
        } else {
            out += c;
        }
        ++at;
    }
    out += '"';
}

void JsonWriter::Separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_) {
        out_ << ',';
    }
    first_ = false;
}

JsonWriter& JsonWriter::Begin(char bracket) {
    Separate();
    out_ << bracket;
    first_ = true;
    return *this;
}

JsonWriter& JsonWriter::End(char bracket) {
    out_ << bracket;
    first_ = false;
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
    Separate();
    std::string quoted;
    AppendJsonString(quoted, key, inPage_);
    out_ << quoted << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    Separate();
    std::string quoted;
    AppendJsonString(quoted, text, inPage_);
    out_ << quoted;
    return *this;
}

JsonWriter& JsonWriter::StringOrNull(const std::optional<std::string>& text) {
    return text.has_value() ? String(*text) : Null();
}

JsonWriter& JsonWriter::Number(int64_t value) {
    Separate();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Number(uint64_t value) {
    Separate();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    Separate();
    out_ << (value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::BoolOrNull(std::optional<bool> value) {
    return value.has_value() ? Bool(*value) : Null();
}

JsonWriter& JsonWriter::Null() {
    Separate();
    out_ << "null";
    return *this;
}

}  // namespace qeltools
